#!/usr/bin/env bash
# install-deps.sh: install, on Debian 12 as root, what the native build, the fuzzers, the benchmarks,
# the MinGW-w64 cross build, the headless Wine tests, the page with its npm package and the release
# packages need. Packages
# already installed are skipped; when everything is in place the script only checks (well under a
# second) and changes nothing.
#
#   tools/install-deps.sh            install what is missing
#   tools/install-deps.sh --dry-run  only print what would be done
set -euo pipefail

DRY_RUN=0
case "${1:-}" in
"") ;;
--dry-run | -n) DRY_RUN=1 ;;
*)
    echo "usage: $0 [--dry-run]" >&2
    exit 2
    ;;
esac

# Native build: CMake, GCC, GoogleTest (sources in /usr/src/googletest, also used by the cross build),
# clang-format for the format check.
NATIVE=(cmake make g++ googletest libgtest-dev libbenchmark-dev python3 clang-format git)
# Releases (tools/release.sh, tools/check-release.sh): the Debian package's dependencies
# (dpkg-shlibdeps), the man page's check and display, unpacking the zips.
RELEASE=(dpkg-dev groff-base man-db unzip)
# Fuzzing, sanitizer and leak checks: clang with libFuzzer and the sanitizer runtimes, valgrind.
FUZZ=(clang libclang-rt-14-dev valgrind)
# Benchmarks beside other MIDI file loaders, and measurement tools.
PEERS=(libsmf-dev libportsmf-dev python3-mido pkg-config time)
# Cross build: both MinGW-w64 targets. The -posix compilers are the ones the toolchain file uses:
# GoogleTest needs std::mutex, which Debian's default (-win32 thread model) GCC 12 does not have.
CROSS=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)
# The page and the npm package (tools/build-web.sh and its tests): emscripten for the WebAssembly
# module (it brings Debian's node), Chromium for the page's tests in a real browser.
WEB=(emscripten chromium)
# Tests under Wine without a screen: Wine (32-bit loader from the i386 architecture), a virtual
# X server, input and window tools, screenshots, a Japanese font and the Japanese locale.
WINE=(wine wine32:i386 wine64 xvfb xauth xdotool x11-utils imagemagick fonts-ipafont-gothic fonts-wine locales)

say() { printf 'install-deps: %s\n' "$*"; }
run() {
    say "+ $*"
    [[ "$DRY_RUN" == 1 ]] || "$@"
}

if [[ "$(id -u)" != 0 && "$DRY_RUN" == 0 ]]; then
    say "must run as root (or try --dry-run)" >&2
    exit 1
fi
if [[ -r /etc/debian_version ]]; then
    case "$(cat /etc/debian_version)" in
    12* | bookworm*) ;;
    *) say "warning: written for Debian 12, this is Debian $(cat /etc/debian_version)" ;;
    esac
else
    say "warning: not a Debian system; apt-get may not work"
fi
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    run dpkg --add-architecture i386
    need_update=1
fi

missing=()
for pkg in "${NATIVE[@]}" "${RELEASE[@]}" "${FUZZ[@]}" "${PEERS[@]}" "${CROSS[@]}" "${WINE[@]}" "${WEB[@]}"; do
    if installed "$pkg"; then
        say "have $pkg"
    else
        missing+=("$pkg")
    fi
done
# A node installed from elsewhere (NodeSource's, say) brings its own npm, which Debian's npm
# package would conflict with: only a missing command is installed.
if command -v npm >/dev/null; then
    say "have npm $(npm --version)"
else
    missing+=(npm)
fi

if ((${#missing[@]} > 0)); then
    say "missing: ${missing[*]}"
    run apt-get update
    need_update=0
    run apt-get install -y --no-install-recommends "${missing[@]}"
elif [[ "$need_update" == 1 ]]; then
    run apt-get update
fi

# Wine takes ANSI code page 932 from LANG=ja_JP.UTF-8, which needs the locale to be generated.
if locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
    say "have locale ja_JP.UTF-8"
else
    if grep -qE '^[#[:space:]]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        run sed -i -E 's/^[#[:space:]]*(ja_JP\.UTF-8 UTF-8)/\1/' /etc/locale.gen
    else
        say "+ echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen"
        [[ "$DRY_RUN" == 1 ]] || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    fi
    run locale-gen
fi

# The page's build and test tools (esbuild, fflate, playwright-core), exactly as web/package-lock.json
# pins them; npm ci only when the lockfile is newer than what it last installed.
web=$(cd "$(dirname "$0")/../web" && pwd)
if [[ "$web/node_modules/.package-lock.json" -nt "$web/package-lock.json" ]]; then
    say "have the npm packages of web/package-lock.json"
else
    run npm ci --prefix "$web" --no-audit --no-fund
fi

say "done"
