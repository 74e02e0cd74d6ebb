// EventPool.h: the memory of a song's events, taken in large chunks instead of one heap block each.
#pragma once
#include <cstddef>

#include "core/Song.h"

// Hands out MidiEvent slots from chunks that grow geometrically, and keeps freed slots for reuse.
// The chunks are released with the pool; every event must have been deleted by then.
class EventPool final {
public:
    EventPool() {}
    EventPool(const EventPool&) = delete;
    EventPool& operator=(const EventPool&) = delete;
    ~EventPool();

    MidiEvent* New();  // a default event; null when memory runs out
    void Delete(MidiEvent* event);
    // Releases every event at once, in memory order rather than list order: after a merge the
    // lists jump all over the chunks, and walking them costs a cache miss per event.
    void Clear();

private:
    struct Chunk {
        Chunk* next;
        size_t slots;
    };
    // The header is padded to the event's alignment so the slots after it stay aligned.
    static constexpr size_t HeaderBytes =
        (sizeof(Chunk) + alignof(MidiEvent) - 1) & ~(alignof(MidiEvent) - 1);
    static MidiEvent* Slots(Chunk* chunk);
    static constexpr size_t FirstChunkSlots = 64;
    static constexpr size_t LargestChunkSlots = size_t(1) << 16;

    MidiEvent* freeList = nullptr;  // chained through MidiEvent::next
    Chunk* chunks = nullptr;
    MidiEvent* unused = nullptr;  // the untouched tail of the newest chunk
    size_t unusedCount = 0;
    size_t nextChunkSlots = FirstChunkSlots;
};

// How far ahead along a track's run of events the merge and the encoder fetch: after a merge the
// list hops between the tracks' runs, each lying in address order in the pool, so a run's next
// events are in the cache by the time the list comes back to it. A few cache lines, found best on
// the dense benchmark song (tools/make-bench-songs.py).
constexpr int PrefetchBytes = 512;

inline void PrefetchRunAhead(const MidiEvent* event) {
    __builtin_prefetch(reinterpret_cast<const char*>(event) + PrefetchBytes);
}
