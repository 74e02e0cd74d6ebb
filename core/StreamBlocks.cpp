#include "core/StreamBlocks.h"

#include <cstring>
#include <new>

#include "core/EventPool.h"
#include "core/FreshMemory.h"
#include "core/Song.h"
#include "core/StreamEncoder.h"

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
    adopted.Clear();
    ClearBlocks();
}

void StreamBlockList::ClearBlocks() {
    while (first) {
        StreamBlock* next = first->next;
        delete first;
        first = next;
    }
    last = nullptr;
    count = 0;
    eventCount = 0;
    while (pieces) {
        Piece* next = pieces->next;
        ::operator delete(pieces);
        pieces = next;
    }
    room = adopted.Data();
    roomBytes = adopted.Size();
    nextPieceBytes = 64 * 1024;
}

uint8_t* StreamBlockList::Room(uint32_t bytes) {
    if (roomBytes < bytes) {
        // Pieces grow to 4 MB: few calls for a large song, little left unused by a small one.
        const size_t pieceBytes = bytes > nextPieceBytes ? bytes : nextPieceBytes;
        void* raw = ::operator new(sizeof(Piece) + pieceBytes, std::nothrow);
        if (!raw) return nullptr;
        Piece* piece = static_cast<Piece*>(raw);
        PopulateFresh(piece->Bytes(), pieceBytes);
        piece->next = pieces;
        pieces = piece;
        room = piece->Bytes();
        roomBytes = pieceBytes;
        if (nextPieceBytes < 4 * 1024 * 1024) nextPieceBytes *= 2;
    }
    uint8_t* taken = room;
    room += bytes;
    roomBytes -= bytes;
    return taken;
}

