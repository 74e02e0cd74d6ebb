#include "core/ByteBuffer.h"

#include <cstdint>
#include <new>

ByteBuffer::ByteBuffer(const ByteBuffer& other) {
    Assign(other.Data(), other.Size());
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept : state(other.state) {
    std::memcpy(store, other.store, sizeof store);
    other.state = 0;
}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
    if (this != &other) {
        ByteBuffer copy(other);
        *this = static_cast<ByteBuffer&&>(copy);
    }
    return *this;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        std::memcpy(store, other.store, sizeof store);
        state = other.state;
        other.state = 0;
    }
    return *this;
}

void ByteBuffer::Release() {
    if (!IsInline()) delete[] reinterpret_cast<uint8_t*>(Heap());
    state = 0;
}

bool ByteBuffer::Resize(uint32_t n) {
    if (n == 0) {
        Release();
        return true;
    }
    const uint32_t capacity = Capacity();
    if (n <= capacity) {
        if (IsInline())
            SetInline(n, capacity);
        else
            Heap()->size = n;
        return true;
    }
    if (n <= InlineBytes) {  // inline before and after: the bytes are already in place
        SetInline(n, n);
        return true;
    }
    // On 32-bit systems the header and a size near 4 GB would wrap round to a tiny block.
    if (size_t(n) > SIZE_MAX - sizeof(HeapBlock)) return false;
    uint8_t* raw = new (std::nothrow) uint8_t[sizeof(HeapBlock) + size_t(n)];
    if (!raw) return false;
    HeapBlock* grown = new (raw) HeapBlock{n, n};
    const uint32_t size = Size();
    if (size) std::memcpy(grown->Bytes(), Data(), size);
    Release();
    SetHeap(grown);
    return true;
}

bool ByteBuffer::Assign(const uint8_t* src, uint32_t n) {
    return AssignExactly(*this, src, n);
}

bool ByteBuffer::AssignEventSlowly(uint8_t status, const uint8_t* following, uint32_t n) {
    return AssignEventExactly(*this, status, following, n);
}
