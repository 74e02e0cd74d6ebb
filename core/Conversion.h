// Conversion.h: the steps from an SMF image to stream blocks that every front end shares.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/Song.h"
#include "core/StreamBlocks.h"

enum class PrepareResult {
    Ok,
    NotSmf,  // a failed parse, format 2, or a song without any track
    OutOfMemory,
};

// Parses image (a MacBinary header allowed), refuses what cannot be converted, takes the title
// and the copyright from the first track before merging, and merges a format 1 song. On Ok the
// song's first track is the one to encode.
PrepareResult PrepareSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
                          ByteBuffer& copyright);
