"""midibuild.py: the bytes of Standard MIDI Files and MIDI stream files, for the tools that write
songs (the sample, the benchmark songs, the fuzz seeds, the limit files, the promise checker).

SMF numbers are big-endian, RIFF numbers little-endian. Every function returns bytes; none
checks what it is given, so damaged files are as easy to write as good ones.
"""
import struct

EOT = b"\x00\xff\x2f\x00"  # End of Track with a delta of 0


def varlen(value):
    """A variable-length number, as deltas and lengths are written."""
    out = bytearray([value & 0x7F])
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def meta(kind, data):
    """A meta event without its delta."""
    return bytes([0xFF, kind]) + varlen(len(data)) + data


def sysex(data):
    """A system exclusive event without its delta; data: the bytes after F0, F7 included."""
    return b"\xf0" + varlen(len(data)) + data


def chunk(cid, data, length=None):
    """An SMF chunk; length, when given, is what the chunk claims instead of its size."""
    return cid + struct.pack(">I", len(data) if length is None else length) + data


def header(fmt=1, ntrks=1, division=96, length=6, extra=b""):
    return b"MThd" + struct.pack(">IHHH", length, fmt, ntrks, division) + extra


def track(events, end=True):
    """A track chunk of events (with their deltas), closed by End of Track unless end is false."""
    return chunk(b"MTrk", events + (EOT if end else b""))


def smf(tracks, fmt=1, division=96, ntrks=None):
    """A whole SMF of chunks; ntrks, when given, is what the header announces instead."""
    return header(fmt, len(tracks) if ntrks is None else ntrks, division) + b"".join(tracks)


class TrackWriter:
    """Appends events at absolute ticks, using running status as a file writer does: a channel
    message leaves out a status equal to the one before, and meta and system exclusive events
    cancel it."""

    def __init__(self):
        self.out = bytearray()
        self.tick = 0
        self.status = 0

    def at(self, tick):
        self.out += varlen(tick - self.tick)
        self.tick = tick

    def channel(self, tick, status, *data):
        self.at(tick)
        if status != self.status:
            self.out.append(status)
            self.status = status
        self.out += bytes(data)

    def other(self, tick, raw):
        self.at(tick)
        self.out += raw
        self.status = 0

    def chunk(self, end_tick):
        """The track chunk, its End of Track at end_tick (or at the last event, if later)."""
        self.other(max(end_tick, self.tick), meta(0x2F, b""))
        return chunk(b"MTrk", bytes(self.out))


def macbinary(image, name=b"song.mid"):
    """image behind a 128-byte MacBinary header."""
    h = bytearray((0x41 + i % 26) for i in range(128))
    h[0] = h[74] = h[82] = 0
    h[1] = len(name) + 1
    h[2:3 + len(name)] = name + b"\x00"
    return bytes(h) + image


def le32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


def riff_chunk(cid, body):
    """A RIFF chunk, with its fill byte after an odd size."""
    return cid + le32(len(body)) + body + (b"\x00" if len(body) & 1 else b"")


def riff(form, chunks, size=None):
    """A RIFF file; size, when given, is what the RIFF chunk claims instead of its size."""
    body = b"".join(chunks)
    return b"RIFF" + le32(len(body) + 4 if size is None else size) + form + body


def mds(chunks, riff_size=None):
    return riff(b"MIDS", chunks, riff_size)


def mds_fmt(max_buffer=1024, flags=0, time_format=96, extra=b""):
    return riff_chunk(b"fmt ", struct.pack("<III", time_format, max_buffer, flags) + extra)


def mds_data(blocks):
    """blocks: (start tick, the block's packed events)."""
    body = le32(len(blocks))
    for tick_start, events in blocks:
        body += le32(tick_start) + le32(len(events)) + events
    return riff_chunk(b"data", body)


def mds_event(delta, word, params=b"", stream_id=0, ids=True, fill=True):
    """A packed stream event: delta, stream identifier (unless ids is false), event word,
    parameters filled up to 4 bytes (unless fill is false)."""
    out = le32(delta) + (le32(stream_id) if ids else b"") + le32(word) + params
    return out + (bytes(-len(params) % 4) if fill else b"")


def mds_long(delta, params, ids=True):
    return mds_event(delta, 0x80000000 | len(params), params, ids=ids)


def mds_info(title=None, copyright=None):
    texts = b""
    if title is not None:
        texts += riff_chunk(b"INAM", title)
    if copyright is not None:
        texts += riff_chunk(b"ICOP", copyright)
    return riff_chunk(b"LIST", b"INFO" + texts)


def rmid(image, before=b""):
    """A RIFF RMID file: optional chunks, the SMF as its data chunk, an INFO list."""
    body = before + riff_chunk(b"data", image)
    body += riff_chunk(b"LIST", b"INFO" + riff_chunk(b"INAM", b"Song\x00"))
    return riff(b"RMID", [body])
