#include "core/StreamBlocks.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/EventPool.h"

MemoryFile::MemoryFile(uint32_t growBy) : growBy(growBy ? growBy : 1) {}

MemoryFile::MemoryFile(const MemoryFile& other) : growBy(other.growBy) {
    if (!other.storage || other.capacity == 0) return;
    storage = new (std::nothrow) uint8_t[other.capacity];
    if (!storage) return;
    if (other.size) std::memcpy(storage, other.storage, other.size);
    capacity = other.capacity;
    size = other.size;
    position = other.position;
}

MemoryFile::~MemoryFile() {
    Close();
}

uint32_t MemoryFile::GetPosition() const {
    return position;
}

bool MemoryFile::SetLength(uint32_t n) {
    if (n > capacity && !Grow(n)) return false;
    // A file that grows this way reads back zeros, never stale or uninitialised bytes.
    if (n > size) std::memset(storage + size, 0, n - size);
    if (position > n) position = n;
    size = n;
    return true;
}

uint32_t MemoryFile::GetLength() const {
    return size;
}

void MemoryFile::Close() {
    if (ownsStorage) delete[] storage;
    storage = nullptr;
    position = size = capacity = 0;
}

uint32_t MemoryFile::Read(uint8_t* dst, uint32_t n) {
    if (n == 0 || position >= size) return 0;
    const uint32_t count = n < size - position ? n : size - position;
    std::memcpy(dst, storage + position, count);
    position += count;
    return count;
}

bool MemoryFile::Write(const uint8_t* src, uint32_t n) {
    if (n == 0) return true;
    if (n > UINT32_MAX - position) return false;  // a 4 GB file is the limit of its offsets
    const uint32_t end = position + n;
    if (end > capacity && !Grow(end)) return false;
    // After a Seek past the end the gap reads back as zeros.
    if (position > size) std::memset(storage + size, 0, position - size);
    std::memcpy(storage + position, src, n);
    position = end;
    if (size < position) size = position;
    return true;
}

int64_t MemoryFile::Seek(int64_t offset, int origin) {
    int64_t base = 0;
    switch (origin) {
        case 0:
            base = 0;
            break;
        case 1:
            base = position;
            break;
        case 2:
            base = size;
            break;
        default:
            return -1;
    }
    // Offsets are unsigned 32-bit; a target outside that range is refused like a negative one.
    if (offset < -int64_t(UINT32_MAX) - 1 || offset > int64_t(UINT32_MAX)) return -1;
    const int64_t target = base + offset;
    if (target < 0 || target > int64_t(UINT32_MAX)) return -1;
    position = uint32_t(target);
    return target;
}

bool MemoryFile::Grow(uint32_t needed) {
    if (capacity >= needed) return true;
    const uint64_t steps = (uint64_t(needed) - capacity + growBy - 1) / growBy;
    const uint64_t newCapacity = capacity + steps * growBy;
    if (newCapacity > UINT32_MAX) return false;
    uint8_t* grown = new (std::nothrow) uint8_t[size_t(newCapacity)];
    if (!grown) return false;
    if (size) std::memcpy(grown, storage, size);
    if (ownsStorage) delete[] storage;
    storage = grown;
    capacity = uint32_t(newCapacity);
    ownsStorage = true;
    return true;
}

StreamBlockList::~StreamBlockList() {
    Clear();
}

void StreamBlockList::Clear() {
    while (first) {
        StreamBlock* next = first->next;
        delete first;
        first = next;
    }
    last = nullptr;
    count = 0;
    eventCount = 0;
}

StreamBlock* StreamBlockList::Append(const StreamBlock& model) {
    StreamBlock* block = new (std::nothrow) StreamBlock(model.buffer.GrowBy());
    if (!block) return nullptr;
    block->tickStart = model.tickStart;
    if (model.buffer.GetLength() != 0 &&
        !block->buffer.Write(model.buffer.Data(), model.buffer.GetLength())) {
        delete block;
        return nullptr;
    }
    block->prev = last;
    if (last)
        last->next = block;
    else
        first = block;
    last = block;
    ++count;
    return block;
}

namespace {

bool WriteUInt32(MemoryFile& file, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return file.Write(bytes, 4);
}

enum class Encoded { Yes, Skipped, OutOfMemory };

// The event word of a channel message or a tempo change, the events that make up nearly all of a
// song: false for every other event.
inline bool ShortEventWord(const EventView& e, bool useRunningStatus, uint8_t& lastStatus,
                           uint32_t& word) {
    if (e.IsChannel()) {
        const uint32_t byte1 = e.length > 0 ? e.data[0] : 0;
        const uint32_t byte2 = e.length > 1 ? e.data[1] : 0;
        // A first data byte of 0x80 or above (a damaged file, which the reader accepts as data)
        // would read as a new status byte: only then is the status written again.
        if (useRunningStatus && e.status == lastStatus && byte1 < 0x80)
            word = byte1 | byte2 << 8;
        else
            word = e.status | byte1 << 8 | byte2 << 16;
        lastStatus = e.status;
        return true;
    }
    // A tempo is known by its type: skipping one whose length field is padded would play the
    // song at the wrong speed.
    if (!e.IsTempo()) return false;
    word = 0x01000000u | e.Tempo();
    lastStatus = 0;
    return true;
}

// Appends a system exclusive event's word, parameters and fill to scratch; every other event
// that ShortEventWord does not take is skipped.
Encoded EncodeLongEvent(const EventView& e, uint8_t& lastStatus, MemoryFile& scratch) {
    if (!e.IsSysEx()) return Encoded::Skipped;
    const uint32_t n = e.status == 0xF0 ? e.length + 1 : e.length;
    static const uint8_t Zeros[4] = {};
    const bool written = WriteUInt32(scratch, 0x80000000u + n) &&
                         (e.status != 0xF0 || scratch.Write(&e.status, 1)) &&
                         scratch.Write(e.data, e.length) && scratch.Write(Zeros, (4 - n % 4) % 4);
    lastStatus = 0;
    return written ? Encoded::Yes : Encoded::OutOfMemory;
}

}  // namespace

