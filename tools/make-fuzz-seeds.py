#!/usr/bin/env python3
"""make-fuzz-seeds.py: write the fuzzers' seed corpus into a directory.

    tools/make-fuzz-seeds.py OUTDIR [--plain]

Every seed is a small SMF image followed by one option byte, the fuzz input format of
tests/fuzz/FuzzChecks.h (bits 0-5: buffer size 1 + value % 63 KB, bits 0-5 all set: read
leniently, bit 6: no running status, bit 7: omit stream identifiers). With --plain the option byte
is left off, which gives plain .mid files for trying the converter by hand. The seeds cover valid
songs with every event kind, a MacBinary header, SMPTE divisions, many tracks, ticks that wrap past
2^32, events that fill a stream buffer exactly, one damaged file for every fault the reader
refuses, and files that break the rules the way real files do, to be read leniently. A few more
are MIDI stream files (mds-*, no option byte; .mds with --plain) for the way back: our own layout,
what other writers do differently, and damaged ones. The output is the same on every run.
"""
import os
import random
import struct
import sys

import midibuild
from midibuild import (EOT, chunk, header, le32, macbinary, mds, mds_data, mds_event, mds_fmt,
                       mds_info, mds_long, rmid, riff_chunk, smf, track, varlen)


def meta(kind, data, delta=0):
    return varlen(delta) + midibuild.meta(kind, data)


def every_kind():
    """One track with every kind of event the reader stores."""
    e = bytearray()
    e += meta(0x00, b"\x00\x01")
    e += meta(0x03, "タイトル Title".encode("cp932"))
    e += meta(0x02, b"(C) 2026 Tonflux")
    e += meta(0x01, b"a text event")
    e += meta(0x04, b"Piano")
    e += meta(0x05, b"la")
    e += meta(0x06, b"Verse")
    e += meta(0x07, b"cue")
    e += meta(0x20, b"\x00")
    e += meta(0x21, b"\x00")
    e += meta(0x51, b"\x07\xa1\x20")
    e += meta(0x54, b"\x60\x00\x00\x00\x00")
    e += meta(0x58, b"\x04\x02\x18\x08")
    e += meta(0x59, b"\xfd\x00")
    e += meta(0x7F, b"\x00\x00\x41\x01")
    e += b"\x00\xf0\x05\x7e\x7f\x09\x01\xf7"  # GM reset
    e += b"\x00\xf7\x02\xf8\xfa"  # escaped real-time bytes
    e += b"\x00\xf0\x00"
    for ch in range(16):
        e += bytes([0x00, 0xB0 | ch, 0x07, 100])  # control change
        e += bytes([0x00, 0xC0 | ch, ch])  # program change
        e += bytes([0x00, 0xD0 | ch, 0x40])  # channel pressure
        e += bytes([0x00, 0xE0 | ch, 0x00, 0x40])  # pitch bend
        e += bytes([0x00, 0xA0 | ch, 0x3C, 0x20])  # key pressure
    e += b"\x00\x90\x3c\x40\x60\x3c\x00\x00\x3e\x40"  # running status
    e += b"\x30\x80\x3e\x40\x00\x90\x40\x90"  # a data byte of 0x80 or above
    e += meta(0x51, b"\x06\x1a\x80", 10)
    return bytes(e)


