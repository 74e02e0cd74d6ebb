#include "core/SmfReader.h"

#include <cstring>

#include "core/SongScan.h"

uint32_t ByteCursor::ReadBytes(uint8_t* destination, uint32_t n) {
    const uint32_t count = n < reader.Left() ? n : reader.Left();
    if (count) std::memcpy(destination, reader.Bytes(count), count);
    return count;
}

bool ByteCursor::SkipBytes(uint32_t n) {
    if (n == 0) return true;
    if (reader.AtEnd()) return false;
    const uint32_t count = n < reader.Left() ? n : reader.Left();
    reader.Skip(count);
    return count == n;
}

namespace {

constexpr uint32_t MacBinaryBytes = 128;

// Meta events whose length the SMF fixes; any other length marks a damaged file.
int FixedMetaLength(uint8_t type) {
    switch (type) {
        case 0x00:
            return 2;  // Sequence Number
        case 0x20:
            return 1;  // MIDI Channel Prefix
        case 0x2F:
            return 0;  // End of Track
        case 0x51:
            return 3;  // Set Tempo
        case 0x54:
            return 5;  // SMPTE Offset
        case 0x58:
            return 4;  // Time Signature
        case 0x59:
            return 2;  // Key Signature
        default:
            return -1;
    }
}

bool IsRmid(ByteReader image) {
    return image.Is("RIFF") && image.Skip(8) && image.Is("RMID");
}

// A song filled by the reading.
struct SongTracks {
    Song& song;
    void Reset() { song.Reset(); }
    bool SetFormat(uint16_t value) { return song.SetFormat(value); }
    bool SetDivision(uint16_t value) { return song.SetDivision(value); }
    Track* AppendTrack() { return song.AppendTrack(); }
    bool EndTrack(const uint8_t*, uint32_t, bool) { return true; }
};

uint32_t LastTick(const Track& track) {
    return track.Empty() ? 0 : track.Last()->tick;
}
uint32_t LastTick(const TrackScanner& track) {
    return track.LastTick();
}

}  // namespace

SmfReader::SmfReader(SmfReadMode mode) : mode(mode) {}

SmfReader::~SmfReader() {}

bool SmfReader::Parse(const uint8_t* image, uint32_t size, Song& song, bool allowMacBinary) {
    SongTracks tracks{song};
    return Read(image, size, tracks, allowMacBinary);
}

bool SmfReader::Scan(const uint8_t* image, uint32_t size, SongScan& scan, bool allowMacBinary) {
    return Read(image, size, scan, allowMacBinary);
}

template <class Tracks>
bool SmfReader::Read(const uint8_t* image, uint32_t size, Tracks& tracks, bool allowMacBinary) {
    cursor.Attach(image, size);
    tracks.Reset();
    outOfMemory = false;
    fault = SmfFault();
    mends = 0;
    imageOffset = 0;
    headerOffset = 0;
    chunkNumber = 0;
    inTrackChunk = false;
    if (ReadImage(tracks, allowMacBinary)) return true;
    if (outOfMemory) fault = SmfFault();
    return false;
}

template <class Tracks>
bool SmfReader::ReadImage(Tracks& tracks, bool allowMacBinary) {
    const bool lenient = mode == SmfReadMode::Lenient;
    if (lenient && IsRmid(cursor.Reader())) {
        if (!EnterRmid()) return false;
        allowMacBinary = false;
    }
    if (!ReadHeader(tracks, allowMacBinary)) return false;
    // The count covers chunks of every type; whatever follows the last one is never looked at.
    for (uint32_t i = 1; i <= chunkCount; ++i) {
        if (!lenient) {
            if (!ReadChunk<false>(tracks, i)) return false;
            continue;
        }
        // Writers that count their chunks wrong, or files cut off after a whole chunk.
        if (cursor.Reader().Left() < 8) {
            mends |= SmfMend::MissingChunks;
            return true;
        }
        if (!ReadChunk<true>(tracks, i)) return false;
    }
    return true;
}

bool SmfReader::Fail(SmfFaultKind kind, uint32_t position) {
    fault.kind = kind;
    fault.chunk = chunkNumber;
    fault.trackChunk = inTrackChunk;
    fault.offset = imageOffset + position;
    return false;
}

// Windows wraps a MIDI file in RIFF: the form RMID, then chunks of an identifier, a little-endian
// length and the data, padded to an even length. The SMF is the data chunk. The RIFF length is
// not trusted: writers get it wrong, and the chunks tell where they end.
bool SmfReader::EnterRmid() {
    ByteReader r = cursor.Reader();
    r.Skip(12);
    while (r.Left() >= 8) {
        const bool data = r.Is("data");
        r.Skip(4);
        const uint32_t length = r.Le32();
        if (data) {
            mends |= SmfMend::Rmid;
            if (length > r.Left()) mends |= SmfMend::ChunkCut;
            imageOffset = uint32_t(r.Position() - cursor.Base());
            cursor.Attach(r.Position(), length < r.Left() ? length : r.Left());
            return true;
        }
        if (!r.Skip(length) || ((length & 1) && !r.Skip(1))) break;
    }
    return Fail(SmfFaultKind::NotSmf, 0u);
}

