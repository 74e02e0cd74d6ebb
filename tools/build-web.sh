#!/usr/bin/env bash
# build-web.sh: builds the page and the npm package into build/web/: the WebAssembly module (an
# emscripten tree, build/wasm), the converter's texts (written by a program of the native tree),
# and the bundles (web/build.mjs, with the npm tools of web/package-lock.json).
#
#   tools/build-web.sh [--native DIR] [--wasm DIR] [--out DIR]
#
# build/web/page/ is the page (open index.html), build/web/package/ the package's files; then
# `cd build/wasm && ctest` runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."
native=build/native
wasm=build/wasm
out=build/web
while (($#)); do
    case "$1" in
    --native) native=$2 ;;
    --wasm) wasm=$2 ;;
    --out) out=$2 ;;
    *)
        echo "usage: $0 [--native DIR] [--wasm DIR] [--out DIR]" >&2
        exit 2
        ;;
    esac
    shift 2
done
jobs=${JOBS:-$(nproc)}
# emscripten runs its optimizer with the node on PATH, which finds Debian's JavaScript modules
# (acorn and the like) only through NODE_PATH when it is not Debian's own node.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
version=$(sed -n 's/^project(Tonflux VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

[[ -f "$native/CMakeCache.txt" ]] || cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j"$jobs" --target tonflux_web_texts tonflux-convert
# The tests in the WebAssembly tree compare with the native tree's tonflux-convert.
emcmake cmake -S . -B "$wasm" -DCMAKE_BUILD_TYPE=Release -DTONFLUX_NATIVE_DIR="$(realpath "$native")" \
    -DTONFLUX_WEB_DIR="$(realpath -m "$out")" >/dev/null
cmake --build "$wasm" -j"$jobs" --target tonflux_wasm

mkdir -p "$out"
"$native/web/tonflux_web_texts" "$out/texts.json"
# The npm tools, exactly as the lockfile pins them; again only when the lockfile changed.
if [[ ! web/node_modules/.package-lock.json -nt web/package-lock.json ]]; then
    (cd web && npm ci --no-audit --no-fund)
fi
node web/build.mjs --wasm "$wasm/web/tonflux.wasm" --texts "$out/texts.json" --version "$version" \
    --out "$out"
echo "build-web: $out/page/index.html and the package in $out/package/"
