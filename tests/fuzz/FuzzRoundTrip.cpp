// FuzzRoundTrip.cpp: whatever converts must decode to exactly the merged events.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckRoundTrip(data, size);
    return 0;
}
