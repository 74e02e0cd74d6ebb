#include "tests/fuzz/AllocationFailure.h"

#include <cstddef>
#include <new>

namespace {
uint64_t Count = 0;
uint64_t FailAt = 0;
bool Refused = false;

bool Refuse() {
    ++Count;
    if (Count != FailAt) return false;
    Refused = true;
    return true;
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

// The replacements take their memory from the throwing forms, so every block is still released
// by the matching delete and AddressSanitizer sees no mismatch.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (Refuse()) return nullptr;
    try {
        return ::operator new(n);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    if (Refuse()) return nullptr;
    try {
        return ::operator new[](n);
    } catch (...) {
        return nullptr;
    }
}
