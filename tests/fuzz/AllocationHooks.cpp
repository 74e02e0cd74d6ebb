#include "tests/fuzz/AllocationHooks.h"

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TONFLUX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TONFLUX_ASAN 1
#endif
#endif

#if defined(TONFLUX_ASAN)
// From the sanitizer runtime (GCC installs no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
uint64_t Count = 0;
uint64_t FailAt = 0;
bool Refused = false;
bool Following = false;
uint64_t Start = 0;
uint64_t Peak = 0;

uint64_t HeapInUse() {
#if defined(TONFLUX_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

bool Refuse() {
    ++Count;
    if (Count != FailAt) return false;
    Refused = true;
    return true;
}

void* Follow(void* p) {
    if (p && Following) {
        const uint64_t now = HeapInUse();
        if (now > Peak) Peak = now;
    }
    return p;
}
}  // namespace

void FailNthAllocation(uint64_t n) {
    Count = 0;
    FailAt = n;
    Refused = false;
}

uint64_t NothrowAllocations() {
    return Count;
}
bool AllocationWasRefused() {
    return Refused;
}

bool CanMeasureHeap() {
#if defined(TONFLUX_ASAN) || defined(__GLIBC__)
    // valgrind replaces the allocator, and our nothrow forms with it: then nothing is counted.
    const uint64_t before = Count;
    ::operator delete(::operator new(1, std::nothrow));
    return Count != before;
#else
    return false;
#endif
}

void StartHeapPeak() {
    Start = Peak = HeapInUse();
    Following = true;
}

uint64_t HeapPeakGrowth() {
    return Peak - Start;
}

// The replacements take their memory from the throwing forms, so every block is still released
// by the matching delete and AddressSanitizer sees no mismatch.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (Refuse()) return nullptr;
    try {
        return Follow(::operator new(n));
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    if (Refuse()) return nullptr;
    try {
        return Follow(::operator new[](n));
    } catch (...) {
        return nullptr;
    }
}
