# Cross build of the Windows program and its tests with MinGW-w64:
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
# The -posix compilers: GoogleTest needs std::mutex, which the win32 thread model lacks.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Fully static: the program then imports only DLLs that every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# 64-bit programs need a win64 prefix; wine-env.sh keeps it apart from the 32-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR "/usr/bin/env;WINE_ENV_ARCH=win64;${CMAKE_CURRENT_LIST_DIR}/../tools/wine-env.sh;run;wine")
