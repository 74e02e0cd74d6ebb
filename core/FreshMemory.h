// FreshMemory.h: taking the pages of a large new allocation in one call.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__linux__)
#include <sys/mman.h>
#endif

// Faults in the whole pages of [p, p + n) at once, where the system offers it: one call instead
// of a page fault per page, which is most of the cost of fresh memory. Where it cannot, the pages
// come one fault at a time as before, so the result is not needed. Less than 256 KB is left to
// fault in as it is used, so that a small song's unused room stays untouched.
inline void PopulateFresh(void* p, size_t n) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (n < 256 * 1024) return;
    const uintptr_t page = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)n;
#endif
}
