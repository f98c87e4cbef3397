# Cross build for 32-bit Windows (x86) with the mingw-w64 toolchain (Debian:
# g++-mingw-w64-i686-win32 or mingw-w64, and mingw-w64-tools for widl).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRIX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Doubles in SSE2 registers, as on x64: the same rounding of every operation
# (x87 registers would keep intermediates in extended precision), so both
# DLLs answer alike. Every x86 processor Windows still runs on has SSE2.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
