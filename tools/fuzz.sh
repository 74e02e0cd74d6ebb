#!/usr/bin/env bash
# fuzz.sh: build the libFuzzer targets (clang, ASan + UBSan) and run each for a given time.
#
#   tools/fuzz.sh [-t SECONDS] [-d BUILD_DIR] [TARGET...]
#
# Targets run one after another (default: all of them), each for SECONDS (default 600), from the
# generated seeds, the inputs in tests/data/fuzz and the corpus grown by earlier runs
# (BUILD_DIR/corpus-TARGET, kept between runs). A finding (crash, hang, leak, sanitizer report,
# out-of-memory) stops the run with its input in BUILD_DIR/findings/; once it is fixed, copy the
# input into tests/data/fuzz so the regression tests replay it. The last line of each run gives
# its executions and seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=600
build=build/fuzz
while getopts "t:d:h" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    d) build=$OPTARG ;;
    *)
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTONFLUX_BUILD_TESTS=OFF -DTONFLUX_BUILD_FUZZERS=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
python3 tools/make-fuzz-seeds.py "$build/tests/fuzz/seeds" >/dev/null

targets=("$@")
if ((${#targets[@]} == 0)); then
    mapfile -t targets < <(find "$build/tests/fuzz" -maxdepth 1 -name 'Fuzz*' -type f -executable \
        -printf '%f\n' | sort)
fi

mkdir -p "$build/findings"
status=0
for target in "${targets[@]}"; do
    corpus=$build/corpus-$target
    log=$build/findings/$target.log
    mkdir -p "$corpus"
    printf 'fuzz: %s for %ss (log: %s)\n' "$target" "$seconds" "$log"
    # Leaks count as findings; -rss_limit_mb and -malloc_limit_mb turn an allocation that grows
    # with a length the file only claims into a finding too.
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        nice "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -malloc_limit_mb=64 -max_len=16384 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" \
        "$corpus" "$build/tests/fuzz/seeds" "$root/tests/data/fuzz" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $target: no finding, $runs executions in ${seconds}s"
    else
        status=1
        echo "fuzz: $target: FINDING, see $log and $build/findings/$target-*"
        grep -m3 -E 'ERROR|fuzz check failed|runtime error' "$log" || true
    fi
done
exit $status
