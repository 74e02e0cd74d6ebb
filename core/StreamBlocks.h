// StreamBlocks.h: turns a track into packed MIDI stream events, cut into stream buffers.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"

class Song;
class Track;

// A growable in-memory file. Growing allocates whole growBy steps; bytes that a larger length or a
// write past the end brings in read back as zeros.
class MemoryFile {
public:
    explicit MemoryFile(uint32_t growBy);
    MemoryFile(
        const MemoryFile& other);  // copies growBy and the content (empty when out of memory)
    MemoryFile& operator=(const MemoryFile&) = delete;
    virtual ~MemoryFile();

    virtual uint32_t GetPosition() const;
    virtual bool SetLength(uint32_t n);  // false when memory runs out
    virtual uint32_t GetLength() const;
    virtual void Close();
    virtual uint32_t Read(uint8_t* dst, uint32_t n);
    virtual bool Write(const uint8_t* src, uint32_t n);  // false when memory runs out
    virtual int64_t Seek(int64_t offset, int origin);    // origin 0 start, 1 position, 2 size
    virtual bool Grow(uint32_t needed);

    const uint8_t* Data() const { return storage; }
    uint32_t GrowBy() const { return growBy; }
    // Closes the file and opens it, empty, over bytes of memory that it does not own and that
    // must outlive it; a write that passes them moves the content into storage of its own.
    void Attach(uint8_t* memory, uint32_t bytes) {
        Close();
        storage = memory;
        capacity = bytes;
        ownsStorage = false;
    }
    // Room for n more bytes at the end, which the caller fills: the length and the position move
    // past them. Null when memory runs out. What an encoder writes goes straight into place.
    uint8_t* Extend(uint32_t n) {
        if (n > capacity - size && (n > UINT32_MAX - size || !Grow(size + n))) return nullptr;
        uint8_t* at = storage + size;
        size += n;
        position = size;
        return at;
    }

private:
    uint32_t growBy;
    uint32_t position = 0;
    uint32_t capacity = 0;
    uint32_t size = 0;
    uint8_t* storage = nullptr;
    bool ownsStorage = true;
};

struct StreamBlock {
    explicit StreamBlock(uint32_t maxBufferBytes) : buffer(maxBufferBytes) {}
    uint32_t tickStart = 0;
    MemoryFile buffer;  // grows in steps of maxBufferBytes
    StreamBlock* prev = nullptr;
    StreamBlock* next = nullptr;
};

// The blocks of one conversion, in order; owns them.
class StreamBlockList {
public:
    StreamBlockList() {}
    StreamBlockList(const StreamBlockList&) = delete;
    StreamBlockList& operator=(const StreamBlockList&) = delete;
    virtual ~StreamBlockList();

    void Clear();
    // Clear, but memory given by Adopt stays, to be used again.
    void ClearBlocks();
    StreamBlock* Append(const StreamBlock& model);  // a copy of model; null when out of memory
    StreamBlock* First() const { return first; }
    StreamBlock* Last() const { return last; }
    uint32_t Count() const { return count; }
    // Stream events encoded into the blocks by BuildStreamBlocks.
    uint32_t EventCount() const { return eventCount; }
    void SetEventCount(uint32_t n) { eventCount = n; }

    // Memory for the buffer of a block, bytes long, which lives until Clear: taken in large
    // pieces rather than a heap block per buffer. Null when memory runs out.
    uint8_t* Room(uint32_t bytes);
    // Memory the blocks may use before any piece of their own: a file image that has been read
    // already is worth its pages again. The blocks are cleared; the memory is kept until Clear.
    void Adopt(ByteBuffer&& memory);

private:
    struct Piece {
        Piece* next;
        uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
    };

    StreamBlock* first = nullptr;
    StreamBlock* last = nullptr;
    uint32_t count = 0;
    uint32_t eventCount = 0;
    ByteBuffer adopted;
    Piece* pieces = nullptr;
    uint8_t* room = nullptr;  // the unused rest of the adopted memory or the newest piece
    size_t roomBytes = 0;
    size_t nextPieceBytes = 64 * 1024;
};

// The bytes an event takes in a block: a channel message or a tempo its three words (two with
// stream identifiers omitted); a system exclusive message its words, its parameters (an F0 in
// front when the message starts with it, then the data bytes) and the fill to a multiple of 4.
inline uint32_t PackedShortBytes(const ConversionOptions& options) {
    return options.omitStreamIds ? 8 : 12;
}
inline uint64_t PackedSysExBytes(uint8_t status, uint32_t length,
                                 const ConversionOptions& options) {
    const uint64_t n = status == 0xF0 ? uint64_t(length) + 1 : length;
    return PackedShortBytes(options) + n + (4 - n % 4) % 4;
}
// The bytes any stored event takes in a block, by its status (and a meta event's type) and the
// length of its data; 0 for one that is not encoded (every meta event but a tempo).
inline uint64_t PackedEventBytes(uint8_t status, uint8_t metaType, uint32_t length,
                                 const ConversionOptions& options) {
    if (status < 0xF0) return PackedShortBytes(options);
    if (status == 0xFF) return metaType == 0x51 && length == 3 ? PackedShortBytes(options) : 0;
    return PackedSysExBytes(status, length, options);
}
// Whether an event of packed bytes fits into an empty block. With stream identifiers omitted 4
// bytes per event stay free, so that a block still fits its limit if a player puts them back.
inline bool FitsEmptyBlock(uint64_t packed, const ConversionOptions& options) {
    return packed + (options.omitStreamIds ? 4 : 0) <= options.maxBufferBytes;
}

enum class BuildResult {
    Ok,
    EventTooLarge,  // an event does not fit even into an empty block (a long system exclusive)
    OutOfMemory,
};

// Encodes every event of track into blocks (cleared first, see ClearBlocks). On failure the caller
// discards the blocks and writes nothing.
BuildResult BuildStreamBlocks(const Track& track, const ConversionOptions& options,
                              StreamBlockList& blocks);
// The same for the track that MergeToSingleTrack would make of song, taken straight from the
// merge (Song::VisitMerged): the same blocks, but the song is left as it is, and every event is
// read once, in the merge, instead of being relinked there and walked again here.
BuildResult BuildMergedStreamBlocks(const Song& song, const ConversionOptions& options,
                                    StreamBlockList& blocks);
