// Conversion.h: the whole road from an SMF image to a MIDI stream file, and back. Every front end
// converts through ConvertSmf and WriteConvertedSong (or ConvertMds and WriteConvertedMidi) and
// only maps their results to its own messages.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"
#include "core/MdsWriter.h"
#include "core/SmfReader.h"
#include "core/SmfWriter.h"
#include "core/Song.h"
#include "core/StreamBlocks.h"

enum class ConversionStatus {
    Ok,
    NotSmf,         // a failed parse, format 2, or a song without any track: see SmfReading
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

// How a conversion reads its input, and what it found there.
struct SmfReading {
    SmfReadMode mode = SmfReadMode::Strict;
    // After NotSmf: why (format 2 is a Format fault in the header, a song without any track a
    // NoTrack fault at the header's chunk count).
    SmfFault fault;
    // After NotSmf in the strict mode: the lenient mode would convert the file.
    bool lenientReads = false;
    // After a lenient read: the SmfMend rules it needed.
    uint32_t mends = 0;
};

// Parses image strictly (a MacBinary header allowed), refuses what cannot be converted, takes the
// title and the copyright from the first track, and encodes with options into out the track that
// merging a format 1 song gives (straight from the merge, see BuildMergedStreamBlocks). The image
// is released as soon as the song is read (its memory goes on holding stream blocks, in out), and
// the song before this returns. On any status but Ok, out holds no blocks and no texts.
ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options, ConvertedSong& out,
                            ConversionObserver* observer = nullptr);
// The same for an image the caller keeps.
ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            ConvertedSong& out, ConversionObserver* observer = nullptr);
// Both, read as reading.mode says; reading receives what the reader found.
ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options,
                            SmfReading& reading, ConvertedSong& out,
                            ConversionObserver* observer = nullptr);
ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            SmfReading& reading, ConvertedSong& out,
                            ConversionObserver* observer = nullptr);

// Writes song as a MIDI stream file at path, as WriteMdsFile does.
WriteResult WriteConvertedSong(const char* path, const ConvertedSong& song, bool replace = true);
// The same bytes into out, for checks that need no file; false when memory runs out.
bool WriteConvertedImage(const ConvertedSong& song, MemoryFile& out);

// The first steps alone, for callers that need the merged song itself (tests compare with it):
// parse, refuse, take the texts, merge. Never EventTooLarge. On Ok the song's first track is the
// one ConvertSmf encodes.
ConversionStatus PrepareSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
                             ByteBuffer& copyright, ConversionObserver* observer = nullptr);
ConversionStatus PrepareSong(const uint8_t* image, uint32_t size, SmfReading& reading, Song& song,
                             ByteBuffer& title, ByteBuffer& copyright,
                             ConversionObserver* observer = nullptr);

// The way back: a MIDI stream file, ours or another writer's, as a format 0 SMF.
using MdsConversionStatus = SmfPlanStatus;
using ConvertedMidi = SmfPlan;  // points into the image, which must outlive it

// Decodes image as a MIDI stream file and checks that an SMF can hold it; with useRunningStatus
// the SMF uses running status. On NotMds, Malformed, DeltaTooLarge and TextTooLong, out.fault
// gives the fault and its byte offset. Allocates nothing.
MdsConversionStatus ConvertMds(const uint8_t* image, uint32_t size, bool useRunningStatus,
                               ConvertedMidi& out);

// Writes the SMF at path, through a temporary file as WriteConvertedSong does.
WriteResult WriteConvertedMidi(const char* path, const ConvertedMidi& midi, bool replace = true);
// The same bytes into out, for checks that need no file; false when memory runs out.
bool WriteConvertedMidiImage(const ConvertedMidi& midi, MemoryFile& out);
