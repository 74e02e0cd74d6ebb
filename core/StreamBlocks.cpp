#include "core/StreamBlocks.h"

#include <cstring>
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

// The walk of BuildStreamBlocks over events that come in batches, from a track or from a merge.
// A channel message, nearly every event of a song, takes a short road straight into its block:
// each block's buffer takes its one step of maxBufferBytes when its first event comes, the
// events are written into it in place, and its length is set when it is done.
class Encoder {
public:
    Encoder(const ConversionOptions& options, StreamBlockList& blocks)
        : options(options),
          blocks(blocks),
          model(options.maxBufferBytes),
          allowanceStep(options.omitStreamIds ? 4 : 0) {}
    ~Encoder() { Finish(); }

    // The first block; false when memory runs out.
    bool Start() {
        blocks.Clear();
        current = blocks.Append(model);
        return current != nullptr;
    }
    // Ok to go on.
    BuildResult Add(const MergedEvent* events, uint32_t count);

private:
    // The state of the walk, kept in locals while a batch is encoded.
    struct State {
        uint32_t prevTick;
        uint32_t used;  // the current block's length
        uint64_t allowance;
        uint8_t lastStatus;
    };
    BuildResult AddLong(const MidiEvent& event, const EventView& view, State& s);
    // Keeps room for length more bytes in the current block, starting a new one when they would
    // pass the limit; false when memory runs out.
    bool Room(uint32_t length, State& s) {
        s.allowance += allowanceStep;
        if (s.used + s.allowance + length > options.maxBufferBytes && !NextBlock(s)) return false;
        return out || Reserve();
    }
    bool NextBlock(State& s);
    // The current block's buffer takes its step of maxBufferBytes.
    bool Reserve() {
        out = current->buffer.Extend(options.maxBufferBytes);
        return out != nullptr;
    }
    void Finish() {
        if (current && out) current->buffer.SetLength(state.used);
    }

    const ConversionOptions& options;
    StreamBlockList& blocks;
    // Every block is a copy of this empty one, so each buffer grows in whole maxBufferBytes steps.
    const StreamBlock model;
    // With stream identifiers omitted, 4 bytes per event in the block are kept free, so a block
    // still fits its limit if a player puts the identifiers back.
    const uint32_t allowanceStep;
    StreamBlock* current = nullptr;
    uint8_t* out = nullptr;  // the current block's bytes, once its buffer has its step
    MemoryFile scratch{51200};
    State state{0, 0, 0, 0};
};

bool Encoder::NextBlock(State& s) {
    if (out) current->buffer.SetLength(s.used);
    StreamBlock* next = blocks.Append(model);
    if (!next) return false;
    next->tickStart = s.prevTick;
    current = next;
    out = nullptr;
    s.used = 0;
    s.allowance = allowanceStep;
    return true;
}

BuildResult Encoder::AddLong(const MidiEvent& event, const EventView& view, State& s) {
    if (!scratch.SetLength(0)) return BuildResult::OutOfMemory;
    if (!WriteUInt32(scratch, event.tick - s.prevTick)) return BuildResult::OutOfMemory;
    if (!options.omitStreamIds && !WriteUInt32(scratch, 0)) return BuildResult::OutOfMemory;
    const Encoded encoded = EncodeLongEvent(view, s.lastStatus, scratch);
    if (encoded == Encoded::OutOfMemory) return BuildResult::OutOfMemory;
    if (encoded == Encoded::Skipped) return BuildResult::Ok;  // its time rides on the next delta
    const uint32_t length = scratch.GetLength();
    if (!Room(length, s)) return BuildResult::OutOfMemory;
    // Not even an empty block holds it; the blocks are thrown away, so it is not written.
    if (s.used + s.allowance + length > options.maxBufferBytes) return BuildResult::EventTooLarge;
    std::memcpy(out + s.used, scratch.Data(), length);
    s.used += length;
    s.prevTick = event.tick;
    blocks.SetEventCount(blocks.EventCount() + 1);
    return BuildResult::Ok;
}

