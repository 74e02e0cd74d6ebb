"""load-mido.py: loads an SMF with mido.MidiFile and prints the load's wall and CPU seconds and the
number of messages, for tools/bench-peers.sh."""
import sys
import time

import mido

wall, cpu = time.monotonic(), time.process_time()
song = mido.MidiFile(sys.argv[1])
wall_end, cpu_end = time.monotonic(), time.process_time()
print("%.6f %.6f %d" % (wall_end - wall, cpu_end - cpu, sum(len(t) for t in song.tracks)))
