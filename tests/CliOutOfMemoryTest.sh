#!/usr/bin/env bash
# CliOutOfMemoryTest.sh: tonflux-convert under address-space limits (ulimit -v) from too small
# to hold the file up to enough for the whole conversion, a little more than the file itself. At every limit it must either write
# exactly the file of an unlimited run, or print the system's text for running out of memory,
# exit 1 and leave no file at all behind (no output, no temporary file): never crash. The same
# for --dump, and for a batch that wants more threads than the limit leaves room for.
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
# A MIDI stream file of one 4 MB long message, for --dump, which lists every byte of it.
long = bytes(range(256)) * (1 << 14)
def chunk(name, body):
    return name + struct.pack("<I", len(body)) + body
block = struct.pack("<III", 0, 0, 0x80000000 | len(long)) + long
data = struct.pack("<I", 1) + struct.pack("<II", 0, len(block)) + block
body = b"MIDS" + chunk(b"fmt ", struct.pack("<III", 96, len(block), 0)) + chunk(b"data", data)
with open(work + "/long.mds", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
# Many small songs, converted many at once: threads and their memory may not all be had.
import os
os.makedirs(work + "/batch")
for i in range(64):
    with open("%s/batch/s%02d.mid" % (work, i), "wb") as f:
        f.write(smf(0, [b"\x00\x90\x3c\x40" + b"\x01\x3d\x40" * 1000 + EOT]))
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
# Whatever the limit, --dump lists the whole file or says it ran out of memory, naming the file.
"$convert" --dump "$work/long.mds" | md5sum >"$work/long.expected"
size_kb=$(($(stat -c %s "$work/long.mds") / 1024))
listed=0 refused=0
for step in 0 1 2 3 4 6 8 10 12 16; do
    limit=$((24 * 1024 + step * size_kb))
    set +e
    (ulimit -v "$limit" && exec "$convert" --dump "$work/long.mds") 2>"$work/long.stderr" |
        md5sum >"$work/long.sum"
    code=${PIPESTATUS[0]}
    set -e
    if [[ $code == 0 ]] && cmp -s "$work/long.sum" "$work/long.expected"; then
        listed=$((listed + 1))
    elif [[ $code == 1 ]] && grep -qF "$enomem" "$work/long.stderr" &&
        grep -qF "long.mds" "$work/long.stderr"; then
        refused=$((refused + 1))
    else
        echo "FAIL: --dump long.mds under ulimit -v $limit: exit $code:"
        cat "$work/long.stderr"
        failures=$((failures + 1))
    fi
done
echo "--dump long.mds: listed whole under $listed limits, refused for lack of memory under $refused"

# Sixty-four at once: under any limit each file converts or is refused for lack of memory, and
# the run never dies of it, however few threads it could start.
for limit in 30000 60000 100000 200000 400000; do
    dir=$work/batch-$limit
    mkdir -p "$dir"
    set +e
    (ulimit -v "$limit" && exec "$convert" -q -j 64 -d "$dir" "$work"/batch/*.mid) \
        2>"$dir.stderr"
    code=$?
    set -e
    made=$(find "$dir" -name '*.mds' | wc -l)
    left=$(find "$dir" -name '~tf*' | wc -l)
    if [[ $left != 0 ]] || ! { [[ $code == 0 && $made == 64 ]] ||
        { [[ $code == 1 ]] && grep -qF "$enomem" "$dir.stderr"; }; }; then
        echo "FAIL: 64 files at once under ulimit -v $limit: exit $code, $made converted, $left left:"
        head -5 "$dir.stderr"
        failures=$((failures + 1))
    fi
done

exit $((failures > 0))
