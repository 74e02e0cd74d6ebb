// MergedEvent.h: an event as a merge or a walk over a track hands it to the encoder.
#pragma once
#include <cstdint>

// An event on its way to the encoder: its tick and, for a short event (a channel message), its
// bytes, so that the encoder needs not go back to it.
struct MergedEvent {
    const void* source;  // the event: a song's MidiEvent, or its status byte in a file's image
    uint32_t tick;
    uint8_t bytes[3];  // a short event's bytes
    uint8_t size;      // their number; 0 for any other event, which is taken apart at source
};
