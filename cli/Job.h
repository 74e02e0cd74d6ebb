// Job.h: one input of a run, from the plan through its conversion to its report line.
#pragma once
#include <cstdint>
#include <string>

#include "core/Conversion.h"

enum class Result {
    Pending,
    Converted,
    Duplicate,   // the same file named before: skipped, not a failure
    ReadFailed,  // code: the system's
    NotAFile,    // a pipe, device or socket
    NotSmf,
    SysexTooLarge,
    OutputTooLarge,  // the MIDI stream file would pass what its format holds
    OutOfMemory,
    OutputExists,
    OutputIsInput,  // not even -f replaces an input of the same run
    OutputClash,
    WriteFailed,  // code: the system's
    IsFolder,
    ListFailed,   // code: the system's; input is the folder or entry that could not be read
    NoMidiFiles,  // input is the folder
    Refused,      // the way back refused the file; reason says why
};

struct Job {
    std::string input;
    std::string output;
    Result result = Result::Pending;
    uint32_t code = 0;
    uint32_t blocks = 0;
    uint32_t events = 0;
    bool done = false;
    bool toMidi = false;  // a MIDI stream file, back to SMF
    std::string reason{};
    SmfReading reading{};  // after NotSmf: why, and whether --lenient converts it
};