template <class Tracks>
bool SmfReader::ReadHeader(Tracks& tracks, bool allowMacBinary) {
    ByteReader& r = cursor.Reader();
    if (r.Left() < 4) return Fail(SmfFaultKind::NotSmf, 0u);
    if (!r.Is("MThd")) {
        // A Macintosh file may carry its MacBinary header: byte 0 (version) and the zero fill
        // bytes at 74 and 82 are all that tell one apart from garbage.
        const ByteReader mac = r.Take(MacBinaryBytes);
        const uint8_t* const header = mac.Position();
        if (!allowMacBinary || !r.Ok() || header[0] != 0 || header[74] != 0 || header[82] != 0 ||
            !r.Is("MThd"))
            return Fail(SmfFaultKind::NotSmf, 0u);
    }
    r.Skip(4);
    headerOffset = imageOffset + cursor.Position() - 4;
    const uint32_t at = cursor.Position();
    const uint32_t length = r.Be32();
    if (!r.Ok()) return Fail(SmfFaultKind::CutShort, at);
    if (length < 6) return Fail(SmfFaultKind::HeaderLength, at);
    const uint16_t format = r.Be16();
    if (!r.Ok()) return Fail(SmfFaultKind::CutShort, at + 4);
    if (!tracks.SetFormat(format)) return Fail(SmfFaultKind::Format, at + 4);
    chunkCount = r.Be16();
    if (!r.Ok()) return Fail(SmfFaultKind::CutShort, at + 6);
    const uint16_t division = r.Be16();
    if (!r.Ok()) return Fail(SmfFaultKind::CutShort, at + 8);
    if (!tracks.SetDivision(division)) return Fail(SmfFaultKind::Division, at + 8);
    // The header chunk may grow in later revisions: honour its length, skip what we don't know.
    const uint32_t extra = length - 6;
    if (extra > r.Left()) {
        if (mode == SmfReadMode::Strict) return Fail(SmfFaultKind::CutShort, at + 10);
        mends |= SmfMend::ChunkCut;
    }
    r.Skip(extra < r.Left() ? extra : r.Left());
    return true;
}

template <class TrackSink>
bool SmfReader::Store(TrackSink& track, uint8_t status, const uint8_t* from, const uint8_t* to,
                      uint32_t tick) {
    if (track.Append(status, from, uint32_t(to - from), tick)) return true;
    outOfMemory = true;
    return false;
}

template <bool Lenient>
bool SmfReader::CutShort(const uint8_t* event) {
    if constexpr (Lenient) {
        eventCut = true;
        return false;
    } else {
        return Fail(SmfFaultKind::CutShort, event);
    }
}

template <bool Lenient>
bool SmfReader::BadNumber(const uint8_t* event, const uint8_t* at, const uint8_t* end) {
    if (end - at >= 4) return Fail(SmfFaultKind::LongNumber, at);
    return CutShort<Lenient>(event);
}

template <bool Lenient>
uint8_t SmfReader::ChannelStatus(uint8_t status, bool statusByte) {
    if constexpr (Lenient) {
        if (statusByte)
            statusCarried = false;
        else if (statusCarried)
            mends |= SmfMend::RunningStatusAfterMeta;
    }
    return status;
}

