#include "core/SmfReader.h"

#include <cstring>
#include <new>

uint32_t ByteCursor::ReadBytes(uint8_t* destination, uint32_t n) {
    if (position >= size) return 0;
    const uint32_t count = n < size - position ? n : size - position;
    std::memcpy(destination, base + position, count);
    position += count;
    return count;
}

bool ByteCursor::SkipBytes(uint32_t n) {
    if (n == 0) return true;
    if (position >= size) return false;
    const uint32_t count = n < size - position ? n : size - position;
    position += count;
    return count == n;
}

namespace {

constexpr uint32_t ScratchBytes = 256;
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

bool IsRmid(const uint8_t* image, uint32_t size) {
    return size >= 12 && std::memcmp(image, "RIFF", 4) == 0 &&
           std::memcmp(image + 8, "RMID", 4) == 0;
}

}  // namespace

SmfReader::SmfReader(SmfReadMode mode)
    : scratch(new (std::nothrow) uint8_t[ScratchBytes]),
      scratchCapacity(scratch ? ScratchBytes : 0),
      mode(mode) {}

SmfReader::~SmfReader() {
    delete[] scratch;
}

bool SmfReader::Parse(const uint8_t* image, uint32_t size, Song& target, bool allowMacBinary) {
    cursor.Attach(image, size);
    song = &target;
    song->Reset();
    outOfMemory = false;
    fault = SmfFault();
    mends = 0;
    imageOffset = 0;
    headerOffset = 0;
    chunkNumber = 0;
    inTrackChunk = false;
    if (ReadImage(allowMacBinary)) return true;
    if (outOfMemory) fault = SmfFault();
    return false;
}

bool SmfReader::ReadImage(bool allowMacBinary) {
    const bool lenient = mode == SmfReadMode::Lenient;
    if (lenient && IsRmid(cursor.Base(), cursor.Size())) {
        if (!EnterRmid()) return false;
        allowMacBinary = false;
    }
    if (!ReadHeader(allowMacBinary)) return false;
    // The count covers chunks of every type; whatever follows the last one is never looked at.
    for (uint32_t i = 1; i <= chunkCount; ++i) {
        if (!lenient) {
            if (!ReadChunk<false>(i)) return false;
            continue;
        }
        // Writers that count their chunks wrong, or files cut off after a whole chunk.
        if (cursor.Size() - cursor.Position() < 8) {
            mends |= SmfMend::MissingChunks;
            return true;
        }
        if (!ReadChunk<true>(i)) return false;
    }
    return true;
}

uint32_t SmfReader::ReadScratch(uint32_t n) {
    if (scratchCapacity < n) {
        delete[] scratch;
        scratch = new (std::nothrow) uint8_t[n + ScratchBytes];
        scratchCapacity = scratch ? n + ScratchBytes : 0;
        if (!scratch) {
            outOfMemory = true;
            return 0;
        }
    }
    return cursor.ReadBytes(scratch, n);
}

bool SmfReader::ReadUInt16(uint16_t& out) {
    if (ReadScratch(2) != 2) return false;
    out = GetBe16(scratch);
    return true;
}

bool SmfReader::ReadUInt32(uint32_t& out) {
    if (ReadScratch(4) != 4) return false;
    out = GetBe32(scratch);
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
    const uint8_t* const image = cursor.Base();
    const uint32_t size = cursor.Size();
    uint32_t at = 12;
    while (size - at >= 8) {
        const uint32_t length = GetLe32(image + at + 4);
        const uint32_t start = at + 8;
        const uint32_t available = size - start;
        if (std::memcmp(image + at, "data", 4) == 0) {
            mends |= SmfMend::Rmid;
            if (length > available) mends |= SmfMend::ChunkCut;
            cursor.Attach(image + start, length < available ? length : available);
            imageOffset = start;
            return true;
        }
        const uint64_t next = uint64_t(start) + length + (length & 1);
        if (next > size) break;
        at = uint32_t(next);
    }
    return Fail(SmfFaultKind::NotSmf, 0u);
}

