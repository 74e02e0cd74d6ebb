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
echo
echo "==== build the Windows program tonflux.exe (build/win32, 32-bit) ===="
cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
cmake --build build/win32 -j"$(nproc)" --target tonflux
cat <<'TEXT'

build/win32/tonflux.exe is the Windows program (with tonflux.html, its help, beside it).
On Windows: copy both files into one folder and start tonflux.exe.
On Linux, under Wine, in the Japanese locale it needs (code page 932):

    tools/wine-env.sh run wine build/win32/tonflux.exe

This opens the window on your desktop ($DISPLAY); without a desktop it runs on a virtual screen
(Xvfb). `tools/blackbox.sh` drives it there from start to end and takes screenshots.
TEXT
