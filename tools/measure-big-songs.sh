#!/usr/bin/env bash
# measure-big-songs.sh: the songs only a conversion in near-constant memory takes, through
# tonflux-convert, with the outcome, the wall and CPU time and the peak memory (maximum resident
# set, from /usr/bin/time) of each run. The figures of the README's "Limits" section on big songs
# come from here.
#
#   tools/measure-big-songs.sh [-b BUILD_DIR] [-w WIN32_BUILD_DIR] [-s SONG_DIR] [-o OUT_DIR]
#                              [--no-wine]
#
#   1. dense-1000mb.mid (1 GB, its MIDI stream file about 3.8 GB, near the format's 4 GB) by the
#      native build, then by the 32-bit tonflux-convert.exe under Wine (large-address-aware, as
#      shipped, and a copy with the flag cleared, which gets 2 GB as on 32-bit Windows); the files
#      must be the same bytes.
#   2. dense-1200mb.mid, whose file would pass 4 GB: refused as soon as the reading shows it, with
#      no file left behind.
#   3. -j 4 over four copies of dense-200mb.mid at once.
#
# BUILD_DIR is a native build (default build/native), WIN32_BUILD_DIR a 32-bit cross build
# (default build/win32); both are built if needed. The songs are written by
# tools/make-bench-songs.py into SONG_DIR (default build/bench-songs; minutes, once). OUT_DIR
# (default build/big-out) receives the outputs, up to 8 GB while step 1 runs; they are removed.
# Wine runs in its own prefix under OUT_DIR/wine unless WINE_ENV_BASE says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/native
win32=build/win32
songs=build/bench-songs
out=build/big-out
wine=1
while (($#)); do
    case $1 in
    -b) build=$2; shift 2 ;;
    -w) win32=$2; shift 2 ;;
    -s) songs=$2; shift 2 ;;
    -o) out=$2; shift 2 ;;
    --no-wine) wine=0; shift ;;
    *) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done
mkdir -p "$out"
export WINE_ENV_BASE=${WINE_ENV_BASE:-$PWD/$out/wine}

if [[ ! -x "$build/cli/tonflux-convert" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target tonflux-convert >/dev/null
fi
if ((wine)) && [[ ! -f "$win32/cli/tonflux-convert.exe" ]]; then
    cmake -S . -B "$win32" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
    cmake --build "$win32" -j2 --target tonflux-convert >/dev/null
fi
python3 tools/make-bench-songs.py --dense-mb 1000 --dense-mb 1200 --dense-mb 200 "$songs" >/dev/null

# run NAME CMD...: runs CMD under /usr/bin/time and prints one line of figures.
run() {
    local name=$1 status=0
    shift
    /usr/bin/time -f '%e %U %S %M' -o "$out/time" "$@" >"$out/stdout" 2>"$out/stderr" || status=$?
    read -r wall user sys peak < <(tail -1 "$out/time")
    printf '%-44s exit %d  %7.1f s wall  %7.1f s cpu  peak %6.0f MB\n' "$name" "$status" \
        "$wall" "$(echo "$user + $sys" | bc)" "$(echo "$peak / 1024" | bc)"
    sed 's/^/    /' "$out/stderr" | iconv -f CP932 -t UTF-8 -c | head -3
}
mb() { echo "$(( $(stat -c %s "$1") / 1000000 )) MB"; }
same() {
    if cmp -s "$out/native.mds" "$1"; then
        echo "    the same bytes as the native build's"
    else
        echo "    NOT the native build's bytes"
    fi
    rm -f "$1"
}

native=$PWD/$build/cli/tonflux-convert
echo "1. a 1 GB dense song ($(mb "$songs/dense-1000mb.mid"))"
run "native" "$native" -q -f -o "$out/native.mds" "$songs/dense-1000mb.mid"
echo "    output $(mb "$out/native.mds")"
if ((wine)); then
    run "32-bit tonflux-convert.exe under Wine" tools/wine-env.sh run wine \
        "$win32/cli/tonflux-convert.exe" -q -f -o "$out/win32.mds" "$songs/dense-1000mb.mid"
    same "$out/win32.mds"
    # The same program without IMAGE_FILE_LARGE_ADDRESS_AWARE in its COFF header.
    python3 - "$win32/cli/tonflux-convert.exe" "$out/tonflux-convert-2gb.exe" <<'EOF'
import struct, sys
image = bytearray(open(sys.argv[1], "rb").read())
at = struct.unpack_from("<I", image, 0x3C)[0] + 4 + 18
struct.pack_into("<H", image, at, struct.unpack_from("<H", image, at)[0] & ~0x20)
open(sys.argv[2], "wb").write(image)
EOF
    run "the same without large-address-awareness" tools/wine-env.sh run wine \
        "$out/tonflux-convert-2gb.exe" -q -f -o "$out/win32.mds" "$songs/dense-1000mb.mid"
    [[ -f "$out/win32.mds" ]] && same "$out/win32.mds"
    # Where that one stops: the song's first N MB, which --lenient takes as a song cut short.
    for n in 500 600; do
        head -c "${n}000000" "$songs/dense-1000mb.mid" >"$out/cut.mid"
        run "  the same, the first $n MB (--lenient)" tools/wine-env.sh run wine \
            "$out/tonflux-convert-2gb.exe" --lenient -q -f -o "$out/cut.mds" "$out/cut.mid"
        rm -f "$out/cut.mid" "$out/cut.mds"
    done
    rm -f "$out/tonflux-convert-2gb.exe"
fi
rm -f "$out/native.mds"

echo "2. a song whose MIDI stream file would pass 4 GB ($(mb "$songs/dense-1200mb.mid"))"
run "native" "$native" -f -o "$out/past4g.mds" "$songs/dense-1200mb.mid"
if ((wine)); then
    run "32-bit tonflux-convert.exe under Wine" tools/wine-env.sh run wine \
        "$win32/cli/tonflux-convert.exe" -f -o "$out/past4g.mds" "$songs/dense-1200mb.mid"
fi
left=$(find "$out" -maxdepth 1 \( -name past4g.mds -o -name '~tf*.tmp' \) | wc -l)
echo "    files left behind: $left"

echo "3. -j 4 over four 200 MB songs ($(mb "$songs/dense-200mb.mid") each)"
for n in 1 2 3 4; do cp "$songs/dense-200mb.mid" "$out/song$n.mid"; done
run "native, -j 4" "$native" -q -f -j 4 "$out"/song{1,2,3,4}.mid
rm -f "$out"/song[1-4].mid "$out"/song[1-4].mds "$out/time" "$out/stdout" "$out/stderr"
if ((wine)); then tools/wine-env.sh stop >/dev/null 2>&1 || true; fi
