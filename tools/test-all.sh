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
