#!/usr/bin/env python3
"""make-bench-songs.py: write the benchmark songs, the same bytes on every run.

    tools/make-bench-songs.py [DIR]                 default DIR: build/bench-songs
    tools/make-bench-songs.py --dense-mb N [DIR]    also dense-<N>mb.mid, dense.mid's music at N MB

Songs (format 1, every track ending in End of Track):
    typical.mid   ~100 KB,  16 tracks   a conductor track and 15 instrument tracks
    large.mid     ~10 MB,   16 tracks   the same kind of music, much longer and denser
    dense.mid     ~50 MB,  500 tracks   "black MIDI": millions of short notes and chords
    tracks2000.mid ~10 MB, 2000 tracks  the events of large.mid's size spread over 2000 tracks
    dense-<N>mb.mid N MB, 500 tracks    with --dense-mb N (repeatable): dense.mid made longer, for
                                        finding how large a song a build can convert

The music is made of what real files hold: chords and melodies with running status, note-offs
both as Note On with velocity 0 and as Note Off, controllers, pitch-bend sweeps, program changes,
aftertouch, system exclusive resets and data dumps, tempo and time-signature changes, markers and
track names. A song that is already there with the right size and checksum is not written again.
"""
import hashlib
import os
import random
import sys

import midibuild
from midibuild import TrackWriter, header, meta, sysex

DIVISION = 480


