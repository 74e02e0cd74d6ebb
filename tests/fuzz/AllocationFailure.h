// AllocationFailure.h: makes one chosen nothrow allocation fail, so the fuzzers and tests can walk
// every out-of-memory path of the core. Only the nothrow forms of operator new are replaced; they
// are the only ones the core uses, and everything else (libFuzzer, GoogleTest) allocates as usual.
#pragma once
#include <cstdint>

// From now on, the nth nothrow allocation (1 = the next) returns null; 0 disarms. The count of
// allocations restarts.
void FailNthAllocation(uint64_t n);
// Nothrow allocations since the last FailNthAllocation.
uint64_t NothrowAllocations();
// True when the armed allocation has been refused.
bool AllocationWasRefused();
