// Conversion.h: the front door of the core. Every front end converts through these entries and
// only maps their results to its own messages: an SMF image to a MIDI stream file, held in memory
// (ConvertSmf) or written as it is made (ConvertSmfToFile, ConvertSmfToOutput), and back
// (ConvertMds, WriteConvertedMidi).
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"
#include "core/MdsWriter.h"
#include "core/OutputFile.h"
#include "core/SmfFault.h"
#include "core/SmfWriter.h"
#include "core/StreamBlocks.h"

enum class ConversionStatus {
    Ok,
    NotSmf,          // a failed reading, format 2, or a song without any track: see SmfReading
    EventTooLarge,   // an event does not fit even into an empty block (a long system exclusive)
    OutputTooLarge,  // the MIDI stream file would reach 4 GB, more than its 32-bit sizes hold
    OutOfMemory,
    WriteFailed,  // the output could not be written: errorCode says why
};

// The steps of a conversion as they end, for a caller that watches it (benchmarks time them).
// The merge hands its order straight to the encoder: Merged comes as the encoding starts.
enum class ConversionStep { Parsed, Merged, Encoded, Released };
class ConversionObserver {
public:
    virtual ~ConversionObserver() {}
    virtual void StepDone(ConversionStep step) = 0;
};

// One conversion of an SMF image (a MacBinary header allowed; with the lenient mode an RMID file
// too). The image must stay as it is until the call returns.
struct ConversionRequest {
    ConversionRequest() {}
    ConversionRequest(const uint8_t* image, uint32_t size,
                      const ConversionOptions& options = ConversionOptions(),
                      SmfReadMode mode = SmfReadMode::Strict,
                      ConversionObserver* observer = nullptr)
        : image(image), size(size), options(options), mode(mode), observer(observer) {}

    const uint8_t* image = nullptr;
    uint32_t size = 0;
    ConversionOptions options;
    SmfReadMode mode = SmfReadMode::Strict;
    ConversionObserver* observer = nullptr;
};

// What the reading found in the image.
struct SmfReading {
    // After NotSmf: why (format 2 is a Format fault in the header, a song without any track a
    // NoTrack fault at the header's chunk count).
    SmfFault fault;
    // After NotSmf in the strict mode: the lenient mode would convert the file, with the same
    // options (its reading may take a file whose system exclusive message is then too large).
    bool lenientConverts = false;
    // After a lenient reading: the SmfMend rules it needed.
    uint32_t mends = 0;
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::NotSmf;
    SmfReading reading;
    uint32_t blocks = 0;     // after Ok: the stream blocks of the file
    uint32_t events = 0;     // and the stream events in them
    uint32_t errorCode = 0;  // after WriteFailed: the system's code (errno, GetLastError())
    // After Ok from ConvertSmfToOutput or ConvertSmfToFile: the file's time format (the SMF's
    // division) and the texts of its INFO list (INAM, ICOP; null when absent), pointing into the
    // image.
    uint16_t division = 0;
    const uint8_t* title = nullptr;
    uint32_t titleLength = 0;
    const uint8_t* copyright = nullptr;
    uint32_t copyrightLength = 0;
};

// Everything a MIDI stream file holds, in memory.
struct ConvertedSong {
    uint16_t division = 0;
    ConversionOptions options;
    ByteBuffer title;
    ByteBuffer copyright;
    StreamBlockList blocks;
};

// Converts the image into out and keeps it there, for a caller that writes it later with
// WriteConvertedSong (the Windows program asks for the output's name only once the conversion has
// succeeded). On any status but Ok, out holds no blocks and no texts. Never WriteFailed.
ConversionResult ConvertSmf(const ConversionRequest& request, ConvertedSong& out);

// Converts the image while the file is written: each stream block goes to output as it fills, so
// the conversion needs little memory beside the image, whatever the song's size. Nothing is
// written before the reading has taken the whole file and every event is known to fit its block;
// on any status but Ok, what was written is no MIDI stream file and is to be thrown away.
// A write that fails gives WriteFailed, with errorCode 0: output knows why.
ConversionResult ConvertSmfToOutput(const ConversionRequest& request, MdsOutput& output);

// The same into a file at path, written under a temporary name and put in path's place only when
// complete: on any status but Ok nothing is left, and a file at path stays as it was. Without
// replace a file (or link) at path fails the write with the "already exists" code
// (FileSystem::AlreadyExists), even one that appeared while the file was being written.
ConversionResult ConvertSmfToFile(const ConversionRequest& request, const char* path,
                                  bool replace = true);

// Writes song as a MIDI stream file at path, as ConvertSmfToFile writes it.
WriteResult WriteConvertedSong(const char* path, const ConvertedSong& song, bool replace = true);
// The same bytes into out, for checks that need no file; false when memory runs out.
bool WriteConvertedImage(const ConvertedSong& song, MemoryFile& out);

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