def conductor(rng, length, bars_per_tempo, title, copyright):
    t = TrackWriter()
    t.other(0, meta(0x03, title))
    t.other(0, meta(0x02, copyright))
    t.other(0, meta(0x58, b"\x04\x02\x18\x08"))
    t.other(0, meta(0x59, b"\x00\x00"))
    t.other(0, meta(0x51, (500000).to_bytes(3, "big")))
    t.other(0, sysex(b"\x7e\x7f\x09\x01\xf7"))  # GM System On
    t.other(0, sysex(b"\x41\x10\x42\x12\x40\x00\x7f\x00\x41\xf7"))  # GS Reset
    bar = 4 * DIVISION
    tick, n = 0, 0
    while tick + bar <= length:
        tick += bar
        n += 1
        if n % bars_per_tempo == 0:
            t.other(tick, meta(0x51, rng.randrange(350000, 700000).to_bytes(3, "big")))
        if n % 16 == 0:
            t.other(tick, meta(0x06, b"Section %d" % (n // 16)))
        if n % 64 == 0:
            t.other(tick, meta(0x58, rng.choice((b"\x03\x02\x18\x08", b"\x04\x02\x18\x08"))))
    return t.chunk(length)


def instrument(rng, index, length, budget, steps_per_beat, max_chord, note_len):
    """One instrument on channel index % 16, about budget bytes long, spread over length ticks."""
    ch = index % 16
    if ch == 9:
        ch = (index // 16) % 9  # keep drums out: they would all share channel 10
    t = TrackWriter()
    t.other(0, meta(0x03, b"Instrument %d" % index))
    t.channel(0, 0xC0 | ch, rng.randrange(128))
    for cc, value in ((7, 100), (10, rng.randrange(128)), (91, 40), (93, 0)):
        t.channel(0, 0xB0 | ch, cc, value)
    if index % 7 == 1:  # a voice-parameter dump, as synthesizer-specific files carry
        dump = bytes(rng.randrange(128) for _ in range(rng.randrange(40, 300)))
        t.other(0, sysex(b"\x43\x10\x4c" + dump + b"\xf7"))
    note_off_as_on = rng.random() < 0.7
    on, off = 0x90 | ch, (0x90 if note_off_as_on else 0x80) | ch
    off_velocity = 0 if note_off_as_on else 64
    base = rng.randrange(36, 72)
    step = max(1, DIVISION // steps_per_beat)
    held = []
    tick = rng.randrange(0, step)
    out = t.out
    while len(out) < budget and tick < length:
        r = rng.random()
        if r < 0.86:  # a chord or a single note: release what sounds, strike the next
            for note in held:
                t.channel(tick, off, note, off_velocity)
            base = min(96, max(24, base + rng.randrange(-5, 6)))
            size = 1 if rng.random() < 0.5 else rng.randrange(1, max_chord + 1)
            held = sorted({base + rng.choice((0, 3, 4, 7, 10, 12, 16)) for _ in range(size)})
            for note in held:
                t.channel(tick, on, note, rng.randrange(40, 128))
            tick += rng.choice((step, step, step, 2 * step, step // 2 or 1, note_len))
        elif r < 0.93:
            t.channel(tick, 0xB0 | ch, rng.choice((1, 11, 64, 64, 74)), rng.randrange(128))
        elif r < 0.975:  # a sweep of the pitch wheel, back to the centre
            bend = 0x2000
            for _ in range(rng.randrange(4, 16)):
                bend = min(0x3FFF, max(0, bend + rng.randrange(-900, 900)))
                t.channel(tick, 0xE0 | ch, bend & 0x7F, bend >> 7)
                tick += rng.randrange(1, 8)
            t.channel(tick, 0xE0 | ch, 0x00, 0x40)
        elif r < 0.99:
            t.channel(tick, 0xD0 | ch, rng.randrange(128))
        elif r < 0.996:
            t.channel(tick, 0xC0 | ch, rng.randrange(128))
        else:
            t.other(tick, meta(0x01, b"cue %d" % rng.randrange(1000)))
    for note in held:
        t.channel(tick, off, note, off_velocity)
    return t.chunk(length)


def song(name, seed, tracks, total_bytes, length_beats, steps_per_beat, max_chord, note_len,
         bars_per_tempo):
    rng = random.Random(seed)
    length = length_beats * DIVISION
    chunks = [conductor(rng, length, bars_per_tempo, b"Bench song " + name.encode(),
                        b"(C) 2026 Tonflux benchmark, free to use")]
    per_track = (total_bytes - len(chunks[0])) // (tracks - 1)
    for i in range(1, tracks):
        chunks.append(instrument(random.Random(seed * 100003 + i), i, length, per_track,
                                 steps_per_beat, max_chord, note_len))
    return header(1, tracks, DIVISION) + b"".join(chunks)


SONGS = {
    # name: seed, tracks, bytes, beats, note steps per beat, largest chord, a long note's ticks,
    # bars between tempo changes
    "typical": (1, 16, 100_000, 400, 2, 4, 960, 8),
    "large": (2, 16, 10_900_000, 2100, 64, 4, 56, 1),
    "dense": (3, 500, 53_800_000, 720, 16, 8, 120, 1),
    "tracks2000": (4, 2000, 10_000_000, 130, 4, 4, 240, 2),
}


def dense_of(megabytes):
    """dense.mid's kind of music at about megabytes MB: as dense, proportionally longer."""
    seed, tracks, size, beats, *rest = SONGS["dense"]
    scale = megabytes * 1_000_000 / size
    return (seed + 1000 * megabytes, tracks, megabytes * 1_000_000, round(beats * scale), *rest)


def main():
    args = sys.argv[1:]
    songs = dict(SONGS)
    while args and args[0] == "--dense-mb":
        if len(args) < 2 or not args[1].isdigit() or not 1 <= int(args[1]) <= 4000:
            sys.exit("usage: make-bench-songs.py [--dense-mb N]... [DIR]   (N: 1 to 4000)")
        songs["dense-%smb" % int(args[1])] = dense_of(int(args[1]))
        args = args[2:]
    directory = args[0] if args else "build/bench-songs"
    os.makedirs(directory, exist_ok=True)
    maker = hashlib.sha256()  # a changed generator makes new songs
    for source in (__file__, midibuild.__file__):
        with open(source, "rb") as f:
            maker.update(f.read())
    maker = maker.hexdigest()
    for name, params in songs.items():
        path = os.path.join(directory, name + ".mid")
        stamp = path + ".sha256"
        try:
            with open(path, "rb") as f, open(stamp) as s:
                if s.read().split() == [hashlib.sha256(f.read()).hexdigest(), maker]:
                    print("have", path)
                    continue
        except OSError:
            pass
        data = song(name, *params)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
        with open(stamp, "w") as s:
            s.write("%s %s\n" % (hashlib.sha256(data).hexdigest(), maker))
        print("wrote %s: %d bytes" % (path, len(data)))


if __name__ == "__main__":
    main()