void StreamBlockList::Adopt(ByteBuffer&& memory) {
    ClearBlocks();
    adopted = static_cast<ByteBuffer&&>(memory);
    room = adopted.Data();
    roomBytes = adopted.Size();
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

// The event word of a channel message or a tempo change, the events that make up nearly all of a
// song: false for every other event.
inline bool ShortEventWord(const EventView& e, bool useRunningStatus, uint8_t& lastStatus,
                           uint32_t& word) {
    if (e.IsChannel()) {
        const uint32_t byte1 = e.length > 0 ? e.data[0] : 0;
        const uint32_t byte2 = e.length > 1 ? e.data[1] : 0;
        if (useRunningStatus && MayOmitStatus(e.status, lastStatus, byte1))
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

}  // namespace

StreamEncoder::StreamEncoder(const ConversionOptions& options, BlockSink& sink,
                             const EventViewer& viewer)
    : options(options),
      sink(sink),
      viewer(viewer),
      maxBytes(options.maxBufferBytes),
      idBytes(options.omitStreamIds ? 0 : 4),
      shortLength(PackedShortBytes(options)),
      allowanceStep(options.omitStreamIds ? 4 : 0) {}

BuildResult StreamEncoder::Start() {
    out = sink.StartBlock(0);
    return out ? BuildResult::Ok : BuildResult::OutOfMemory;
}

BuildResult StreamEncoder::Finish() {
    return sink.EndBlock(used) ? BuildResult::Ok : BuildResult::OutOfMemory;
}

bool StreamEncoder::Room(uint32_t length) {
    allowance += allowanceStep;
    if (used + allowance + length <= maxBytes) return true;
    if (!sink.EndBlock(used)) return false;
    out = sink.StartBlock(prevTick);
    used = 0;
    allowance = allowanceStep;
    return out != nullptr;
}

BuildResult StreamEncoder::AddOne(const MergedEvent& event) {
    // The reader guarantees the layout; an event built by hand that lies is not encoded.
    EventView view;
    if (!viewer.View(event, view)) return BuildResult::Ok;
    uint8_t status = uint8_t(lastStatus);
    uint32_t word = 0;
    uint8_t* at = nullptr;
    if (ShortEventWord(view, options.useRunningStatus, status, word)) {
        lastStatus = status;
        if (!Room(shortLength)) return BuildResult::OutOfMemory;
        at = out + used;
        used += shortLength;
    } else {
        if (!view.IsSysEx()) return BuildResult::Ok;  // its time rides on the next delta
        // A message that not even an empty block holds ends the conversion before it is copied.
        const uint64_t packed = PackedSysExBytes(view.status, view.length, options);
        if (!FitsEmptyBlock(packed, options)) return BuildResult::EventTooLarge;
        if (!Room(uint32_t(packed))) return BuildResult::OutOfMemory;
        const uint32_t n = view.status == 0xF0 ? view.length + 1 : view.length;
        word = 0x80000000u + n;
        at = out + used;
        uint8_t* params = at + shortLength;
        if (view.status == 0xF0) *params++ = 0xF0;
        std::memcpy(params, view.data, view.length);
        std::memset(params + view.length, 0, uint32_t(packed) - shortLength - n);
        used += uint32_t(packed);
        lastStatus = 0;
    }
    PutLe32(at, event.tick - prevTick);
    if (idBytes) PutLe32(at + 4, 0);
    PutLe32(at + 4 + idBytes, word);
    prevTick = event.tick;
    ++encoded;
    return BuildResult::Ok;
}

BuildResult StreamEncoder::Add(const MergedEvent* events, uint32_t count) {
    return idBytes ? AddEvents<4>(events, count) : AddEvents<0>(events, count);
}

template <uint32_t IdBytes>
BuildResult StreamEncoder::AddEvents(const MergedEvent* events, uint32_t count) {
    // The walk's state in locals for the channel messages: the members are written only around
    // the other events and new blocks.
    static const uint32_t Mask[4] = {0, 0xFF, 0xFFFF, 0xFFFFFF};
    const uint32_t useRunningStatus = options.useRunningStatus;
    const uint32_t limit = maxBytes, step = allowanceStep, size = 8 + IdBytes;
    uint32_t tick = prevTick, length = used, last = lastStatus, n = encoded;
    uint32_t kept = allowance;
    uint8_t* bytes = out;
    BuildResult result = BuildResult::Ok;
    for (uint32_t i = 0; i < count; ++i) {
        const MergedEvent& event = events[i];
        const uint32_t status = event.bytes[0];
        if (event.size == 0 || status < 0x80 || status >= 0xF0) {
            prevTick = tick, used = length, lastStatus = last, encoded = n, allowance = kept;
            result = AddOne(event);
            tick = prevTick, length = used, last = lastStatus, n = encoded, kept = allowance;
            bytes = out;
            if (result != BuildResult::Ok) break;
            continue;
        }
        const uint32_t message =
            (status | uint32_t(event.bytes[1]) << 8 | uint32_t(event.bytes[2]) << 16) &
            Mask[event.size];
        // Decided without a branch: in a merged song the statuses of the tracks take turns.
        const uint32_t running =
            useRunningStatus & MayOmitStatus(status, last, (message >> 8) & 0xFF);
        const uint32_t word = message >> (8 * running);
        last = status;
        kept += step;
        if (length + kept + size > limit) {
            prevTick = tick, used = length, allowance = kept - step;
            if (!Room(shortLength)) {
                result = BuildResult::OutOfMemory;
                break;
            }
            length = used, kept = allowance, bytes = out;
        }
        uint8_t* at = bytes + length;
        PutLe32(at, event.tick - tick);
        if (IdBytes) PutLe32(at + 4, 0);
        PutLe32(at + 4 + IdBytes, word);
        length += size;
        tick = event.tick;
        ++n;
    }
    if (result == BuildResult::Ok)
        prevTick = tick, used = length, lastStatus = last, encoded = n, allowance = kept;
    return result;
}

uint8_t* BlockListSink::StartBlock(uint32_t tickStart) {
    if (current) current = nullptr;
    StreamBlock* block = blocks.Append(model);
    uint8_t* memory = block ? blocks.Room(model.buffer.GrowBy()) : nullptr;
    if (!memory) return nullptr;
    block->tickStart = tickStart;
    block->buffer.Attach(memory, model.buffer.GrowBy());
    current = block;
    return block->buffer.Extend(model.buffer.GrowBy());
}

bool BlockListSink::EndBlock(uint32_t length) {
    return current && current->buffer.SetLength(length);
}

namespace {

// Events of a song: a MidiEvent each.
class SongEvents : public EventViewer {
public:
    bool View(const MergedEvent& event, EventView& view) const override {
        return static_cast<const MidiEvent*>(event.source)->View(view);
    }
};

// Encodes the batches of a merge, and keeps the first failure.
class MergeEncoder : public MergedEventVisitor {
public:
    explicit MergeEncoder(StreamEncoder& encoder) : encoder(encoder) {}
    bool Events(const MergedEvent* events, uint32_t count) override {
        result = encoder.Add(events, count);
        return result == BuildResult::Ok;
    }
    BuildResult result = BuildResult::Ok;

private:
    StreamEncoder& encoder;
};

}  // namespace

BuildResult BuildStreamBlocks(const Track& track, const ConversionOptions& options,
                              StreamBlockList& blocks) {
    BlockListSink sink(blocks, options);
    const SongEvents viewer;
    StreamEncoder encoder(options, sink, viewer);
    BuildResult result = encoder.Start();
    const EventPool& pool = EventLinks::PoolOf(track);
    constexpr uint32_t BatchSize = 256;
    MergedEvent batch[BatchSize];
    uint32_t n = 0;
    MidiEvent* event = track.First();
    uint32_t handle = event ? EventPool::HandleOf(event) : EventPool::NoHandle;
    while (event && result == BuildResult::Ok) {
        PrefetchRunAhead(event);
        EventLinks::Merge(batch[n++], *event);
        const uint32_t next = EventLinks::Next(*event);
        event =
            next == EventPool::NoHandle ? nullptr : EventLinks::After(pool, event, handle, next);
        handle = next;
        if (n == BatchSize || !event) {
            result = encoder.Add(batch, n);
            n = 0;
        }
    }
    if (result == BuildResult::Ok) result = encoder.Finish();
    blocks.SetEventCount(encoder.Events());
    return result;
}

BuildResult BuildMergedStreamBlocks(const Song& song, const ConversionOptions& options,
                                    StreamBlockList& blocks) {
    BlockListSink sink(blocks, options);
    const SongEvents viewer;
    StreamEncoder encoder(options, sink, viewer);
    MergeEncoder merged(encoder);
    BuildResult result = encoder.Start();
    if (result == BuildResult::Ok && !song.VisitMerged(merged)) result = BuildResult::OutOfMemory;
    if (result == BuildResult::Ok) result = merged.result;
    if (result == BuildResult::Ok) result = encoder.Finish();
    blocks.SetEventCount(encoder.Events());
    return result;
}
