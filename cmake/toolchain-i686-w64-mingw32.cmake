# Cross build of the Windows program and its tests with MinGW-w64, 32-bit (the primary target):
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TONFLUX_MINGW_TRIPLE i686-w64-mingw32)
set(TONFLUX_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
