#!/usr/bin/env bash
# release.sh: build the packages of a release and write them, with their checksums, into dist/:
#   tonflux-<version>-win32.zip    tonflux.exe, tonflux.html, tonflux-convert.exe, README.txt and
#   tonflux-<version>-win64.zip    LICENSE.txt in one folder, 32-bit and 64-bit
#   tonflux-convert_<version>_amd64.deb                    the Linux command-line converter
#   tonflux-convert-<version>-linux-x86_64.tar.gz           the same, to unpack anywhere
#   tonflux-web-<version>.zip      the page: index.html and its files, to open or serve
#   tonflux-<version>.tgz          the npm package (npm pack)
#   SHA256SUMS
#
#   tools/release.sh [--build-root DIR] [--dist DIR]
#
# The build trees are DIR/win32, DIR/win64, DIR/native and DIR/wasm, with the page and the package
# bundled in DIR/web (default DIR: build, the trees that tools/test-all.sh tests; an existing tree
# is reused, only the packaged programs are built).
# The same commit gives byte-identical packages: every time in them is the commit's date
# (SOURCE_DATE_EPOCH, unless set already), the programs carry no link time, and names, order and
# modes do not depend on the machine's locale, time zone or umask.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_root=build
dist=dist
while [[ $# -gt 0 ]]; do
    case "$1" in
    --build-root) build_root="${2:?--build-root needs a folder}"; shift 2 ;;
    --dist) dist="${2:?--dist needs a folder}"; shift 2 ;;
    *) echo "usage: $0 [--build-root DIR] [--dist DIR]" >&2; exit 2 ;;
    esac
done

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || {
        echo "release: not a git checkout; set SOURCE_DATE_EPOCH to the release's time" >&2
        exit 1
    }
    [[ -z "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]] ||
        echo "release: warning: the working tree has changes that are not committed" >&2
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

say() { printf '\n==== release: %s ====\n' "$*"; }
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
rm -f "$dist"/tonflux-* "$dist/SHA256SUMS"

for tree in win32:i686 win64:x86_64 native; do
    name=${tree%%:*}
    dir="$build_root/$name"
    args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
    targets=(tonflux-convert)
    if [[ "$tree" == *:* ]]; then
        args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-${tree##*:}-w64-mingw32.cmake")
        targets+=(tonflux windows_texts)
    fi
    say "$name: build $dir"
    cmake -S . -B "$dir" "${args[@]}" >/dev/null
    cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
    say "$name: pack"
    rm -rf "$dir/packages"
    (cd "$dir" && cpack -B "$PWD/packages")
    find "$dir/packages" -maxdepth 1 -type f \( -name '*.zip' -o -name '*.deb' -o -name '*.tar.gz' \) \
        -exec cp {} "$dist/" \;
done

say "web: the page and the npm package"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_root/native/CMakeCache.txt")
bash tools/build-web.sh --native "$build_root/native" --wasm "$build_root/wasm" --out "$build_root/web"
python3 tools/pack-archive.py zip "$build_root/web/page" "tonflux-web-$version" \
    "$dist/tonflux-web-$version.zip"
# npm pack dates every entry 1985-10-26 and sorts them: the same files give the same bytes.
npm pack "$build_root/web/package" --pack-destination "$dist" --loglevel=warn >/dev/null

say "checksums"
(cd "$dist" && find . -maxdepth 1 -type f -name 'tonflux*' -printf '%f\n' | sort |
    xargs sha256sum >SHA256SUMS && cat SHA256SUMS)
echo "release: packages in $dist"
