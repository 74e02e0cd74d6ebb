// Conversion.h: the whole road from an SMF image to a MIDI stream file. Every front end converts
// through ConvertSmf and WriteConvertedSong and only maps their results to its own messages.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"
#include "core/MdsWriter.h"
#include "core/Song.h"
#include "core/StreamBlocks.h"

enum class ConversionStatus {
    Ok,
    NotSmf,         // a failed parse, format 2, or a song without any track
    EventTooLarge,  // an event does not fit even into an empty block (a long system exclusive)
    OutOfMemory,
};

// Everything a MIDI stream file holds.
struct ConvertedSong {
    uint16_t division = 0;
    ConversionOptions options;
    ByteBuffer title;
    ByteBuffer copyright;
    StreamBlockList blocks;
};

// The steps of a conversion as they end, for a caller that watches it (benchmarks time them).
// ConvertSmf merges a format 1 song as it encodes it: Merged comes as the encoding starts.
enum class ConversionStep { Parsed, Merged, Encoded, Released };
class ConversionObserver {
public:
    virtual ~ConversionObserver() {}
    virtual void StepDone(ConversionStep step) = 0;
};

// Parses image (a MacBinary header allowed), refuses what cannot be converted, takes the title
// and the copyright from the first track, and encodes with options into out the track that
// merging a format 1 song gives (straight from the merge, see BuildMergedStreamBlocks). The image
// is released as soon as the song is read (its memory goes on holding stream blocks, in out), and
// the song before this returns. On any status but Ok, out holds no blocks and no texts.
ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options, ConvertedSong& out,
                            ConversionObserver* observer = nullptr);
// The same for an image the caller keeps.
ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            ConvertedSong& out, ConversionObserver* observer = nullptr);

// Writes song as a MIDI stream file at path, as WriteMdsFile does.
WriteResult WriteConvertedSong(const char* path, const ConvertedSong& song);
// The same bytes into out, for checks that need no file; false when memory runs out.
bool WriteConvertedImage(const ConvertedSong& song, MemoryFile& out);

// The first steps alone, for callers that need the merged song itself (tests compare with it):
// parse, refuse, take the texts, merge. Never EventTooLarge. On Ok the song's first track is the
// one ConvertSmf encodes.
ConversionStatus PrepareSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
                             ByteBuffer& copyright, ConversionObserver* observer = nullptr);
