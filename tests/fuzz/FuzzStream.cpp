// FuzzStream.cpp: the conversion straight from the image against the song model's, on arbitrary
// bytes, with options the input chooses.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckStreamConversion(data, size);
    return 0;
}
