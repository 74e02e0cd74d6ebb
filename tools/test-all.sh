#!/usr/bin/env bash
# test-all.sh: set up a fresh Debian 12 machine (as root) and build and run every test.
# Each stage is a ctest run of its own build tree under build/, or a script that ends with a line
# "N passed, M failed"; the last line is the release check's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

if [[ "$(id -u)" == 0 ]]; then
    bash tools/install-deps.sh >build-deps.log 2>&1 || { cat build-deps.log; exit 1; }
    rm -f build-deps.log
fi

stage() { printf '\n==== %s ====\n' "$*"; }

stage "format: clang-format on every C and C++ file"
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "every file follows .clang-format"

stage "native build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DTONFLUX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/native -j"$jobs"
(cd build/native && ctest --output-on-failure -j"$jobs")

# The README's promises on random batches, options and faults. The seed is fixed so that a failure
# here repeats with tools/promise-check --seed 19 --round R (the round it names).
stage "promise check: tonflux-convert's promises on random batches"
python3 tools/promise-check --bin build/native/cli/tonflux-convert --seed 19 --rounds 650

# The page and the npm package: the core as WebAssembly (emscripten) with the converter's texts,
# bundled, then tested in Node and in headless Chromium against the native tonflux-convert above.
stage "page and npm package: WebAssembly build, tests in Node and in headless Chromium"
JOBS=$jobs bash tools/build-web.sh
(cd build/wasm && ctest --output-on-failure)

# Every native test again under AddressSanitizer and UBSan, with LeakSanitizer: an over-read of a
# hostile file, an overflowing tick or a leak shows up here even where the result looks right.
# Some sandboxes break LeakSanitizer (it needs ptrace-like access to the process); there the
# sanitizer run goes without it and valgrind checks the native test programs for leaks instead.
stage "sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer, leaks) and tests"
leak_probe() {
    local dir=build/leak-probe
    mkdir -p "$dir"
    printf '#include <cstdlib>\nint main() { void* volatile p = std::malloc(64); p = nullptr; return 0; }\n' \
        >"$dir/leak.cpp"
    c++ -fsanitize=address -g "$dir/leak.cpp" -o "$dir/leak" || return 1
    local report
    report=$(ASAN_OPTIONS=detect_leaks=1 "$dir/leak" 2>&1 || true)
    grep -q 'LeakSanitizer: detected memory leaks' <<<"$report"
}
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONFLUX_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if leak_probe; then
    echo "LeakSanitizer works here: the sanitizer run checks for leaks too"
    (cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")
else
    echo "LeakSanitizer does not work here: valgrind memcheck looks for leaks instead"
    (cd build/sanitize && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j"$jobs")
    find build/native/tests -maxdepth 1 -name '*_tests' -type f -executable -print0 |
        while IFS= read -r -d '' t; do
            valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect \
                --error-exitcode=1 "$t" --gtest_brief=1
        done
fi

# A short libFuzzer run of each fuzz target (clang), so they cannot rot; tools/fuzz.sh runs longer.
stage "fuzzers: a short run of each target"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTONFLUX_BUILD_TESTS=OFF -DTONFLUX_BUILD_FUZZERS=ON \
    -DTONFLUX_FUZZ_SECONDS="${TONFLUX_FUZZ_SECONDS:-60}" >/dev/null
cmake --build build/fuzz -j"$jobs"
(cd build/fuzz && ctest --output-on-failure)

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

# The release, made from the trees tested above, and what a user gets from it: the unpacked
# Windows program under Wine, the Debian package's files, an install into a DESTDIR, and a second
# release from fresh trees that must be the same bytes. Its last line is its summary.
stage "release: tools/release.sh and what its packages give a user"
bash tools/check-release.sh
