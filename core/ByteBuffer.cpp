#include "core/ByteBuffer.h"

#include <cstring>
#include <new>

ByteBuffer::ByteBuffer(const ByteBuffer& other) { Assign(other.Data(), other.size); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : store(other.store), size(other.size), capacity(other.capacity) {
    other.size = other.capacity = 0;
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
        store = other.store;
        size = other.size;
        capacity = other.capacity;
        other.size = other.capacity = 0;
    }
    return *this;
}

void ByteBuffer::Release() {
    if (!IsInline()) delete[] store.heap;
    store.heap = nullptr;
    size = capacity = 0;
}

bool ByteBuffer::Resize(uint32_t n) {
    if (n == 0) {
        Release();
        return true;
    }
    if (n > capacity) {
        if (n <= InlineBytes) {  // inline before and after: the bytes are already in place
            size = capacity = n;
            return true;
        }
        uint8_t* grown = new (std::nothrow) uint8_t[n];
        if (!grown) return false;
        if (size) std::memcpy(grown, Data(), size);
        if (!IsInline()) delete[] store.heap;
        store.heap = grown;
        capacity = n;
    }
    size = n;
    return true;
}

bool ByteBuffer::Assign(const uint8_t* src, uint32_t n) {
    if (n > capacity) {
        Release();  // nothing to keep: spare the copy Resize would make
        if (!Resize(n)) return false;
    } else if (!Resize(n)) {
        return false;
    }
    if (n) std::memcpy(Data(), src, n);
    return true;
}
