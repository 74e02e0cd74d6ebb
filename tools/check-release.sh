#!/usr/bin/env bash
# check-release.sh: make the release as tools/release.sh does and check what a user gets from it.
# The last stage of tools/test-all.sh; it reuses the build trees the stages before it tested
# (build/native, build/win32, build/win64; the black-box helpers come from build/win32).
#
#   tools/check-release.sh
#
#   1. tools/release.sh writes the six packages and SHA256SUMS into dist/, and each Windows zip
#      holds exactly the files of a Windows release;
#   2. the programs of the win32 zip are large-address-aware and, unpacked into a fresh folder,
#      pass the black-box run under Wine there;
#   3. the .deb holds exactly the files of the command-line converter (dpkg-deb -c);
#   4. `cmake --install` into a DESTDIR gives a tonflux-convert that converts the sample as the
#      build's own does and says the project's version;
#   5. the page, unpacked from its zip, converts dropped files in Chromium as tonflux-convert does,
#      and the npm package, installed from its tarball, converts the sample as tonflux-convert does;
#   6. a second release, from fresh build trees elsewhere, gives the same SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=build/release-check
passed=0
finished=0
step() { printf '\n==== check-release: %s ====\n' "$*"; }
ok() {
    echo "check-release: ok: $*"
    passed=$((passed + 1))
}
fail() {
    echo "check-release: FAILED: $*" >&2
    exit 1
}
# The last line is the summary that CI reads, also when a command fails on the way.
summary() { ((finished)) || echo "$passed passed, 1 failed"; }
trap summary EXIT
rm -rf "$work"
mkdir -p "$work"

step "1. tools/release.sh"
bash tools/release.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
expected="SHA256SUMS
tonflux-$version-win32.zip
tonflux-$version-win64.zip
tonflux-convert-$version-linux-x86_64.tar.gz
tonflux-convert_${version}_amd64.deb
tonflux-web-$version.zip
tonflux-$version.tgz"
[[ "$(ls dist | sort)" == "$(sort <<<"$expected")" ]] || fail "dist/ holds: $(ls dist)"
for arch in win32 win64; do
    top=tonflux-$version-$arch
    listed=$(unzip -Z1 "dist/$top.zip")
    [[ "$listed" == "$top/
$top/LICENSE.txt
$top/README.txt
$top/tonflux-convert.exe
$top/tonflux.exe
$top/tonflux.html" ]] || fail "$top.zip holds: $listed"
done
ok "dist/ holds the packages and their checksums; each zip a Windows release"

step "2. the program of the win32 zip, unpacked, under Wine"
unzip -q "dist/tonflux-$version-win32.zip" -d "$work/unpacked"
cmake --build build/win32 -j"$(nproc)" --target blackbox_dropfile blackbox_peekbox >/dev/null
for exe in tonflux.exe tonflux-convert.exe; do
    i686-w64-mingw32-objdump -p "$work/unpacked/tonflux-$version-win32/$exe" |
        grep 'large address aware' >/dev/null || fail "$exe is not large-address-aware"
done
bash tools/blackbox.sh build/win32 --program "$work/unpacked/tonflux-$version-win32" ||
    fail "the black-box run of the unpacked program"
ok "the unpacked tonflux.exe and tonflux-convert.exe, large-address-aware, pass the black-box run"

step "3. the Debian package's files"
files=$(dpkg-deb -c "dist/tonflux-convert_${version}_amd64.deb" | awk '{ print $1, $NF }')
[[ "$files" == "drwxr-xr-x ./usr/
drwxr-xr-x ./usr/bin/
-rwxr-xr-x ./usr/bin/tonflux-convert
drwxr-xr-x ./usr/share/
drwxr-xr-x ./usr/share/bash-completion/
drwxr-xr-x ./usr/share/bash-completion/completions/
-rw-r--r-- ./usr/share/bash-completion/completions/tonflux-convert
drwxr-xr-x ./usr/share/doc/
drwxr-xr-x ./usr/share/doc/tonflux-convert/
-rw-r--r-- ./usr/share/doc/tonflux-convert/LICENSE
-rw-r--r-- ./usr/share/doc/tonflux-convert/README.md
drwxr-xr-x ./usr/share/man/
drwxr-xr-x ./usr/share/man/man1/
-rw-r--r-- ./usr/share/man/man1/tonflux-convert.1" ]] || fail "the .deb holds: $files"
ok "dpkg-deb -c lists the converter, its man page, completion, README and LICENSE"

step "4. cmake --install into a DESTDIR"
DESTDIR="$root/$work/destdir" cmake --install build/native --prefix /usr/local >/dev/null
installed="$work/destdir/usr/local/bin/tonflux-convert"
[[ "$("$installed" --version | head -n1)" == "tonflux-convert $version" ]] ||
    fail "the installed program says: $("$installed" --version)"
"$installed" -q -o "$work/installed.mds" samples/sample.mid || fail "the installed program failed"
build/native/cli/tonflux-convert -q -o "$work/built.mds" samples/sample.mid
cmp "$work/installed.mds" "$work/built.mds" || fail "the installed program converts differently"
for f in share/man/man1/tonflux-convert.1 share/bash-completion/completions/tonflux-convert \
    share/doc/tonflux-convert/README.md share/doc/tonflux-convert/LICENSE; do
    [[ -s "$work/destdir/usr/local/$f" ]] || fail "not installed: $f"
done
ok "the installed tonflux-convert $version converts the sample; its files are in place"

step "5. the page's zip and the npm package, as a user takes them"
listed=$(unzip -Z1 "dist/tonflux-web-$version.zip")
[[ "$listed" == "tonflux-web-$version/
tonflux-web-$version/LICENSE.txt
tonflux-web-$version/index.html
tonflux-web-$version/tonflux-page.css
tonflux-web-$version/tonflux-page.js" ]] || fail "tonflux-web-$version.zip holds: $listed"
mkdir -p "$work/web"
unzip -q "dist/tonflux-web-$version.zip" -d "$work/web"
mv "$work/web/tonflux-web-$version" "$work/web/page"
TONFLUX_WEB="$root/$work/web" TONFLUX_WEB_INPUTS="$root/build/wasm/web-inputs" \
    node --test --test-name-pattern='dropped' tests/web/page.test.mjs >"$work/web.log" 2>&1 ||
    { cat "$work/web.log"; fail "the unpacked page in Chromium"; }
mkdir -p "$work/npm-user"
(cd "$work/npm-user" && npm init -y >/dev/null && npm install --no-audit --no-fund --loglevel=error \
    "$root/dist/tonflux-$version.tgz" >/dev/null) || fail "npm install of tonflux-$version.tgz"
(cd "$work/npm-user" && node -e '
    const { convert, version } = require("tonflux");
    const fs = require("fs");
    const result = convert(fs.readFileSync(process.argv[1]), { name: "sample.mid" });
    fs.writeFileSync(process.argv[2], result.bytes);
    if (version !== process.argv[3] || result.outputName !== "sample.mds") process.exit(1);
' "$root/samples/sample.mid" "$root/$work/npm.mds" "$version") || fail "the installed package"
cmp "$work/npm.mds" "$work/built.mds" || fail "the installed package converts differently"
ok "the page, unpacked from its zip, converts in Chromium; the npm package, installed, converts the sample"

step "6. a second release from fresh build trees"
bash tools/release.sh --build-root "$work/trees" --dist "$work/dist"
diff dist/SHA256SUMS "$work/dist/SHA256SUMS" || fail "the second release differs"
ok "the second release is byte for byte the first"

finished=1
echo
echo "$passed passed, 0 failed"
