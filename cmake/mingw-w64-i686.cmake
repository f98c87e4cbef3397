# Cross build for 32-bit Windows (x86) with the mingw-w64 toolchain (Debian:
# g++-mingw-w64-i686-win32 or mingw-w64, and mingw-w64-tools for widl).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KESTRIX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_CXX_COMPILER ${KESTRIX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KESTRIX_MINGW_PREFIX}-windres)

# Libraries and headers come from the toolchain's root, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles in SSE2 registers, as on x64: the same rounding of every operation
# (x87 registers would keep intermediates in extended precision), so both
# DLLs answer alike. Every x86 processor Windows still runs on has SSE2.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
