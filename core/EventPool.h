// EventPool.h: the memory of a song's events: 16-byte slots in large chunks, named by 32-bit
// handles instead of pointers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/ByteBuffer.h"

// A dense song holds tens of millions of events, so an event keeps to 16 bytes and names its
// neighbours by 32-bit handles: the chunk's number in the high bits, the slot within it in the low
// 16. Chunks are aligned to 4 KB pages whose first slot names the pool and the page's first
// handle, so an event finds its pool, and so its neighbours, from its own address.
//
// Two kinds of slot come from the pool: event slots, which the song fills with MidiEvents, and
// record slots, each holding the ByteBuffer of an event whose bytes do not fit into its node.
// Freed slots are reused; everything is released by Clear or with the pool.
class EventPool final {
public:
    static constexpr size_t SlotBytes = 16;
    static constexpr size_t PageBytes = 4096;
    static constexpr uint32_t SlotsPerPage = uint32_t(PageBytes / SlotBytes);
    static constexpr uint32_t ChunkShift = 16;
    static constexpr uint32_t SlotMask = (uint32_t(1) << ChunkShift) - 1;
    // Handles stay below 2^30: an event keeps a record's handle in 30 bits of its node.
    static constexpr uint32_t MaxChunks = uint32_t(1) << (30 - ChunkShift);
    // The first chunk's first page header: never an event or a record.
    static constexpr uint32_t NoHandle = 0;

    EventPool() {}
    EventPool(const EventPool&) = delete;
    EventPool& operator=(const EventPool&) = delete;
    ~EventPool();

    // The pool that holds slot (an address inside one of a pool's slots) and the slot's handle.
    static EventPool& Of(const void* slot) { return *HeaderOf(slot)->pool; }
    static uint32_t HandleOf(const void* slot) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(slot);
        return HeaderOf(slot)->firstHandle + uint32_t((address & (PageBytes - 1)) / SlotBytes);
    }
    void* Slot(uint32_t handle) const {
        return reinterpret_cast<void*>(bases[handle >> ChunkShift] +
                                       (handle & SlotMask) * SlotBytes);
    }

    // An uninitialised event slot; NoHandle when memory runs out.
    uint32_t NewEventSlot() {
        Stream& s = events;
        if (s.freeList == NoHandle && s.next != s.end && (s.next & (SlotsPerPage - 1)) != 0)
            return s.next++;
        return NewSlot(s);
    }
    // Takes back an event slot whose event has been destroyed.
    void DeleteEventSlot(uint32_t handle) { Push(events, handle); }

    // A record slot holding an empty ByteBuffer; NoHandle when memory runs out.
    uint32_t NewRecord();
    // Releases the record's bytes and takes the slot back.
    void DeleteRecord(uint32_t handle);
    ByteBuffer& Record(uint32_t handle) const {
        return static_cast<RecordSlot*>(Slot(handle))->bytes;
    }

    // Releases every chunk at once. Event slots are not visited: an event owns nothing outside
    // its node but a record, and the records are released here, chunk by chunk.
    void Clear();

private:
    struct PageHeader {
        EventPool* pool;
        uint32_t firstHandle;  // the handle of this header's own slot
    };
    struct RecordSlot {
        ByteBuffer bytes;
        uint32_t nextFree;
    };
    struct Chunk {
        void* raw;       // as allocated, before the alignment to a page
        uint32_t slots;  // page headers included
        bool records;
    };
    // Slots of one kind are handed out from the newest chunk of that kind, or from its free list,
    // which runs through the freed slots' bytes at freeLink.
    struct Stream {
        explicit Stream(bool records) : records(records) {}
        uint32_t next = NoHandle;  // handle of the next untouched slot
        uint32_t end = NoHandle;   // one past the newest chunk of this kind
        uint32_t freeList = NoHandle;
        uint32_t chunk = 0;  // the newest chunk of this kind
        uint32_t nextPages = 1;
        bool records;
        size_t FreeLink() const { return records ? offsetof(RecordSlot, nextFree) : 0; }
    };

    static const PageHeader* HeaderOf(const void* slot) {
        return reinterpret_cast<const PageHeader*>(reinterpret_cast<uintptr_t>(slot) &
                                                   ~uintptr_t(PageBytes - 1));
    }
    uint32_t NewSlot(Stream& s);
    bool AddChunk(Stream& s);
    void Push(Stream& s, uint32_t handle) {
        std::memcpy(static_cast<char*>(Slot(handle)) + s.FreeLink(), &s.freeList,
                    sizeof s.freeList);
        s.freeList = handle;
    }

    Stream events{false};
    Stream records{true};
    uintptr_t* bases = nullptr;  // per chunk, its first page; what Slot reads
    Chunk* chunks = nullptr;
    uint32_t chunkCount = 0;
    uint32_t chunkCapacity = 0;
};

static_assert(sizeof(ByteBuffer) + 4 <= EventPool::SlotBytes, "a record fits a slot");

// How far ahead along a track's run of events the merge fetches: it takes a few events of one track
// at a time, the runs lying in address order in the pool, so a run's next events are in the cache
// by the time the merge comes back to it. Four cache lines, sixteen events; further made no
// difference on the dense benchmark song (tools/make-bench-songs.py).
constexpr int PrefetchBytes = 256;

inline void PrefetchRunAhead(const void* event) {
    __builtin_prefetch(static_cast<const char*>(event) + PrefetchBytes);
}
