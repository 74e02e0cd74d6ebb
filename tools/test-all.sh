#!/usr/bin/env bash
# test-all.sh: set up a fresh Debian 12 machine (as root) and build and run every test.
# Each stage is a ctest run of its own build tree under build/; the last line is ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

if [[ "$(id -u)" == 0 ]]; then
    bash tools/install-deps.sh >build-deps.log 2>&1 || { cat build-deps.log; exit 1; }
    rm -f build-deps.log
fi

stage() { printf '\n==== %s ====\n' "$*"; }

stage "native build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DTONFLUX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/native -j"$jobs"
(cd build/native && ctest --output-on-failure -j"$jobs")

# The Windows program and its tests, cross-built with MinGW-w64; ctest runs every test executable
# under Wine (CMAKE_CROSSCOMPILING_EMULATOR, tools/wine-env.sh): the primary 32-bit build, then
# the 64-bit one. The core tests run there too, for coverage of the 32-bit build. Each build tree
# gets a Wine environment of its own, stopped afterwards, so runs in other trees are left alone.
for arch in win32:i686 win64:x86_64; do
    dir="build/${arch%%:*}"
    stage "Windows ${arch%%:*} cross build and tests under Wine"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-${arch##*:}-w64-mingw32.cmake" >/dev/null
    cmake --build "$dir" -j"$jobs"
    export WINE_ENV_BASE="$root/$dir/wine-env"
    status=0
    (cd "$dir" && ctest --output-on-failure -j"$jobs") || status=$?
    tools/wine-env.sh stop >/dev/null 2>&1 || true
    unset WINE_ENV_BASE
    [[ "$status" == 0 ]] || exit "$status"
done