BuildResult BuildStreamBlocks(const Track& track, const ConversionOptions& options,
                              StreamBlockList& blocks) {
    blocks.Clear();
    const uint32_t maxBytes = options.maxBufferBytes;
    // Every block is a copy of this empty one, so each buffer grows in whole maxBufferBytes steps.
    const StreamBlock model(maxBytes);
    StreamBlock* current = blocks.Append(model);
    if (!current) return BuildResult::OutOfMemory;
    MemoryFile scratch(51200);
    uint32_t prevTick = 0;
    uint8_t lastStatus = 0;
    // With stream identifiers omitted, 4 bytes per event in the block are kept free, so a block
    // still fits its limit if a player puts the identifiers back.
    uint64_t allowance = 0;

    // Events gather in a stage of at most a block's size and reach the block's buffer in large
    // writes: the buffer grows in the same maxBufferBytes steps, without a call per event.
    const uint32_t StageBytes = maxBytes < 64 * 1024 ? maxBytes : 64 * 1024;
    std::unique_ptr<uint8_t[]> stage(new (std::nothrow) uint8_t[StageBytes]);
    if (!stage) return BuildResult::OutOfMemory;
    uint32_t staged = 0;
    auto flush = [&]() {
        const bool written = staged == 0 || current->buffer.Write(stage.get(), staged);
        staged = 0;
        return written;
    };

    uint32_t encodedCount = 0;
    for (const MidiEvent* event = track.First(); event; event = event->Next()) {
        PrefetchRunAhead(event);
        // The reader guarantees the layout; an event built by hand that lies is not encoded.
        EventView view;
        if (!event->View(view)) continue;
        // A short event is packed on the stack; only long messages go through the scratch file.
        uint8_t packed[12];
        const uint8_t* bytes = packed;
        uint32_t length = 0;
        uint32_t word = 0;
        if (ShortEventWord(view, options.useRunningStatus, lastStatus, word)) {
            PutLe32(packed, event->tick - prevTick);
            length = 4;
            if (!options.omitStreamIds) {
                PutLe32(packed + length, 0);
                length += 4;
            }
            PutLe32(packed + length, word);
            length += 4;
        } else {
            if (!scratch.SetLength(0)) return BuildResult::OutOfMemory;
            if (!WriteUInt32(scratch, event->tick - prevTick)) return BuildResult::OutOfMemory;
            if (!options.omitStreamIds && !WriteUInt32(scratch, 0)) return BuildResult::OutOfMemory;
            const Encoded encoded = EncodeLongEvent(view, lastStatus, scratch);
            if (encoded == Encoded::OutOfMemory) return BuildResult::OutOfMemory;
            if (encoded == Encoded::Skipped) continue;  // its time rides on the next event's delta
            bytes = scratch.Data();
            length = scratch.GetLength();
        }

        if (options.omitStreamIds) allowance += 4;
        if (current->buffer.GetLength() + staged + allowance + length > maxBytes) {
            if (!flush()) return BuildResult::OutOfMemory;
            StreamBlock* next = blocks.Append(model);
            if (!next) return BuildResult::OutOfMemory;
            next->tickStart = prevTick;
            current = next;
            allowance = options.omitStreamIds ? 4 : 0;
        }
        if (staged + length > StageBytes && !flush()) return BuildResult::OutOfMemory;
        if (length > StageBytes) {
            if (!current->buffer.Write(bytes, length)) return BuildResult::OutOfMemory;
        } else if (length == 12) {  // a constant length copies without a call to memcpy
            std::memcpy(stage.get() + staged, bytes, 12);
        } else if (length == 8) {
            std::memcpy(stage.get() + staged, bytes, 8);
        } else {
            std::memcpy(stage.get() + staged, bytes, length);
        }
        if (length <= StageBytes) staged += length;
        prevTick = event->tick;
        if (current->buffer.GetLength() + staged + allowance > maxBytes) {
            flush();
            return BuildResult::EventTooLarge;
        }
        blocks.SetEventCount(++encodedCount);
    }
    if (!flush()) return BuildResult::OutOfMemory;
    return BuildResult::Ok;
}
