// FuzzMdsToSmf.cpp: the way back, from any bytes as a MIDI stream file and from any converted SMF.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckMdsToSmf(data, size);
    return 0;
}
