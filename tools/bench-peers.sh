#!/usr/bin/env bash
# bench-peers.sh: Tonflux's whole conversion beside the time other MIDI file libraries take only to
# load the same songs: libsmf (smf_load), portsmf (Alg_seq from a file) and Python's mido
# (mido.MidiFile). Builds the drivers in tools/peers and a release tonflux-convert, writes the
# benchmark songs (tools/make-bench-songs.py) and prints one table.
#
#   tools/bench-peers.sh [-r RUNS] [-t SECONDS] [-s "typical large dense tracks2000"]
#                        [-p "libsmf portsmf mido"] [-f] [-b BEFORE_BUILD_DIR]
#
# Tonflux's conversion is timed in process by the conversion benchmark (read the file, convert it
# straight from its image into the file; beside it the song model's road), and also as a whole
# tonflux-convert process; a peer only around its load call, measured inside the driver (mido runs on Debian's
# /usr/bin/python3, where python3-mido lives). Each figure is the best of RUNS runs (default 3); a
# peer run longer than SECONDS (default 900) is stopped and shown as ">", one of more than 10 s
# is not repeated. "wall" is elapsed time,
# "cpu" user plus system time: on a machine shared with other work the cpu column is the steadier
# one. Ratios are the peer's load time over Tonflux's conversion time. A peer's figures are kept
# in build/bench-peers/peer-results.json for the next table; -f measures them again. -b names the
# build tree of an earlier commit (built with -DTONFLUX_BUILD_BENCHMARKS=ON), whose conversion is
# timed in the same run and shown beside.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=3
limit=900
songs="typical large dense tracks2000"
peers="libsmf portsmf mido"
remeasure=""
before=""
while getopts "r:t:s:p:fb:" opt; do
    case "$opt" in
    r) runs=$OPTARG ;;
    t) limit=$OPTARG ;;
    s) songs=$OPTARG ;;
    p) peers=$OPTARG ;;
    f) remeasure=remeasure ;;
    b) before=$OPTARG ;;
    *) exit 2 ;;
    esac
done

out=$root/build/bench-peers
mkdir -p "$out"
python3 tools/make-bench-songs.py build/bench-songs >/dev/null
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTONFLUX_BUILD_TESTS=OFF \
    -DTONFLUX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/bench -j2 --target tonflux-convert tonflux_conversion_bench >/dev/null
cc -O2 $(pkg-config --cflags smf) tools/peers/load-libsmf.c -o "$out/load-libsmf" \
    $(pkg-config --libs smf)
c++ -O2 $(pkg-config --cflags portSMF) tools/peers/load-portsmf.cpp -o "$out/load-portsmf" \
    $(pkg-config --libs portSMF)
python3 tools/peers/run-peers.py "$out" "$runs" "$limit" "$songs" "$peers" $remeasure $before