bool SmfReader::ReadHeader(bool allowMacBinary) {
    if (ReadScratch(4) != 4) return Fail(SmfFaultKind::NotSmf, 0u);
    if (std::memcmp(scratch, "MThd", 4) != 0) {
        // A Macintosh file may carry its MacBinary header: byte 0 (version) and the zero fill
        // bytes at 74 and 82 are all that tell one apart from garbage.
        if (!allowMacBinary || scratch[0] != 0) return Fail(SmfFaultKind::NotSmf, 0u);
        if (ReadScratch(MacBinaryBytes - 4) != MacBinaryBytes - 4)
            return Fail(SmfFaultKind::NotSmf, 0u);
        if (scratch[74 - 4] != 0 || scratch[82 - 4] != 0) return Fail(SmfFaultKind::NotSmf, 0u);
        if (ReadScratch(4) != 4 || std::memcmp(scratch, "MThd", 4) != 0)
            return Fail(SmfFaultKind::NotSmf, 0u);
    }
    headerOffset = imageOffset + cursor.Position() - 4;
    uint32_t at = cursor.Position();
    uint32_t length = 0;
    uint16_t format = 0, division = 0;
    if (!ReadUInt32(length)) return Fail(SmfFaultKind::CutShort, at);
    if (length < 6) return Fail(SmfFaultKind::HeaderLength, at);
    at += 4;
    if (!ReadUInt16(format)) return Fail(SmfFaultKind::CutShort, at);
    if (!song->SetFormat(format)) return Fail(SmfFaultKind::Format, at);
    at += 2;
    if (!ReadUInt16(chunkCount)) return Fail(SmfFaultKind::CutShort, at);
    at += 2;
    if (!ReadUInt16(division)) return Fail(SmfFaultKind::CutShort, at);
    if (!song->SetDivision(division)) return Fail(SmfFaultKind::Division, at);
    at += 2;
    // The header chunk may grow in later revisions: honour its length, skip what we don't know.
    if (cursor.SkipBytes(length - 6)) return true;
    if (mode == SmfReadMode::Strict) return Fail(SmfFaultKind::CutShort, at);
    mends |= SmfMend::ChunkCut;
    return true;
}

template <bool Lenient>
bool SmfReader::ReadChunk(uint32_t number) {
    chunkNumber = number;
    inTrackChunk = false;
    const uint32_t chunkStart = cursor.Position();
    if (ReadScratch(4) != 4) return Fail(SmfFaultKind::MissingChunks, chunkStart);
    const bool isTrack = std::memcmp(scratch, "MTrk", 4) == 0;
    if (std::memcmp(scratch, "MThd", 4) == 0) return Fail(SmfFaultKind::SecondHeader, chunkStart);
    uint32_t length = 0;
    if (!ReadUInt32(length)) return Fail(SmfFaultKind::MissingChunks, chunkStart);
    inTrackChunk = isTrack;
    const uint32_t rest = cursor.Size() - cursor.Position();
    if (length > rest) {
        if constexpr (Lenient) {
            mends |= SmfMend::ChunkCut;
            length = rest;
        } else if (!isTrack) {
            return Fail(SmfFaultKind::ChunkPastEnd, chunkStart);
        }
    }
    if (!isTrack) return cursor.SkipBytes(length);
    if (!Lenient && length == 0) return Fail(SmfFaultKind::EmptyTrack, chunkStart);

    Track* track = song->AppendTrack();
    if (!track) {
        outOfMemory = true;
        return false;
    }
    // Events are read straight from the image: every read below checks its end itself, as the
    // cursor would, and the cursor catches up once the chunk is done.
    const uint8_t* const chunkBegin = cursor.Base() + cursor.Position();
    const uint8_t* p = chunkBegin;
    uint32_t tick = 0;
    uint8_t runningStatus = 0;  // none: it never passes from one chunk to the next
    if constexpr (!Lenient) {
        // The strict reader reads up to the end of the image: an event that runs past the chunk
        // is read in full from the bytes after it, and the tests below refuse it, as they refuse
        // a chunk that ends without an End of Track.
        const uint8_t* const end = cursor.Base() + cursor.Size();
        bool ok = false;
        for (;;) {
            const uint8_t* const event = p;
            bool endOfTrack = false;
            if (!ReadEvent<false>(p, end, *track, tick, runningStatus, endOfTrack)) break;
            const size_t read = size_t(p - chunkBegin);
            if (endOfTrack) {
                ok = read == length || Fail(SmfFaultKind::EndOfTrackNotAtEnd, event);
                break;
            }
            if (read >= length) {
                Fail(SmfFaultKind::NoEndOfTrack, event);
                break;
            }
        }
        cursor.SkipBytes(uint32_t(p - chunkBegin));
        return ok;
    } else {
        const uint8_t* const end = chunkBegin + length;
        statusCarried = false;
        eventCut = false;
        bool endOfTrack = false;
        while (p != end && !endOfTrack) {
            if (!ReadEvent<true>(p, end, *track, tick, runningStatus, endOfTrack)) {
                if (!eventCut) return false;
                break;
            }
        }
        cursor.SkipBytes(length);
        if (endOfTrack && p == end) return true;
        mends |= SmfMend::TrackEnd;
        if (endOfTrack) return true;
        static const uint8_t EndOfTrack[2] = {0x2F, 0x00};
        const uint32_t last = track->Empty() ? 0 : track->Last()->tick;
        return Store(*track, 0xFF, EndOfTrack, EndOfTrack + 2, last);
    }
}

