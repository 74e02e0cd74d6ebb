// RandomSong.h: random but valid Standard MIDI Files with every event kind the encoder treats
// differently, for round-trip tests and as fuzzing seeds.
#pragma once
#include <cstdint>
#include <random>

#include "tests/support/SmfImage.h"

struct RandomSongShape {
    uint16_t format = 1;
    uint32_t tracks = 4;
    uint32_t eventsPerTrack = 200;
    uint32_t longestSysex = 300;  // data bytes
    bool wrapTicks = false;       // a delta in every track that carries its ticks past 2^32
};

Bytes RandomSong(std::mt19937& rng, const RandomSongShape& shape);
