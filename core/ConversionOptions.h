// ConversionOptions.h: the options of a conversion and the one rule for the buffer size, which
// the dialog, its settings file and the command line all apply.
#pragma once
#include <cstdint>

// The maximum stream buffer is given in kilobytes: a player's buffer for one block of a MIDI
// stream must stay below 64 KB.
constexpr uint32_t MinBufferKilobytes = 1;
constexpr uint32_t MaxBufferKilobytes = 63;
constexpr uint32_t DefaultBufferKilobytes = 4;

inline bool IsValidBufferKilobytes(uint32_t kilobytes) {
    return kilobytes >= MinBufferKilobytes && kilobytes <= MaxBufferKilobytes;
}
// The nearest valid size: 0 becomes the smallest, anything too large the largest.
inline uint32_t LimitBufferKilobytes(uint32_t kilobytes) {
    if (kilobytes < MinBufferKilobytes) return MinBufferKilobytes;
    return kilobytes > MaxBufferKilobytes ? MaxBufferKilobytes : kilobytes;
}

struct ConversionOptions {
    uint32_t maxBufferBytes = DefaultBufferKilobytes * 1024;  // kilobytes times 1024
    bool useRunningStatus = true;
    bool omitStreamIds = false;
};

// The options for a buffer size in kilobytes, which the caller has checked to be valid.
inline ConversionOptions MakeConversionOptions(uint32_t kilobytes, bool useRunningStatus,
                                               bool omitStreamIds) {
    ConversionOptions options;
    options.maxBufferBytes = kilobytes * 1024;
    options.useRunningStatus = useRunningStatus;
    options.omitStreamIds = omitStreamIds;
    return options;
}
