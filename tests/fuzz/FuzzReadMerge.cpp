// FuzzReadMerge.cpp: the reader, the title and copyright lookups and the merge on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckReadAndMerge(data, size);
    return 0;
}
