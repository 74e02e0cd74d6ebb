#include "core/EventPool.h"

#include <new>

EventPool::~EventPool() {
    Clear();
}

MidiEvent* EventPool::Slots(Chunk* chunk) {
    return reinterpret_cast<MidiEvent*>(reinterpret_cast<char*>(chunk) + HeaderBytes);
}

void EventPool::Clear() {
    // Freed slots hold empty bytes, and the newest chunk's untouched tail was never constructed.
    size_t untouched = unusedCount;
    while (chunks) {
        Chunk* next = chunks->next;
        MidiEvent* slots = Slots(chunks);
        // Only buffers on the heap need a call; the slots are not written, as they are freed next.
        for (size_t i = 0, n = chunks->slots - untouched; i < n; ++i) slots[i].~MidiEvent();
        untouched = 0;
        ::operator delete(chunks);
        chunks = next;
    }
    freeList = unused = nullptr;
    unusedCount = 0;
    nextChunkSlots = FirstChunkSlots;
}

MidiEvent* EventPool::New() {
    MidiEvent* slot = freeList;
    if (slot) {
        freeList = slot->next;
    } else {
        if (unusedCount == 0) {
            void* raw =
                ::operator new(HeaderBytes + nextChunkSlots * sizeof(MidiEvent), std::nothrow);
            if (!raw) return nullptr;
            Chunk* chunk = static_cast<Chunk*>(raw);
            chunk->next = chunks;
            chunk->slots = nextChunkSlots;
            chunks = chunk;
            unused = Slots(chunk);
            unusedCount = nextChunkSlots;
            if (nextChunkSlots < LargestChunkSlots) nextChunkSlots *= 2;
        }
        slot = unused++;
        --unusedCount;
    }
    return new (slot) MidiEvent();
}

void EventPool::Delete(MidiEvent* event) {
    event->bytes.Clear();  // the slot stays a valid, empty event for Clear to pass over
    event->next = freeList;
    freeList = event;
}