def notes(count, channel=0, step=24, running=True, start_note=36):
    e = bytearray()
    for i in range(count):
        n = start_note + i % 48
        e += varlen(step if i else 0) + bytes([0x90 | channel, n, 0x60])
        if running:
            e += varlen(step // 2) + bytes([n, 0x00])
        else:
            e += varlen(step // 2) + bytes([0x80 | channel, n, 0x40])
    return bytes(e)


def wrapped(count=17):
    """Ticks that pass 2^32 after 16 deltas of 0x0FFFFFFF, then a small one."""
    e = bytearray()
    for i in range(count):
        e += varlen(0x0FFFFFFF) + bytes([0x90, i, 0x40])
    e += varlen(0x20) + bytes([0x80, 1, 0])
    return bytes(e)


def valid_seeds(rng):
    seeds = {}
    kinds = every_kind()
    seeds["every-kind-format0"] = smf([track(kinds)], fmt=0)
    seeds["every-kind-format1"] = smf([track(meta(0x03, b"Conductor")), track(kinds),
                                       track(notes(40, 1))])
    seeds["format2"] = smf([track(notes(4)), track(notes(4, 2))], fmt=2)
    seeds["macbinary"] = macbinary(seeds["every-kind-format1"])
    seeds["macbinary-zero-chunks"] = macbinary(header(ntrks=0))
    for division in (0xE250, 0xE728, 0xE7FF, 0xE301, 0xE878):
        seeds["smpte-%04x" % division] = smf([track(notes(8))], division=division)
    seeds["division-1"] = smf([track(notes(8))], division=1)
    seeds["division-7fff"] = smf([track(notes(8))], division=0x7FFF)
    seeds["smallest"] = smf([chunk(b"MTrk", EOT)], fmt=0)
    seeds["zero-chunks-then-garbage"] = header(ntrks=0) + b"garbage"
    seeds["long-header"] = header(length=10, extra=b"\xab\xcd\xef\x01") + track(notes(2))
    seeds["foreign-chunks"] = (header(ntrks=4) + track(notes(3)) + chunk(b"XFIH", b"\x01\x02\x03")
                               + chunk(b"mtrk", b"\x00\x90") + track(notes(3, 3)))
    seeds["empty-foreign-chunk-at-end"] = header(ntrks=2) + track(notes(2)) + chunk(b"junk", b"")
    seeds["format0-two-tracks"] = smf([track(notes(3)), track(notes(3, 4))], fmt=0)
    seeds["no-running-status"] = smf([track(notes(30, running=False))])
    seeds["wrapped-ticks"] = smf([track(wrapped()), track(notes(20)), track(wrapped())])
    seeds["equal-ticks-across-tracks"] = smf([track(notes(10, ch, step=48)) for ch in range(16)])
    seeds["many-tracks"] = smf([track(notes(2, i % 16, step=7 + i % 5)) for i in range(300)])
    seeds["many-tracks-wrapped"] = smf([track(wrapped(1 + i % 18)) for i in range(120)])
    seeds["end-of-track-order"] = smf([track(notes(2)),
                                       chunk(b"MTrk", notes(1) + varlen(500) + b"\xff\x2f\x00"),
                                       chunk(b"MTrk", varlen(960) + b"\xff\x2f\x00"),
                                       chunk(b"MTrk", varlen(960) + b"\xff\x2f\x00")])
    # Sysex that just fits a 1 KB buffer, one that just does not, and one far too large: with
    # stream identifiers the packed event is 12 + 1 + n rounded up to 4.
    seeds["sysex-fits-1k"] = smf([track(b"\x00\xf0" + varlen(1011) + bytes(1010) + b"\xf7")])
    seeds["sysex-too-large-1k"] = smf([track(b"\x00\xf0" + varlen(1012) + bytes(1011) + b"\xf7")])
    seeds["sysex-2000"] = smf([track(b"\x00\xf0" + varlen(2000) + bytes(1999) + b"\xf7")])
    seeds["f7-packets"] = smf([track(b"\x00\xf0\x03\x43\x12\x00\x10\xf7\x03\x01\x02\xf7")])
    seeds["dense-block-cuts"] = smf([track(notes(400, step=1))])
    seeds["tempo-map"] = smf([track(b"".join(meta(0x51, bytes([rng.randrange(256) for _ in range(3)]),
                                                  rng.randrange(300)) for _ in range(40)))])
    seeds["long-title"] = smf([track(meta(0x03, bytes(rng.randrange(0x20, 0x7F) for _ in range(300)))
                                     + meta(0x02, b"c" * 129))])
    seeds["odd-title-copyright-only"] = smf([track(meta(0x02, b"abc"))])
    seeds["text-before-name"] = smf([track(meta(0x01, b"text") + meta(0x03, b"name", 100))])
    seeds["empty-name"] = smf([track(meta(0x03, b""))])
    seeds["trailing-bytes"] = smf([track(notes(3))]) + b"\x00\x01\x02 trailing"
    for i in range(8):
        tracks = []
        for t in range(rng.randrange(1, 6)):
            e = bytearray()
            for _ in range(rng.randrange(1, 40)):
                kind = rng.randrange(6)
                e += varlen(rng.choice((0, 0, 1, 30, 480, 0x3FFF, 0x0FFFFFFF)))
                if kind < 3:
                    s = rng.randrange(0x80, 0xF0)
                    e += bytes([s]) + bytes(rng.randrange(128) for _ in range(2 if (s & 0xE0) != 0xC0 else 1))
                elif kind == 3:
                    n = rng.randrange(0, 300)
                    e += b"\xf0" + varlen(n) + bytes(rng.randrange(128) for _ in range(n))
                elif kind == 4:
                    e += b"\xff\x51\x03" + bytes(rng.randrange(256) for _ in range(3))
                else:
                    n = rng.randrange(0, 20)
                    e += bytes([0xFF, rng.choice((1, 2, 3, 6, 0x7F))]) + varlen(n) + bytes(n)
            tracks.append(track(bytes(e)))
        seeds["random-%d" % i] = smf(tracks)
    return seeds


def fault_seeds():
    """One damaged file for every fault the reader refuses."""
    good = track(notes(2))
    f = {}
    f["empty"] = b""
    f["three-bytes"] = b"MTh"
    f["header-id-misspelled"] = b"MThx" + smf([good])[4:]
    f["macbinary-first-byte-not-0"] = b"\x01" + macbinary(smf([good]))[1:]
    mb = bytearray(macbinary(smf([good])))
    mb[74] = 1
    f["macbinary-byte-74"] = bytes(mb)
    mb = bytearray(macbinary(smf([good])))
    mb[82] = 1
    f["macbinary-byte-82"] = bytes(mb)
    f["macbinary-too-short"] = macbinary(b"")[:131]
    f["macbinary-then-garbage"] = macbinary(b"RIFF" + smf([good])[4:])
    f["header-length-5"] = header(length=5)[:-1] + good
    f["header-length-8-cut"] = b"MThd\x00\x00\x00\x08\x00\x00\x00\x00\x00\x60"
    f["header-cut-in-division"] = b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00"
    f["header-cut-in-length"] = b"MThd\x00\x00"
    f["format-3"] = smf([good], fmt=3)
    f["smpte-rate-31"] = smf([good], division=0xE150)
    f["fewer-chunks-than-announced"] = smf([good], ntrks=2)
    f["65535-chunks-announced"] = smf([good], ntrks=65535)
    f["chunk-id-cut"] = smf([good], ntrks=2) + b"MT"
    f["chunk-length-cut"] = smf([good], ntrks=2) + b"MTrk\x00"
    f["second-header-chunk"] = header(ntrks=1) + chunk(b"MThd", b"\x00\x00\x00\x01\x00\x60")
    f["foreign-chunk-too-long"] = header(ntrks=1) + chunk(b"junk", b"\x01\x02", 3)
    f["foreign-chunk-claims-4g"] = header(ntrks=1) + chunk(b"junk", b"\x01", 0xFFFFFFFF)
    f["track-length-0"] = header(ntrks=1) + chunk(b"MTrk", b"")
    f["track-claims-4g"] = header(ntrks=1) + chunk(b"MTrk", notes(2) + EOT, 0xFFFFFFFF)
    f["delta-five-bytes"] = smf([track(b"\x80\x80\x80\x80\x00\x90\x3c\x40")])
    f["delta-cut"] = header(ntrks=1) + chunk(b"MTrk", b"\x81", 4)
    f["end-where-event-begins"] = header(ntrks=1) + chunk(b"MTrk", b"\x00", 4)
    f["data-byte-without-running-status"] = smf([track(b"\x00\x3c\x40")])
    f["data-byte-after-meta"] = smf([track(b"\x00\x90\x3c\x40" + meta(0x01, b"") + b"\x00\x3c\x40")])
    f["data-byte-after-sysex"] = smf([track(b"\x00\x90\x3c\x40\x00\xf0\x01\xf7\x00\x3c\x40")])
    f["running-status-across-tracks"] = smf([track(b"\x00\x90\x3c\x40"), track(b"\x00\x3c\x40")])
    for s in (0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE):
        f["status-%02x" % s] = smf([track(bytes([0x00, s, 0x00]))])
    f["channel-message-cut"] = header(ntrks=1) + chunk(b"MTrk", b"\x00\x90\x3c", 8)
    f["sysex-runs-past-image"] = header(ntrks=1) + chunk(b"MTrk", b"\x00\xf0\x05\x01\x02", 9)
    f["sysex-claims-256mb"] = smf([track(b"\x00\xf0" + varlen(0x0FFFFFFF) + b"\x01\x02")])
    f["sysex-length-five-bytes"] = smf([track(b"\x00\xf0\x80\x80\x80\x80\x00")])
    f["meta-runs-past-image"] = header(ntrks=1) + chunk(b"MTrk", b"\x00\xff\x01\x09abc", 12)
    f["meta-type-80"] = smf([track(b"\x00\xff\x80\x00")])
    f["meta-type-ff"] = smf([track(b"\x00\xff\xff\x00")])
    f["meta-type-cut"] = header(ntrks=1) + chunk(b"MTrk", b"\x00\xff", 4)
    for kind, length in ((0x00, 0), (0x20, 2), (0x2F, 1), (0x51, 4), (0x54, 4), (0x58, 3), (0x59, 1)):
        f["meta-%02x-length-%d" % (kind, length)] = smf([track(meta(kind, bytes(length)))])
    f["end-of-track-before-chunk-end"] = header(ntrks=1) + chunk(b"MTrk", EOT + b"\x00")
    f["end-of-track-past-chunk-end"] = header(ntrks=1) + chunk(b"MTrk", EOT, 3)
    f["no-end-of-track"] = smf([track(notes(2), end=False)])
    f["note-ends-at-chunk-end"] = smf([chunk(b"MTrk", b"\x00\x90\x3c\x40")])
    f["event-runs-past-chunk"] = header(ntrks=1) + chunk(b"MTrk", b"\x00\x90\x3c\x40" + EOT, 2)
    f["garbage"] = bytes((i * 167 + 13) & 0xFF for i in range(512))
    f["riff-not-smf"] = b"RIFF\x10\x00\x00\x00MIDSfmt "
    return f


def mds_seeds():
    """MIDI stream files: ours, other writers' and damaged ones."""
    def every_event(ids):
        return (mds_event(0, 0x00403C90, ids=ids) + mds_event(96, 0x0000003C, ids=ids)
                + mds_event(0, 0x000010C5, ids=ids) + mds_event(10, 0x0107A120, ids=ids)
                + mds_long(0, b"\xf0\x7e\x7f\x09\x01\xf7", ids=ids)
                + mds_long(5, b"\x01\x02\x03", ids=ids) + mds_event(0, 0x00405A91, ids=ids))
    info = mds_info(b"Title", b"(C) 2026")
    f = {}
    f["ours"] = mds([mds_fmt(), mds_data([(0, every_event(True))]), info])
    f["ours-no-stream-ids"] = mds([mds_fmt(flags=1), mds_data([(0, every_event(False))]), info])
    f["ours-blocks"] = mds([mds_fmt(64), mds_data([(0, every_event(True)[:48]),
                                                    (106, every_event(True)[48:])])])
    f["ours-smpte-no-blocks"] = mds([mds_fmt(time_format=0xE728), mds_data([])])
    foreign = (mds_event(0, 0x02000000) + mds_event(3, 0x40403C90, stream_id=7)
               + mds_event(0, 0x82000004, b"note") + mds_event(1, 0x84000000)
               + mds_event(2, 0x0107A120) + mds_event(0, 0x0000003C)
               + mds_event(0, 0x00771045 | 0x80) + mds_long(0, b"\xf0\x01"))
    f["foreign"] = mds([riff_chunk(b"JUNK", b"\x01\x02\x03"),
                        mds_fmt(16, 0, 480, b"\x00\x00\x00\x00"),
                        mds_info(b"Title\x00", b"(C)\x00"),
                        riff_chunk(b"LIST", b"adtl" + riff_chunk(b"labl", b"x")),
                        mds_data([(5, foreign), (0, mds_event(1, 0x80000001, b"\xf7", fill=False))]),
                        riff_chunk(b"DISP", b"\x01"), mds_info(b"second")], riff_size=0)
    f["foreign-trailing"] = f["ours"] + bytes(7)
    f["delta-too-large"] = mds([mds_fmt(), mds_data([(0, mds_event(0x10000000, 0x00403C90))])])
    f["fault-cut"] = f["ours"][:-20]
    f["fault-status-f8"] = mds([mds_fmt(), mds_data([(0, mds_event(0, 0xF8))])])
    f["fault-running-status-first"] = mds([mds_fmt(), mds_data([(0, mds_event(0, 0x4030))])])
    f["fault-data-before-fmt"] = mds([mds_data([(0, mds_event(0, 0x00403C90))]), mds_fmt()])
    f["fault-block-count"] = mds([mds_fmt(), riff_chunk(b"data", le32(3) + le32(0) + le32(0))])
    return f


def lenient_seeds():
    """Files that break the rules the way real files do, one or more rules each."""
    note = b"\x00\x90\x3c\x40"
    f = {}
    f["running-status-after-lyric"] = smf([track(note + meta(0x05, b"la") + b"\x10\x3c\x00")])
    f["running-status-after-name"] = smf([track(b"\x00\xc0\x05" + meta(0x03, b"Piano") + b"\x00\x06"
                                                 + notes(8))])
    f["running-status-after-sysex"] = smf([track(b"\x00\xb0\x07\x64\x00\xf0\x05\x7e\x7f\x09\x01"
                                                  b"\xf7\x00\x0a\x40" + notes(4))])
    f["last-track-length-too-large"] = smf([track(notes(6)), chunk(b"MTrk", notes(3) + EOT, 40)])
    f["foreign-chunk-cut"] = smf([track(notes(3))], ntrks=2) + chunk(b"XFIH", b"\x01\x02", 64)
    f["no-end-of-track"] = smf([track(notes(5), end=False), track(notes(5, 1), end=False)])
    f["padding-after-end-of-track"] = smf([chunk(b"MTrk", notes(4) + EOT + bytes(6))])
    f["track-length-short"] = smf([chunk(b"MTrk", notes(4) + EOT, len(notes(4)) + 1), track(notes(2))])
    f["empty-track-chunk"] = smf([track(notes(2)), chunk(b"MTrk", b"")])
    f["truncated-download"] = smf([track(notes(20)), track(notes(20, 1))])[:-37]
    f["meta-lengths-off"] = smf([track(meta(0x58, b"\x04\x02\x18") + meta(0x51, b"\x07\xa1\x20\x00")
                                       + meta(0x59, b"\x00") + notes(3)
                                       + b"\x00\xff\x2f\x01\x00", end=False)])
    f["more-chunks-announced"] = smf([track(notes(3)), track(notes(3, 2))], ntrks=5)
    f["cut-inside-chunk-header"] = smf([track(notes(3))], ntrks=2) + b"MTrk\x00\x00"
    f["rmid"] = rmid(smf([track(meta(0x03, b"RMID song") + notes(6)), track(notes(6, 1))]))
    f["rmid-list-first"] = rmid(smf([track(notes(3))], fmt=0),
                                b"LIST" + struct.pack("<I", 9) + b"INFOICOP\x01\x00")
    f["rmid-with-faults"] = rmid(f["running-status-after-lyric"] + b"\x00")
    return f


def main():
    args = [a for a in sys.argv[1:] if a != "--plain"]
    plain = "--plain" in sys.argv[1:]
    if len(args) != 1:
        sys.exit("usage: make-fuzz-seeds.py OUTDIR [--plain]")
    out = args[0]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20261207)
    seeds = valid_seeds(rng)
    seeds.update({"fault-" + k: v for k, v in fault_seeds().items()})
    # Option bytes: the defaults (4 KB), the smallest buffer, no running status, omitted ids,
    # the largest buffer with both flags; every seed gets one, in turn.
    options = (3, 0, 0x40 | 3, 0x80, 0xC0 | 62)
    for i, name in enumerate(sorted(seeds)):
        data = seeds[name]
        path = os.path.join(out, name + (".mid" if plain else ""))
        with open(path, "wb") as f:
            f.write(data if plain else data + bytes([options[i % len(options)]]))
    # A stream file is an input as it is: its last byte picks the running status of the way back.
    streams = mds_seeds()
    for name, data in streams.items():
        with open(os.path.join(out, "mds-" + name + (".mds" if plain else "")), "wb") as f:
            f.write(data)
    # The files to be read leniently get the lenient option bytes, in turn; the seeds above keep
    # the bytes they always had.
    lenient = lenient_seeds()
    lenient_options = (0x3F, 0x7F, 0xBF, 0xFF)
    for i, name in enumerate(sorted(lenient)):
        data = lenient[name]
        ext = ".rmi" if data.startswith(b"RIFF") else ".mid"
        path = os.path.join(out, "lenient-" + name + (ext if plain else ""))
        with open(path, "wb") as f:
            f.write(data if plain else data + bytes([lenient_options[i % len(lenient_options)]]))
    print("make-fuzz-seeds: %d seeds in %s" % (len(seeds) + len(streams) + len(lenient), out))


if __name__ == "__main__":
    main()