BuildResult Encoder::Add(const MergedEvent* events, uint32_t count) {
    State s = state;
    const bool useRunningStatus = options.useRunningStatus;
    const uint32_t idBytes = options.omitStreamIds ? 0 : 4;
    const uint32_t shortLength = 8 + idBytes;
    uint32_t encoded = 0;
    BuildResult result = BuildResult::Ok;
    for (uint32_t i = 0; i < count && result == BuildResult::Ok; ++i) {
        const MergedEvent& event = events[i];
        uint32_t word;
        if (event.size != 0 && event.bytes[0] >= 0x80 && event.bytes[0] < 0xF0) {
            const uint32_t status = event.bytes[0];
            const uint32_t byte1 = event.size > 1 ? event.bytes[1] : 0;
            const uint32_t byte2 = event.size > 2 ? event.bytes[2] : 0;
            // A first data byte of 0x80 or above (a damaged file, which the reader accepts as
            // data) would read as a new status byte: only then is the status written again.
            const bool running = useRunningStatus && status == s.lastStatus && byte1 < 0x80;
            word = running ? byte1 | byte2 << 8 : status | byte1 << 8 | byte2 << 16;
            s.lastStatus = uint8_t(status);
        } else {
            // Everything but a channel message in its node: a tempo, system exclusive, the meta
            // events that are skipped, and whatever a hand-built event holds.
            EventView view;
            if (!event.event->View(view)) continue;  // a hand-built event that lies is skipped
            if (!ShortEventWord(view, useRunningStatus, s.lastStatus, word)) {
                result = AddLong(*event.event, view, s);
                continue;
            }
        }
        if (!Room(shortLength, s)) {
            result = BuildResult::OutOfMemory;
            break;
        }
        uint8_t* at = out + s.used;
        PutLe32(at, event.tick - s.prevTick);
        if (idBytes) PutLe32(at + 4, 0);
        PutLe32(at + 4 + idBytes, word);
        s.used += shortLength;
        s.prevTick = event.tick;
        ++encoded;
    }
    blocks.SetEventCount(blocks.EventCount() + encoded);
    state = s;
    return result;
}

// Encodes the batches of a merge, and keeps the first failure.
class MergeEncoder : public MergedEventVisitor {
public:
    explicit MergeEncoder(Encoder& encoder) : encoder(encoder) {}
    bool Events(const MergedEvent* events, uint32_t count) override {
        result = encoder.Add(events, count);
        return result == BuildResult::Ok;
    }
    BuildResult result = BuildResult::Ok;

private:
    Encoder& encoder;
};

}  // namespace

BuildResult BuildStreamBlocks(const Track& track, const ConversionOptions& options,
                              StreamBlockList& blocks) {
    Encoder encoder(options, blocks);
    if (!encoder.Start()) return BuildResult::OutOfMemory;
    const EventPool& pool = EventLinks::PoolOf(track);
    constexpr uint32_t BatchSize = 256;
    MergedEvent batch[BatchSize];
    uint32_t n = 0;
    MidiEvent* event = track.First();
    uint32_t handle = event ? EventPool::HandleOf(event) : EventPool::NoHandle;
    while (event) {
        PrefetchRunAhead(event);
        batch[n++] = EventLinks::Merged(*event);
        const uint32_t next = EventLinks::Next(*event);
        event =
            next == EventPool::NoHandle ? nullptr : EventLinks::After(pool, event, handle, next);
        handle = next;
        if (n == BatchSize || !event) {
            const BuildResult result = encoder.Add(batch, n);
            if (result != BuildResult::Ok) return result;
            n = 0;
        }
    }
    return BuildResult::Ok;
}

BuildResult BuildMergedStreamBlocks(const Song& song, const ConversionOptions& options,
                                    StreamBlockList& blocks) {
    Encoder encoder(options, blocks);
    if (!encoder.Start()) return BuildResult::OutOfMemory;
    MergeEncoder merged(encoder);
    if (!song.VisitMerged(merged)) return BuildResult::OutOfMemory;
    return merged.result;
}
