#!/usr/bin/env bash
# measure-limits.sh: convert hostile files with tonflux-convert and print, for each, the outcome,
# the wall time and the peak memory (maximum resident set, from /usr/bin/time) beside the file's
# size. The numbers in the README's "Limits" section come from this script.
#
#   tools/measure-limits.sh [-b BUILD_DIR] [-w WORK_DIR] [--no-1g]
#
# BUILD_DIR holds a native build (default build/native; built if needed); WORK_DIR receives the
# generated files, about 1.4 GB with the 1 GB garbage file (default: a temporary folder, removed
# afterwards).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/native
work=""
big=1
while (($#)); do
    case $1 in
    -b) build=$2; shift 2 ;;
    -w) work=$2; shift 2 ;;
    --no-1g) big=0; shift ;;
    *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done
if [[ -z "$work" ]]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

if [[ ! -x "$build/cli/tonflux-convert" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target tonflux-convert >/dev/null
fi
convert=$build/cli/tonflux-convert

mkdir -p "$work/in"
PYTHONPATH=tools python3 - "$work/in" "$big" <<'EOF'
import os, sys
from midibuild import EOT, chunk, smf, varlen

work, big = sys.argv[1], sys.argv[2] == "1"

def write(name, data):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)

note = b"\x00\x90\x3c\x40\x60\x3c\x00"
write("65535-chunks-announced.mid", smf([chunk(b"MTrk", note + EOT)], ntrks=65535))
write("65535-chunks.mid", smf([chunk(b"MTrk", note + EOT)] + [chunk(b"XFIH", b"")] * 65534))
write("65535-tracks.mid", smf([chunk(b"MTrk", note + EOT)] * 65535))
write("sysex-claims-256mb.mid",
      smf([chunk(b"MTrk", b"\x00\xf0" + varlen(0x0FFFFFFF) + b"\x01\x02" + EOT)], fmt=0))
sysex = 0x0FFFFFFF
write("sysex-of-256mb.mid",
      smf([chunk(b"MTrk", b"\x00\xf0" + varlen(sysex) + bytes(sysex - 1) + b"\xf7" + EOT)], fmt=0))
wrapped = []
for i in range(2000):
    e = bytearray()
    for k in range(17):
        e += varlen(0x0FFFFFFF if k else i * 7919 % 100000) + bytes([0x90 | i % 16, k, 0x40])
    wrapped.append(chunk(b"MTrk", bytes(e) + EOT))
write("2000-tracks-wrapped.mid", smf(wrapped))
# The densest file: two bytes per event, a delta and a data byte under running status.
pairs = bytes(j % 2 * (j // 2) for j in range(256))
write("dense-64mb.mid", smf([chunk(b"MTrk", b"\x00\xc0\x00" + pairs * (1 << 18) + EOT)], fmt=0))
# A realistic heavy song: 16 tracks of notes with running status, about 3.5 bytes per event.
tracks = []
for t in range(16):
    run = b"".join(bytes([(i * 7 + t) % 40, (i * 5 + t) % 128, 0x40 if i % 2 else 0])
                   for i in range(128))
    tracks.append(chunk(b"MTrk", b"\x00" + bytes([0x90 | t]) + b"\x3c\x40" + run * 8192 + EOT))
write("16-tracks-48mb.mid", smf(tracks))
if big:
    with open(os.path.join(work, "garbage-1g.bin"), "wb") as f:
        block = bytes((i * 2654435761 >> 13) & 0xFF for i in range(1 << 20))
        for _ in range(1024):
            f.write(block)
EOF

# The resident set of a conversion of the smallest file is the program's own; what lies above it
# is what the input cost.
printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\4\0\377\57\0' >"$work/smallest.mid"
/usr/bin/time -f '%M' -o "$work/time" "$convert" -q -f -o "$work/out.mds" "$work/smallest.mid"
base=$(tail -1 "$work/time")
echo "baseline: converting the smallest file takes ${base} KB resident"
rm "$work/smallest.mid"

printf '%-28s %12s %-18s %8s %9s %13s\n' file bytes outcome seconds "peak MB" "(peak-base)/size"
for f in "$work"/in/*; do
    out=$work/out.mds
    rm -f "$out"
    set +e
    /usr/bin/time -f '%e %M' -o "$work/time" "$convert" -q -f -o "$out" "$f" >/dev/null 2>"$work/err"
    code=$?
    set -e
    read -r seconds rss < <(tail -1 "$work/time")
    case $code in
    0) outcome="converted" ;;
    1) outcome="refused (exit 1)" ;;
    *) outcome="exit $code" ;;
    esac
    [[ $code == 1 && -e "$out" ]] && outcome="REFUSED BUT WROTE OUTPUT"
    bytes=$(stat -c %s "$f")
    awk -v f="$(basename "$f")" -v b="$bytes" -v o="$outcome" -v s="$seconds" -v r="$rss" \
        -v base="$base" 'BEGIN { printf "%-28s %12d %-18s %8s %9.1f %13.2f\n", f, b, o, s,
                                 r / 1024, (r > base ? r - base : 0) * 1024 / b }'
    [[ $code == 0 || $code == 1 ]] || cat "$work/err"
done
