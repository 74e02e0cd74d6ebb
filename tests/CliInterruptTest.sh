#!/usr/bin/env bash
# CliInterruptTest.sh: Ctrl+C while tonflux-convert.exe writes, under Wine (which turns SIGINT
# to the program into the console's Ctrl+C event). The temporary file being written goes; the
# outputs finished before stay whole; nothing else is left.
#
#   tests/CliInterruptTest.sh BUILD_DIR     (a Windows build, with its Wine environment)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$build/cli-interrupt
rm -rf "$work"
mkdir -p "$work/in"
export WINE_ENV_BASE=$build/wine-env

# Twenty songs of 6 MB: long enough that the signal finds one of them being written.
python3 - "$work/in" <<'PY'
import struct, sys
events = b"\x00\x90\x3c\x40" + b"\x00\x3c\x40" * 2000000 + b"\x00\xff\x2f\x00"
song = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(events)) + events
for i in range(20):
    open("%s/song%02d.mid" % (sys.argv[1], i), "wb").write(song)
PY
"$root/tools/wine-env.sh" run wine "$build/cli/tonflux-convert.exe" -q -j 1 -r "Z:${work//\//\\}\\in" &
# Wine runs the program in a process of its own that carries its command line.
program=
for _ in $(seq 1 3000); do
    if compgen -G "$work/in/~tf*.tmp" >/dev/null; then
        program=$(pgrep -n -f "tonflux-convert\.exe -q -j 1 -r Z:.*cli-interrupt" || true)
        [[ -n "$program" ]] && break
    fi
    sleep 0.01
done
[[ -n "$program" ]] || { echo "FAIL: the program was never seen writing"; exit 1; }
kill -INT "$program"
for _ in $(seq 1 3000); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.01
done
wait || true
if kill -0 "$program" 2>/dev/null; then echo "FAIL: still running after Ctrl+C"; exit 1; fi
if compgen -G "$work/in/~tf*.tmp" >/dev/null; then
    echo "FAIL: temporary files left:"; ls -l "$work/in"; exit 1
fi
finished=0
for mds in "$work"/in/*.mds; do
    [[ -e "$mds" ]] || continue
    "$root/tools/wine-env.sh" run wine "$build/cli/tonflux-convert.exe" --dump "Z:${mds//\//\\}" \
        >/dev/null || { echo "FAIL: $mds is not whole"; exit 1; }
    finished=$((finished + 1))
done
[[ "$finished" -lt 20 ]] || { echo "FAIL: every file converted: Ctrl+C came too late"; exit 1; }
echo "PASS: interrupted after $finished of 20 files, no temporary file left"
rm -rf "$work"
