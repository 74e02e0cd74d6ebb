#!/usr/bin/env bash
# CliOutOfMemoryTest.sh: tonflux-convert under address-space limits (ulimit -v) from too small
# to hold the file up to enough for the whole conversion, a little more than the file itself. At every limit it must either write
# exactly the file of an unlimited run, or print the system's text for running out of memory,
# exit 1 and leave no file at all behind (no output, no temporary file): never crash.
#
#   tests/CliOutOfMemoryTest.sh TONFLUX_CONVERT WORK_DIR
set -euo pipefail
convert=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

# 8 MB of the densest events (two bytes each) in one track, and the same notes spread over 200
# tracks of a format 1 file, so the limit strikes in the reading, the merge and the encoding.
python3 - "$work" <<'EOF'
import struct, sys
work = sys.argv[1]
EOT = b"\x00\xff\x2f\x00"
def smf(fmt, tracks):
    return (b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), 96) +
            b"".join(b"MTrk" + struct.pack(">I", len(t)) + t for t in tracks))
pairs = bytes(j % 2 * (j // 2) for j in range(256))
with open(work + "/dense.mid", "wb") as f:
    f.write(smf(0, [b"\x00\xc0\x00" + pairs * (1 << 15) + EOT]))
with open(work + "/tracks.mid", "wb") as f:
    f.write(smf(1, [b"\x00" + bytes([0x90 | t % 16]) + b"\x3c\x40" + b"\x01\x3d\x40" * 10000 + EOT
                    for t in range(200)]))
EOF

export LC_ALL=C
enomem=$(python3 -c 'import os; print(os.strerror(12))')
failures=0
for input in dense tracks; do
    mkdir -p "$work/$input"
    "$convert" -q -j 1 -o "$work/$input.expected.mds" "$work/$input.mid"
    size_kb=$(($(stat -c %s "$work/$input.mid") / 1024))
    converted=0 refused=0
    # From a limit the program hardly starts with (about 8 MB) up to 4 times the file's size.
    for step in 0 1 2 3 4 5 6 7 8 9 10 11 12 14 16 18 20 24 32; do
        limit=$((10 * 1024 + step * size_kb / 8))
        dir=$work/$input/$step
        mkdir -p "$dir"
        set +e
        (ulimit -v "$limit" && exec "$convert" -q -j 1 -o "$dir/out.mds" "$work/$input.mid") \
            >"$dir/stdout" 2>"$dir/stderr"
        code=$?
        set -e
        left=$(find "$dir" -mindepth 1 ! -name stdout ! -name stderr | wc -l)
        if [[ $code == 0 ]] && cmp -s "$dir/out.mds" "$work/$input.expected.mds"; then
            converted=$((converted + 1))
        elif [[ $code == 1 && $left == 0 ]] && grep -qF "$enomem" "$dir/stderr" &&
            grep -qF "$input.mid" "$dir/stderr"; then
            refused=$((refused + 1))
        else
            echo "FAIL: $input.mid under ulimit -v $limit: exit $code, $left files left:"
            cat "$dir/stderr"
            failures=$((failures + 1))
        fi
    done
    echo "$input.mid: converted identically under $converted limits, refused for lack of memory under $refused"
    # Both outcomes must have been seen, or the limits above missed the conversion's range.
    if ((converted == 0 || refused == 0)); then
        echo "FAIL: $input.mid: the limits did not span running out of memory and converting"
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