namespace {

// A variable-length quantity of at most 4 bytes at p, none beyond end; p moves past it.
inline bool ReadVarLenAt(const uint8_t*& p, const uint8_t* end, uint32_t& out) {
    const uint32_t taken = DecodeVarLen(p, uint32_t(end - p), out);
    p += taken;
    return taken != 0;  // cut short, or a fourth byte that still announces more
}

}  // namespace

bool SmfReader::Store(Track& track, uint8_t status, const uint8_t* from, const uint8_t* to,
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
bool SmfReader::ReadEvent(const uint8_t*& p, const uint8_t* end, Track& track, uint32_t& tick,
                          uint8_t& runningStatus, bool& endOfTrack) {
    const uint8_t* const event = p;
    uint32_t delta = 0;
    if (!ReadVarLenAt(p, end, delta)) return BadNumber<Lenient>(event, event, end);
    tick += delta;  // wraps at 2^32, as the tick is unsigned 32-bit
    if (p == end) return CutShort<Lenient>(event);
    uint8_t status = *p;
    const bool statusByte = status >= 0x80;
    if (!statusByte) {
        if (!runningStatus) return Fail(SmfFaultKind::DataWithoutStatus, p);
        status = runningStatus;  // the byte stays unread: it is the first data byte
    } else {
        ++p;
    }
    const uint8_t* const from = p;
    if (status < 0xF0) {
        // Data bytes are not examined: a byte of 0x80 or above in a data position is data.
        const uint32_t dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;
        if (uint32_t(end - p) < dataBytes) return CutShort<Lenient>(event);
        p += dataBytes;
        if constexpr (Lenient) {
            if (statusByte)
                statusCarried = false;
            else if (statusCarried)
                mends |= SmfMend::RunningStatusAfterMeta;
        }
        runningStatus = status;
        return Store(track, status, from, p, tick);
    }
    if constexpr (Lenient)
        statusCarried = statusCarried || runningStatus != 0;
    else
        runningStatus = 0;
    uint32_t length = 0;
    const uint8_t* lengthAt = p;
    if (status == 0xF0 || status == 0xF7) {
        if (!ReadVarLenAt(p, end, length)) return BadNumber<Lenient>(event, lengthAt, end);
        if (uint32_t(end - p) < length) return CutShort<Lenient>(event);
        p += length;
        return Store(track, status, from, p, tick);
    }
    // System common and real-time messages have no place here.
    if (status != 0xFF) return Fail(SmfFaultKind::BadStatus, p - 1);
    if (p == end) return CutShort<Lenient>(event);
    const uint8_t type = *p++;
    if (type >= 0x80) return Fail(SmfFaultKind::MetaType, p - 1);
    lengthAt = p;
    if (!ReadVarLenAt(p, end, length)) return BadNumber<Lenient>(event, lengthAt, end);
    const int fixed = FixedMetaLength(type);
    bool misfit = false;
    if (fixed >= 0 && length != uint32_t(fixed)) {
        if constexpr (!Lenient) return Fail(SmfFaultKind::MetaLength, lengthAt);
        misfit = true;
    }
    if (uint32_t(end - p) < length) return CutShort<Lenient>(event);
    p += length;
    if (misfit) mends |= SmfMend::MetaLength;
    if (!Store(track, status, from, p, tick)) return false;
    endOfTrack = type == 0x2F;
    return true;
}
