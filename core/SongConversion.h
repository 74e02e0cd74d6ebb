// SongConversion.h: the conversion through the song model, every event of every track held as a
// Song, merged and encoded from there. Front ends convert through Conversion.h, which reads
// straight from the file's image; this is the reference that is checked against it, byte for
// byte, and the way to the merged song itself for the callers that need it.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/Conversion.h"
#include "core/Song.h"

// The conversion of ConvertSmf, by the model: the song read whole, its title and copyright taken,
// a format 1 song merged as it is encoded (BuildMergedStreamBlocks). When the request's image is
// held by image, its memory goes on holding stream blocks once the song is read.
ConversionResult ConvertSmfThroughSong(const ConversionRequest& request, ConvertedSong& out,
                                       ByteBuffer* image = nullptr);

// The first steps alone: read, refuse what does not convert, take the texts, merge. Never
// EventTooLarge. On Ok the song's first track is the one the conversion encodes; reading, when
// given, receives what the reading found.
ConversionStatus PrepareSong(const ConversionRequest& request, Song& song, ByteBuffer& title,
                             ByteBuffer& copyright, SmfReading* reading = nullptr);
