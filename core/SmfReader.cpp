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

}  // namespace

SmfReader::SmfReader()
    : scratch(new (std::nothrow) uint8_t[ScratchBytes]),
      scratchCapacity(scratch ? ScratchBytes : 0) {}

SmfReader::~SmfReader() {
    delete[] scratch;
}

bool SmfReader::Parse(const uint8_t* image, uint32_t size, Song& target, bool allowMacBinary) {
    cursor.Attach(image, size);
    song = &target;
    song->Reset();
    outOfMemory = false;
    if (!ReadHeader(allowMacBinary)) return false;
    // The count covers chunks of every type; whatever follows the last one is never looked at.
    for (uint32_t i = 0; i < chunkCount; ++i)
        if (!ReadChunk()) return false;
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

bool SmfReader::ReadHeader(bool allowMacBinary) {
    if (ReadScratch(4) != 4) return false;
    if (std::memcmp(scratch, "MThd", 4) != 0) {
        // A Macintosh file may carry its MacBinary header: byte 0 (version) and the zero fill
        // bytes at 74 and 82 are all that tell one apart from garbage.
        if (!allowMacBinary || scratch[0] != 0) return false;
        if (ReadScratch(MacBinaryBytes - 4) != MacBinaryBytes - 4) return false;
        if (scratch[74 - 4] != 0 || scratch[82 - 4] != 0) return false;
        if (ReadScratch(4) != 4 || std::memcmp(scratch, "MThd", 4) != 0) return false;
    }
    uint32_t length = 0;
    uint16_t format = 0, division = 0;
    if (!ReadUInt32(length) || length < 6) return false;
    if (!ReadUInt16(format) || !song->SetFormat(format)) return false;
    if (!ReadUInt16(chunkCount)) return false;
    if (!ReadUInt16(division) || !song->SetDivision(division)) return false;
    // The header chunk may grow in later revisions: honour its length, skip what we don't know.
    return cursor.SkipBytes(length - 6);
}

bool SmfReader::ReadChunk() {
    if (ReadScratch(4) != 4) return false;
    const bool isTrack = std::memcmp(scratch, "MTrk", 4) == 0;
    if (std::memcmp(scratch, "MThd", 4) == 0) return false;
    uint32_t length = 0;
    if (!ReadUInt32(length)) return false;
    if (!isTrack) return cursor.SkipBytes(length);
    if (length == 0) return false;

    Track* track = song->AppendTrack();
    if (!track) {
        outOfMemory = true;
        return false;
    }
    // Events are read straight from the image: every read below checks the end of the image
    // itself, as the cursor would, and the cursor catches up once the chunk is done.
    const uint8_t* const chunkStart = cursor.Base() + cursor.Position();
    const uint8_t* const end = cursor.Base() + cursor.Size();
    const uint8_t* p = chunkStart;
    uint32_t tick = 0;
    uint8_t runningStatus = 0;  // none: it never passes from one chunk to the next
    bool ok = false;
    for (;;) {
        bool endOfTrack = false;
        if (!ReadEvent(p, end, *track, tick, runningStatus, endOfTrack)) break;
        // An event that runs past the chunk is read in full from the bytes after it; this test
        // then refuses it, as it refuses a chunk that ends without an End of Track.
        const size_t read = size_t(p - chunkStart);
        if (endOfTrack) {
            ok = read == length;
            break;
        }
        if (read >= length) break;
    }
    cursor.SkipBytes(uint32_t(p - chunkStart));
    return ok;
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

bool SmfReader::ReadEvent(const uint8_t*& p, const uint8_t* end, Track& track, uint32_t& tick,
                          uint8_t& runningStatus, bool& endOfTrack) {
    uint32_t delta = 0;
    if (!ReadVarLenAt(p, end, delta)) return false;
    tick += delta;  // wraps at 2^32, as the tick is unsigned 32-bit
    if (p == end) return false;
    uint8_t status = *p;
    if (status < 0x80) {
        if (!runningStatus) return false;
        status = runningStatus;  // the byte stays unread: it is the first data byte
    } else {
        ++p;
    }
    const uint8_t* const from = p;
    if (status < 0xF0) {
        // Data bytes are not examined: a byte of 0x80 or above in a data position is data.
        const uint32_t dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;
        if (uint32_t(end - p) < dataBytes) return false;
        p += dataBytes;
        runningStatus = status;
        return Store(track, status, from, p, tick);
    }
    runningStatus = 0;
    uint32_t length = 0;
    if (status == 0xF0 || status == 0xF7) {
        if (!ReadVarLenAt(p, end, length) || uint32_t(end - p) < length) return false;
        p += length;
        return Store(track, status, from, p, tick);
    }
    if (status != 0xFF) return false;  // system common and real-time messages have no place here
    if (p == end) return false;
    const uint8_t type = *p++;
    if (type >= 0x80) return false;
    if (!ReadVarLenAt(p, end, length)) return false;
    const int fixed = FixedMetaLength(type);
    if (fixed >= 0 && length != uint32_t(fixed)) return false;
    if (uint32_t(end - p) < length) return false;
    p += length;
    if (!Store(track, status, from, p, tick)) return false;
    endOfTrack = type == 0x2F;
    return true;
}
