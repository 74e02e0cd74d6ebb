# What both MinGW-w64 toolchain files share; they set TONFLUX_MINGW_TRIPLE and the processor,
# and TONFLUX_WINE_ARCH for the Wine prefix their tests run in.
set(CMAKE_SYSTEM_NAME Windows)
# The -posix compilers: GoogleTest needs std::mutex, which the win32 thread model lacks.
set(CMAKE_C_COMPILER ${TONFLUX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TONFLUX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TONFLUX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TONFLUX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Fully static: the program then imports only DLLs that every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run under Wine in a headless Japanese (code page 932) environment (tools/wine-env.sh),
# each architecture in a prefix of its own; tools/wine-gtest.sh judges each test program's run.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "/usr/bin/env;WINE_ENV_ARCH=${TONFLUX_WINE_ARCH};${CMAKE_CURRENT_LIST_DIR}/../tools/wine-gtest.sh")
