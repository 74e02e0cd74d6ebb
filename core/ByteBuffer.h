// ByteBuffer.h: an owned byte array that always holds exactly the size it was asked for.
#pragma once
#include <cstdint>

// Resizing never allocates spare room: growing beyond the capacity allocates exactly the new size
// and keeps the old bytes. Buffers of up to InlineBytes bytes live inside the object itself, which
// saves one heap block per MIDI event; users see the same sizes and capacities either way.
// Not meant as a base class: the destructor is not virtual, so a song of millions of events does
// not carry a vtable pointer in every one of them.
class ByteBuffer final {
public:
    static constexpr uint32_t InlineBytes = 8;

    ByteBuffer() {}
    ByteBuffer(const ByteBuffer& other);  // exactly other.Size() bytes; empty if memory runs out
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer() { Release(); }

    // False only when memory runs out; the buffer is then unchanged.
    bool Resize(uint32_t n);
    // Resize and copy n bytes in; false when memory runs out, leaving the buffer empty.
    bool Assign(const uint8_t* src, uint32_t n);
    void Clear() { Release(); }

    uint8_t* Data() { return IsInline() ? store.inline_ : store.heap; }
    const uint8_t* Data() const { return IsInline() ? store.inline_ : store.heap; }
    uint32_t Size() const { return size; }
    uint32_t Capacity() const { return capacity; }
    bool Empty() const { return size == 0; }
    uint8_t& operator[](uint32_t i) { return Data()[i]; }
    uint8_t operator[](uint32_t i) const { return Data()[i]; }

private:
    bool IsInline() const { return capacity <= InlineBytes; }
    void Release();

    union Store {
        uint8_t* heap;
        uint8_t inline_[InlineBytes];
    } store{};
    uint32_t size = 0;
    uint32_t capacity = 0;
};
