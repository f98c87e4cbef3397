# What both mingw-w64 cross builds share; the toolchain file of each
# architecture sets CMAKE_SYSTEM_PROCESSOR and KESTRIX_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_CXX_COMPILER ${KESTRIX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KESTRIX_MINGW_PREFIX}-windres)

# Libraries and headers come from the toolchain's root, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
