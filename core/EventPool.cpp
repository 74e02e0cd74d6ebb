#include "core/EventPool.h"

#include <new>

#include "core/FreshMemory.h"

EventPool::~EventPool() {
    Clear();
    delete[] bases;
    delete[] chunks;
}

uint32_t EventPool::NewSlot(Stream& s) {
    if (s.freeList != NoHandle) {
        const uint32_t handle = s.freeList;
        std::memcpy(&s.freeList, static_cast<char*>(Slot(handle)) + s.FreeLink(),
                    sizeof s.freeList);
        return handle;
    }
    if (s.next == s.end && !AddChunk(s)) return NoHandle;
    if ((s.next & (SlotsPerPage - 1)) == 0) {
        // A page is entered: its header is written now rather than with the chunk, so the pages
        // of a chunk are first touched as they fill.
        PageHeader header{this, s.next};
        std::memcpy(Slot(s.next), &header, sizeof header);
        ++s.next;
    }
    return s.next++;
}

bool EventPool::AddChunk(Stream& s) {
    if (chunkCount == MaxChunks) return false;
    if (chunkCount == chunkCapacity) {
        const uint32_t capacity = chunkCapacity ? 2 * chunkCapacity : 8;
        uintptr_t* grownBases = new (std::nothrow) uintptr_t[capacity];
        Chunk* grownChunks = new (std::nothrow) Chunk[capacity];
        if (!grownBases || !grownChunks) {
            delete[] grownBases;
            delete[] grownChunks;
            return false;
        }
        if (chunkCount) {
            std::memcpy(grownBases, bases, chunkCount * sizeof *bases);
            std::memcpy(grownChunks, chunks, chunkCount * sizeof *chunks);
        }
        delete[] bases;
        delete[] chunks;
        bases = grownBases;
        chunks = grownChunks;
        chunkCapacity = capacity;
    }
    // Chunks grow from one page, so a small song stays small, to 256 pages, the most a handle's
    // 16 low bits can reach.
    const uint32_t pages = s.nextPages;
    void* raw = ::operator new(pages* PageBytes + PageBytes - 1, std::nothrow);
    if (!raw) return false;
    const uint32_t index = chunkCount++;
    bases[index] = (reinterpret_cast<uintptr_t>(raw) + PageBytes - 1) & ~uintptr_t(PageBytes - 1);
    PopulateFresh(reinterpret_cast<void*>(bases[index]), pages * PageBytes);
    chunks[index] = {raw, pages * SlotsPerPage, s.records};
    s.chunk = index;
    s.next = index << ChunkShift;
    s.end = s.next + pages * SlotsPerPage;
    if (2 * pages * SlotsPerPage <= SlotMask + 1) s.nextPages = 2 * pages;
    return true;
}

uint32_t EventPool::NewRecord() {
    const uint32_t handle = NewSlot(records);
    if (handle != NoHandle) new (Slot(handle)) RecordSlot{ByteBuffer(), NoHandle};
    return handle;
}

void EventPool::DeleteRecord(uint32_t handle) {
    Record(handle).Clear();  // the slot stays an empty buffer for Clear to pass over
    Push(records, handle);
}

void EventPool::Clear() {
    for (uint32_t c = 0; c < chunkCount; ++c) {
        if (chunks[c].records) {
            // Every slot below the stream's next one holds a buffer, but the page headers.
            const uint32_t used =
                c == records.chunk ? records.next - (c << ChunkShift) : chunks[c].slots;
            for (uint32_t i = 0; i < used; ++i)
                if (i % SlotsPerPage != 0) Record(c << ChunkShift | i).~ByteBuffer();
        }
        ::operator delete(chunks[c].raw);
    }
    chunkCount = 0;
    events = Stream(false);
    records = Stream(true);
}
