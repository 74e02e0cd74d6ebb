// AllocationHooks.h: watches the core's allocations. One chosen nothrow allocation can be made to
// fail, so the fuzzers and tests walk every out-of-memory path of the core, and the peak of the
// heap in use can be followed through a conversion. Only the nothrow forms of operator new are
// replaced; they are the only ones the core uses, and everything else (libFuzzer, GoogleTest)
// allocates as usual.
#pragma once
#include <cstdint>

// From now on, the nth nothrow allocation (1 = the next) returns null; 0 disarms. The count of
// allocations restarts.
void FailNthAllocation(uint64_t n);
// Nothrow allocations since the last FailNthAllocation.
uint64_t NothrowAllocations();
// True when the armed allocation has been refused.
bool AllocationWasRefused();

// Whether this build can tell the bytes of the heap in use (glibc's allocator or
// AddressSanitizer's).
bool CanMeasureHeap();
// Starts following the heap: the peak is taken after every nothrow allocation.
void StartHeapPeak();
// The largest growth of the heap in use since StartHeapPeak, in bytes.
uint64_t HeapPeakGrowth();
