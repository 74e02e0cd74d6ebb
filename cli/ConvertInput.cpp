#include "cli/ConvertInput.h"

#include "cli/Platform.h"
#include "cli/Refusals.h"
#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/OutputFile.h"

namespace {

// Reads the job's input whole; false, with the job's result, when it cannot.
bool ReadInput(Job& job, ByteBuffer& image) {
    const FileSystem::ReadResult read = FileSystem::ReadWholeFile(job.input.c_str(), image);
    if (read.Ok()) return true;
    job.code = read.errorCode;
    if (read.failed == FileSystem::ReadResult::NotAFile)
        job.result = Result::NotAFile;
    else
        job.result = job.code == OutOfMemoryErrorCode() ? Result::OutOfMemory : Result::ReadFailed;
    return false;
}

// The job's result once its output is written, or not.
void Finish(Job& job, const Settings& s, const WriteResult& written, uint32_t blocks,
            uint32_t events) {
    if (!written.ok) {
        job.code = written.errorCode;
        if (!s.force && FileSystem::AlreadyExists(written.errorCode))
            job.result = Result::OutputExists;  // it appeared while this one was being written
        else if (written.errorCode == OutOfMemoryErrorCode())
            job.result = Result::OutOfMemory;
        else
            job.result = Result::WriteFailed;
        return;
    }
    job.result = Result::Converted;
    job.blocks = blocks;
    job.events = events;
}

// The way back: -k and --omit-stream-ids mean nothing to it.
void ConvertToMidi(Job& job, const Settings& s) {
    ByteBuffer image;
    if (!ReadInput(job, image)) return;
    ConvertedMidi midi;
    const MdsConversionStatus status =
        ConvertMds(image.Data(), image.Size(), s.options.useRunningStatus, midi);
    if (status != MdsConversionStatus::Ok) {
        job.result = Result::Refused;
        job.reason = MdsRefusal(status, midi.fault);
        return;
    }
    Finish(job, s, WriteConvertedMidi(job.output.c_str(), midi, s.force), midi.blocks, midi.events);
}

// Whether the job's input can be opened, and if not, why, in the job's result.
bool CanRead(Job& job) {
    uint32_t got = 0;
    const FileSystem::ReadResult read =
        FileSystem::ReadFileStart(job.input.c_str(), nullptr, 0, got);
    if (read.Ok()) return true;
    job.result = Result::ReadFailed;
    job.code = read.errorCode;
    return false;
}

}  // namespace

void ConvertInput(Job& job, const Settings& s) {
    // Checked early to spare the work; the final rename checks again, at the last moment. What
    // keeps the input from being read is said first.
    if (!s.force && Platform::Exists(job.output)) {
        if (CanRead(job)) job.result = Result::OutputExists;
        return;
    }
    if (job.toMidi) return ConvertToMidi(job, s);
    ByteBuffer image;
    if (!ReadInput(job, image)) return;
    const ConversionResult converted =
        ConvertSmfToFile(ConversionRequest(image.Data(), image.Size(), s.options, s.mode),
                         job.output.c_str(), s.force);
    job.reading = converted.reading;
    switch (converted.status) {
        case ConversionStatus::Ok:
            Finish(job, s, WriteResult{true, 0}, converted.blocks, converted.events);
            return;
        case ConversionStatus::NotSmf:
            job.result = Result::NotSmf;
            return;
        case ConversionStatus::EventTooLarge:
            job.result = Result::SysexTooLarge;
            return;
        case ConversionStatus::OutputTooLarge:
            job.result = Result::OutputTooLarge;
            return;
        case ConversionStatus::OutOfMemory:
            job.result = Result::OutOfMemory;
            return;
        case ConversionStatus::WriteFailed:
            Finish(job, s, WriteResult{false, converted.errorCode}, 0, 0);
            return;
    }
}
