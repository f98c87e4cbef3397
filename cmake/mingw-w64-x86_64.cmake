# Cross build for 64-bit Windows with the mingw-w64 toolchain (Debian:
# g++-mingw-w64-x86-64-win32 or mingw-w64, and mingw-w64-tools for widl).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRIX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
