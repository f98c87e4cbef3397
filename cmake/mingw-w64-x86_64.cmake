# Cross build for 64-bit Windows with the mingw-w64 toolchain (Debian:
# g++-mingw-w64-x86-64-win32 or mingw-w64, and mingw-w64-tools for widl).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${KESTRIX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KESTRIX_MINGW_PREFIX}-windres)

# Libraries and headers come from the toolchain's root, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
