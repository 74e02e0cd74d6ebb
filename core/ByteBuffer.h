// ByteBuffer.h: an owned byte array that always holds exactly the size it was asked for.
#pragma once
#include <cstdint>
#include <cstring>

// Resizing never allocates spare room: growing beyond the capacity allocates exactly the new size
// and keeps the old bytes. Buffers of up to InlineBytes bytes live inside the object itself, which
// saves a heap block for every tempo and short message an event cannot keep in its own node (see
// EventBytes); users see the same sizes and capacities either way.
// Not meant as a base class: the destructor is not virtual, so the song's records of such events
// carry no vtable pointer. For the same reason the object is 12 bytes with 4-byte alignment, so
// that a record fills one 16-byte slot of the song's pool with room for its free-list link.
class ByteBuffer final {
public:
    static constexpr uint32_t InlineBytes = 8;

    ByteBuffer() {}
    ByteBuffer(const ByteBuffer& other);  // exactly other.Size() bytes; empty if memory runs out
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer() {
        if (!IsInline()) Release();
    }

    // False only when memory runs out; the buffer is then unchanged.
    bool Resize(uint32_t n);
    // Resize and copy n bytes in; false when memory runs out, leaving the buffer empty.
    bool Assign(const uint8_t* src, uint32_t n);
    // Assign of status followed by the n bytes at following (an event as the reader stores it).
    bool AssignEvent(uint8_t status, const uint8_t* following, uint32_t n) {
        if (n >= InlineBytes || state != 0) return AssignEventSlowly(status, following, n);
        // The common case, a channel message into a fresh event: no call, no allocation.
        store[0] = status;
        if (n == 2) {
            store[1] = following[0];
            store[2] = following[1];
        } else {
            for (uint32_t i = 0; i < n; ++i) store[1 + i] = following[i];
        }
        SetInline(n + 1, n + 1);
        return true;
    }
    void Clear() { Release(); }

    uint8_t* Data() { return IsInline() ? store : Heap()->Bytes(); }
    const uint8_t* Data() const { return IsInline() ? store : Heap()->Bytes(); }
    uint32_t Size() const { return IsInline() ? state & 0xF : Heap()->size; }
    uint32_t Capacity() const { return IsInline() ? state >> 4 : Heap()->capacity; }
    bool Empty() const { return Size() == 0; }
    uint8_t& operator[](uint32_t i) { return Data()[i]; }
    uint8_t operator[](uint32_t i) const { return Data()[i]; }

private:
    // A heap buffer keeps its size and capacity in front of its bytes, so an inline buffer can
    // use every one of the object's bytes but the state word.
    struct HeapBlock {
        uint32_t capacity;
        uint32_t size;
        uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
    };
    static constexpr uint32_t OnHeap = 0x80000000u;  // in state; else size | capacity << 4

    bool IsInline() const { return !(state & OnHeap); }
    HeapBlock* Heap() const {
        HeapBlock* heap;
        std::memcpy(&heap, store, sizeof heap);  // the object is only 4-byte aligned
        return heap;
    }
    void SetHeap(HeapBlock* heap) {
        std::memcpy(store, &heap, sizeof heap);
        state = OnHeap;
    }
    void SetInline(uint32_t size, uint32_t capacity) { state = size | capacity << 4; }
    void Release();
    bool AssignEventSlowly(uint8_t status, const uint8_t* following, uint32_t n);

    uint8_t store[InlineBytes] = {};  // the bytes themselves, or the HeapBlock pointer
    uint32_t state = 0;
};

static_assert(sizeof(void*) <= ByteBuffer::InlineBytes, "the heap pointer lives in the store");

// The assignments of an exact-size buffer (ByteBuffer, and an event's bytes) in terms of its
// Resize, Capacity and Clear. Nothing is worth keeping when the new size passes the capacity, so
// the storage goes first and Resize copies nothing. False when memory runs out, leaving b empty.
template <class Buffer>
bool AssignExactly(Buffer& b, const uint8_t* src, uint32_t n) {
    if (n > b.Capacity()) b.Clear();
    if (!b.Resize(n)) return false;
    if (n) std::memmove(b.Data(), src, n);  // src may be b's own bytes
    return true;
}
// The same for status followed by the n bytes at following.
template <class Buffer>
bool AssignEventExactly(Buffer& b, uint8_t status, const uint8_t* following, uint32_t n) {
    if (n == UINT32_MAX) return false;
    if (n + 1 > b.Capacity()) b.Clear();
    if (!b.Resize(n + 1)) return false;
    uint8_t* data = b.Data();
    data[0] = status;
    if (n) std::memcpy(data + 1, following, n);
    return true;
}
static_assert(sizeof(ByteBuffer) == ByteBuffer::InlineBytes + 4, "a record stays small");
