// Packed.h: little-endian byte lists for expected stream events and MDS files, and tracks built
// from readable events.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/Song.h"
#include "tests/support/SmfImage.h"

inline Bytes Le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
inline Bytes Id(const char* fourcc) {
    return Bytes(fourcc, fourcc + 4);
}

struct Ev {
    uint32_t tick;
    Bytes bytes;
};

// A format 0 song whose single track holds events, exactly as given.
inline Track& MakeTrack(Song& song, const std::vector<Ev>& events) {
    song.Reset();
    Track* track = song.AppendTrack();
    for (const Ev& e : events) {
        MidiEvent event;
        event.tick = e.tick;
        event.bytes.Assign(e.bytes.data(), uint32_t(e.bytes.size()));
        track->Append(event);
    }
    return *track;
}