// Inlined into the chunk loop: an event takes a few nanoseconds, a call a good share of them.
template <bool Lenient, class TrackSink>
[[gnu::always_inline]] inline bool SmfReader::ReadEvent(ByteReader& r, TrackSink& track,
                                                        uint32_t& tick, uint8_t& runningStatus,
                                                        bool& endOfTrack) {
    // Nearly every event, read as the steps below would.
    ShortChannelEvent common;
    if (TakeShortChannelEvent(r, runningStatus, common)) {
        tick += common.delta;
        runningStatus = ChannelStatus<Lenient>(common.status, common.statusByte);
        return Store(track, common.status, common.data,
                     common.data + ChannelDataBytes(common.status), tick);
    }
    const uint8_t* const event = r.Position();
    const uint32_t delta = r.VarLen();
    if (!r.Ok()) return BadNumber<Lenient>(event, event, r.End());
    tick += delta;  // wraps at 2^32, as the tick is unsigned 32-bit
    uint8_t status = 0;
    if (!r.PeekByte(status)) return CutShort<Lenient>(event);
    const bool statusByte = status >= 0x80;
    if (!statusByte) {
        if (!runningStatus) return Fail(SmfFaultKind::DataWithoutStatus, r.Position());
        status = runningStatus;  // the byte stays unread: it is the first data byte
    } else {
        r.Skip(1);
    }
    const uint8_t* const from = r.Position();
    if (status < 0xF0) {
        // Data bytes are not examined: a byte of 0x80 or above in a data position is data.
        if (!r.Skip(ChannelDataBytes(status))) return CutShort<Lenient>(event);
        runningStatus = ChannelStatus<Lenient>(status, statusByte);
        return Store(track, status, from, r.Position(), tick);
    }
    if constexpr (Lenient)
        statusCarried = statusCarried || runningStatus != 0;
    else
        runningStatus = 0;
    if (status == 0xF0 || status == 0xF7) {
        const uint32_t length = r.VarLen();
        if (!r.Ok()) return BadNumber<Lenient>(event, from, r.End());
        if (!r.Skip(length)) return CutShort<Lenient>(event);
        return Store(track, status, from, r.Position(), tick);
    }
    // System common and real-time messages have no place here.
    if (status != 0xFF) return Fail(SmfFaultKind::BadStatus, from - 1);
    const uint8_t type = r.Byte();
    if (!r.Ok()) return CutShort<Lenient>(event);
    if (type >= 0x80) return Fail(SmfFaultKind::MetaType, from);
    const uint8_t* const lengthAt = r.Position();
    const uint32_t length = r.VarLen();
    if (!r.Ok()) return BadNumber<Lenient>(event, lengthAt, r.End());
    const int fixed = FixedMetaLength(type);
    bool misfit = false;
    if (fixed >= 0 && length != uint32_t(fixed)) {
        if constexpr (!Lenient) return Fail(SmfFaultKind::MetaLength, lengthAt);
        misfit = true;
    }
    if (!r.Skip(length)) return CutShort<Lenient>(event);
    if (misfit) mends |= SmfMend::MetaLength;
    if (!Store(track, status, from, r.Position(), tick)) return false;
    endOfTrack = type == 0x2F;
    return true;
}

template <bool Lenient, class Tracks>
bool SmfReader::ReadChunk(Tracks& tracks, uint32_t number) {
    chunkNumber = number;
    inTrackChunk = false;
    ByteReader& r = cursor.Reader();
    const uint32_t chunkStart = cursor.Position();
    if (r.Left() < 4) return Fail(SmfFaultKind::MissingChunks, chunkStart);
    const bool isTrack = r.Is("MTrk");
    if (r.Is("MThd")) return Fail(SmfFaultKind::SecondHeader, chunkStart);
    if (r.Left() < 8) return Fail(SmfFaultKind::MissingChunks, chunkStart);
    r.Skip(4);
    uint32_t length = r.Be32();
    inTrackChunk = isTrack;
    const uint32_t rest = r.Left();
    if (length > rest) {
        if constexpr (Lenient) {
            mends |= SmfMend::ChunkCut;
            length = rest;
        } else if (!isTrack) {
            return Fail(SmfFaultKind::ChunkPastEnd, chunkStart);
        }
    }
    if (!isTrack) return r.Skip(length);
    if (!Lenient && length == 0) return Fail(SmfFaultKind::EmptyTrack, chunkStart);

    auto* track = tracks.AppendTrack();
    if (!track) {
        outOfMemory = true;
        return false;
    }
    const uint8_t* const chunkBegin = r.Position();
    uint32_t tick = 0;
    uint8_t runningStatus = 0;  // none: it never passes from one chunk to the next
    if constexpr (!Lenient) {
        // The strict reader reads up to the end of the image: an event that runs past the chunk
        // is read in full from the bytes after it, and the tests below refuse it, as they refuse
        // a chunk that ends without an End of Track.
        ByteReader events(chunkBegin, rest);
        for (;;) {
            const uint8_t* const event = events.Position();
            bool endOfTrack = false;
            if (!ReadEvent<false>(events, *track, tick, runningStatus, endOfTrack)) return false;
            const uint32_t read = uint32_t(events.Position() - chunkBegin);
            if (endOfTrack) {
                if (read != length) return Fail(SmfFaultKind::EndOfTrackNotAtEnd, event);
                r.Skip(length);
                return tracks.EndTrack(chunkBegin, length, false);
            }
            if (read >= length) return Fail(SmfFaultKind::NoEndOfTrack, event);
        }
    } else {
        ByteReader events = r.Take(length);
        statusCarried = false;
        eventCut = false;
        bool endOfTrack = false;
        while (!events.AtEnd() && !endOfTrack) {
            if (!ReadEvent<true>(events, *track, tick, runningStatus, endOfTrack)) {
                if (!eventCut) return false;
                break;
            }
        }
        if (!endOfTrack || !events.AtEnd()) mends |= SmfMend::TrackEnd;
        if (!endOfTrack) {
            static const uint8_t EndOfTrack[2] = {0x2F, 0x00};
            if (!Store(*track, 0xFF, EndOfTrack, EndOfTrack + 2, LastTick(*track))) return false;
        }
        return tracks.EndTrack(chunkBegin, length, !endOfTrack);
    }
}
