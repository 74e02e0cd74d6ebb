// SmfWriter.h: writes the events of a MIDI stream file as a format 0 Standard MIDI File. It
// allocates nothing: a first pass decodes the file, refuses what an SMF cannot hold and measures
// the track; the second decodes it again and writes.
#pragma once
#include <cstdint>

#include "core/MdsReader.h"
#include "core/OutputFile.h"
#include "core/StreamBlocks.h"

enum class SmfPlanStatus {
    Ok,
    NotMds,         // not a RIFF file of form MIDS
    Malformed,      // the fault that stopped the decoder is in the plan's fault
    DeltaTooLarge,  // a delta above 0x0FFFFFFF, more than an SMF number holds (at: the event)
    TextTooLong,    // a title or copyright of 0x10000000 bytes or more (at: its chunk)
};

// A MIDI stream file checked and measured for writing as an SMF. It points into the image, which
// must stay as it is while the plan is used.
struct SmfPlan {
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    bool useRunningStatus = true;
    uint16_t division = 0;               // the low 16 bits of the time format
    const uint8_t* title = nullptr;      // the first INAM of an INFO list, null when there is
    uint32_t titleLength = 0;            // none; one terminating NUL is not counted
    const uint8_t* copyright = nullptr;  // the same for ICOP
    uint32_t copyrightLength = 0;
    uint64_t trackBytes = 0;  // the data of the MTrk chunk
    uint32_t blocks = 0;
    uint32_t events = 0;  // stream events written (short, tempo, long); skipped ones not counted
    MdsCheck fault;       // what refused the file, and where
};

// Decodes the MDS image (DecodeMds: any writer's file) and plans its SMF: the title and the
// copyright as meta events at tick 0, every short, tempo and long event with its delta (those of
// skipped events carried to the next), End of Track. With useRunningStatus a channel message
// leaves out the status that the channel message just before it had.
SmfPlanStatus PlanSmf(const uint8_t* image, uint32_t size, bool useRunningStatus, SmfPlan& plan);

// Writes the planned SMF to a temporary file beside path and renames it over path only when every
// byte is written; on failure nothing is left and an existing file at path is untouched.
WriteResult WriteSmfFile(const char* path, const SmfPlan& plan, bool replace = true);
// The same bytes into out (emptied first); false when memory runs out.
bool WriteSmfImage(const SmfPlan& plan, MemoryFile& out);
