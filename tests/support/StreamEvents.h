// StreamEvents.h: the events a track should come back as after encoding and decoding, and the
// events an MDS image decodes to, in one comparable form (for round-trip tests and fuzzing).
#pragma once
#include <cstdint>
#include <ostream>
#include <vector>

#include "core/MdsReader.h"
#include "core/Song.h"

struct StreamEventRecord {
    uint32_t tick;
    MdsEventKind kind;
    std::vector<uint8_t> bytes;  // Short: the message; Tempo: 3 bytes big-endian; Long: params
    bool operator==(const StreamEventRecord& o) const {
        return tick == o.tick && kind == o.kind && bytes == o.bytes;
    }
};
std::ostream& operator<<(std::ostream& out, const StreamEventRecord& r);

// What a track's events become: channel messages, tempos, and system exclusive messages as
// their parameters (F0 and the data, or the data alone after F7); every other event dropped.
std::vector<StreamEventRecord> ExpectedStreamEvents(const Track& track);

// What a decoded event sends, at tick: its message, its tempo or its parameters.
StreamEventRecord RecordOf(const MdsEvent& e, uint32_t tick);

struct DecodedMds {
    MdsCheck check;
    std::vector<MdsCheck> deviations;
    MdsHeader header;
    std::vector<MdsBlock> blocks;
    std::vector<StreamEventRecord> events;
    std::vector<uint8_t> title, copyright;
};
DecodedMds DecodeMdsImage(const uint8_t* image, uint32_t size);
