# Cross build of the Windows program and its tests with MinGW-w64, 64-bit:
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TONFLUX_MINGW_TRIPLE x86_64-w64-mingw32)
set(TONFLUX_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
