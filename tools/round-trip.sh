#!/usr/bin/env bash
# round-trip.sh: checks that standard MIDI files come back from the way to MDS and back as the very
# same stream files, and times both directions.
#
#   tools/round-trip.sh [-c CONVERTER] FILE.mid...
#
# For every file and four option sets (the defaults; no running status; omitted stream ids with
# 1 KB buffers; both, with 63 KB buffers) it runs MID -> MDS, MDS -> MID' and MID' -> MDS' with
# tonflux-convert (default: build/native/cli/tonflux-convert) and compares MDS' with MDS byte for
# byte. A file the converter refuses is reported and skipped; the way back may refuse a song whose
# stream events lie more than 0x0FFFFFFF ticks apart. One line per file and option set: the
# outcome, then seconds and peak memory (MB) of the forward and of the backward conversion.
# Exit status 1 when any MDS' differs.
set -euo pipefail
converter=build/native/cli/tonflux-convert
while getopts "c:h" opt; do
    case $opt in
    c) converter=$OPTARG ;;
    *)
        sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# seconds and peak resident MB of one run, "FAIL" when it failed
timed() {
    if /usr/bin/time -f '%e %M' -o "$work/time" "$converter" -q -f "$@" 2>"$work/err"; then
        awk '{ printf "%s s %.0f MB", $1, $2 / 1024 }' "$work/time"
    else
        echo FAIL
    fi
}

status=0
for file in "$@"; do
    for options in "" "--no-running-status" "-k 1 --omit-stream-ids" \
        "-k 63 --omit-stream-ids --no-running-status"; do
        # shellcheck disable=SC2086 # the options are words
        forward=$(timed $options -o "$work/a.mds" "$file")
        if [[ $forward == FAIL ]]; then
            echo "$file [$options]: refused: $(cat "$work/err")"
            continue
        fi
        # shellcheck disable=SC2086
        back=$(timed $options -o "$work/b.mid" "$work/a.mds")
        if [[ $back == FAIL ]]; then
            echo "$file [$options]: the way back refused: $(cat "$work/err")"
            continue
        fi
        # shellcheck disable=SC2086
        "$converter" -q -f $options -o "$work/c.mds" "$work/b.mid"
        if cmp -s "$work/a.mds" "$work/c.mds"; then
            echo "$file [$options]: same; forward $forward, back $back"
        else
            echo "$file [$options]: DIFFERS; forward $forward, back $back"
            status=1
        fi
    done
done
exit $status
