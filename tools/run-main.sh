#!/usr/bin/env bash
# run-main.sh: the main job on a fresh Debian 12 machine (as root): install what the build needs,
# build the command-line converter, convert the bundled sample song and dump the result.
#
#   bash tools/run-main.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ "$(id -u)" == 0 ]]; then
    bash tools/install-deps.sh >build-deps.log 2>&1 || { cat build-deps.log; exit 1; }
    rm -f build-deps.log
fi

echo "==== build tonflux-convert (build/native-main) ===="
cmake -S . -B build/native-main -DCMAKE_BUILD_TYPE=Release -DTONFLUX_BUILD_TESTS=OFF >/dev/null
cmake --build build/native-main -j"$(nproc)" --target tonflux-convert
convert=$root/build/native-main/cli/tonflux-convert

echo
echo "==== convert samples/sample.mid (made by tools/make-sample.py) ===="
mkdir -p build/main-output
"$convert" --force --output-dir build/main-output samples/sample.mid

echo
echo "==== dump build/main-output/sample.mds ===="
"$convert" --dump build/main-output/sample.mds

# ---- The Windows program under Wine (added by the Windows build) ----
