// FuzzConvert.cpp: the whole conversion on arbitrary bytes, with options the input chooses.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckConversion(data, size);
    return 0;
}
