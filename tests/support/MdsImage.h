// MdsImage.h: builds MIDI stream file images for tests from readable parts, chunk by chunk, so a
// case shows only where a file departs from the usual layout.
#pragma once
#include <cstdint>
#include <utility>

#include "tests/support/Packed.h"

// A chunk with its true length, and the fill byte after an odd one.
inline Bytes RiffChunk(const char* id, const Bytes& body) {
    Bytes out = Cat({Id(id), Le32(uint32_t(body.size())), body});
    if (body.size() & 1) out.push_back(0);
    return out;
}

// RIFF form MIDS around the chunks, with its true size.
inline Bytes MdsFile(std::initializer_list<Bytes> chunks) {
    const Bytes body = Cat(chunks);
    return Cat({Id("RIFF"), Le32(uint32_t(body.size() + 4)), Id("MIDS"), body});
}

inline Bytes FmtChunk(uint32_t maxBufferBytes = 1024, uint32_t flags = 0,
                      uint32_t timeFormat = 96) {
    return RiffChunk("fmt ", Cat({Le32(timeFormat), Le32(maxBufferBytes), Le32(flags)}));
}

// A data chunk of blocks given as (tickStart, events).
inline Bytes DataChunk(std::initializer_list<std::pair<uint32_t, Bytes>> blocks) {
    Bytes body = Le32(uint32_t(blocks.size()));
    for (const auto& b : blocks)
        body = Cat({body, Le32(b.first), Le32(uint32_t(b.second.size())), b.second});
    return RiffChunk("data", body);
}

// A packed event with its stream identifier 0: delta, identifier, event word.
inline Bytes PackedEvent(uint32_t delta, uint32_t word) {
    return Cat({Le32(delta), Le32(0), Le32(word)});
}

// A LIST of type INFO holding the given text chunks.
inline Bytes InfoList(std::initializer_list<Bytes> texts) {
    return RiffChunk("LIST", Cat({Id("INFO"), Cat(texts)}));
}
