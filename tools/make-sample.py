#!/usr/bin/env python3
"""make-sample.py: writes the bundled sample song, samples/sample.mid, byte for byte the same on
every run: a short format 1 song of three tracks with a title, a copyright, tempo changes,
program changes and system exclusive messages.

    python3 tools/make-sample.py [OUTPUT]     (default: samples/sample.mid beside this script's folder)
"""
import os
import struct
import sys

from midibuild import TrackWriter, meta, smf, sysex

DIVISION = 480  # ticks per quarter note
BAR = 4 * DIVISION


def track(events):
    """events: (absolute tick, message bytes), in order; an End of Track one beat after the last."""
    writer = TrackWriter()
    for tick, message in events:
        if message[0] < 0xF0:
            writer.channel(tick, *message)
        else:
            writer.other(tick, message)
    return writer.chunk(writer.tick + DIVISION)


def tempo(bpm):
    return meta(0x51, struct.pack(">I", round(60_000_000 / bpm))[1:])


def notes(channel, pitches, start, length, velocity):
    """One note per beat (or per given length) from start; a pitch of None is a rest."""
    events = []
    tick = start
    for pitch in pitches:
        if pitch is not None:
            events.append((tick, bytes([0x90 | channel, pitch, velocity])))
            # Note Off as Note On with velocity 0, so running status carries the whole line.
            events.append((tick + length - DIVISION // 8, bytes([0x90 | channel, pitch, 0])))
        tick += length
    return events


def conductor():
    return [
        (0, meta(0x03, b"Tonflux Sample Song")),
        (0, meta(0x02, b"(C) 2026 Tonflux contributors, CC0")),
        (0, meta(0x58, bytes([4, 2, 24, 8]))),
        (0, meta(0x59, bytes([0, 0]))),
        (0, tempo(120)),
        # GM System On
        (0, sysex(bytes([0x7E, 0x7F, 0x09, 0x01, 0xF7]))),
        (2 * BAR, meta(0x06, b"Slower")),
        (2 * BAR, tempo(96)),
        (3 * BAR + 2 * DIVISION, tempo(108)),
        (4 * BAR, meta(0x06, b"A tempo")),
        (4 * BAR, tempo(120)),
    ]


MELODY = [60, 62, 64, 65, 67, 67, 69, 67, 65, 64, 62, 64, 60, None, 67, 72,
          71, 69, 67, 65, 64, 62, 60, None]
BASS = [36, 43, 41, 43, 36, 43, 41, 36]


def melody():
    events = [
        (0, meta(0x03, b"Melody")),
        (0, bytes([0xB0, 7, 100])),   # volume
        (0, bytes([0xC0, 73])),       # program change: flute
        # Roland GS: reverb macro "Hall 2" for the part, an ordinary address-and-checksum message
        (DIVISION // 2, sysex(bytes([0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x0B,
                                     0xF7]))),
    ]
    events += notes(0, MELODY, DIVISION, DIVISION, 96)
    events.append((4 * BAR, bytes([0xC0, 40])))  # program change: violin for the second half
    events.append((4 * BAR, bytes([0xE0, 0x00, 0x48])))  # a slight bend up...
    events.append((4 * BAR + DIVISION, bytes([0xE0, 0x00, 0x40])))  # ...and back
    return sorted(events, key=lambda e: e[0])


def bass():
    events = [
        (0, meta(0x03, b"Bass")),
        (0, bytes([0xC1, 33])),  # program change: finger bass
        (0, bytes([0xB1, 10, 40])),  # pan a little left
    ]
    events += notes(1, BASS * 1, DIVISION, 3 * DIVISION, 80)
    return sorted(events, key=lambda e: e[0])


def song():
    tracks = [conductor(), melody(), bass()]
    return smf([track(sorted(t, key=lambda e: e[0])) for t in tracks], division=DIVISION)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "samples", "sample.mid")
    data = song()
    with open(path, "wb") as f:
        f.write(data)
    print(f"{os.path.normpath(path)}: {len(data)} bytes")


if __name__ == "__main__":
    main()
