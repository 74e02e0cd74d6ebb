#include "cli/Reporter.h"

#include <cstdio>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "core/OutputFile.h"

bool Reporter::Report(const Job& job) {
    switch (job.result) {
        case Result::Converted:
            if (!s.quiet) {
                char counts[128];
                std::snprintf(counts, sizeof counts, Text(Msg::Converted), unsigned(job.blocks),
                              unsigned(job.events));
                Say(Printable(job.input) + " -> " + Printable(job.output) + ": " + counts);
            }
            return true;
        case Result::Duplicate:
            if (!s.quiet) Warn(job.input, Text(Msg::Duplicate));
            return true;
        case Result::ReadFailed:
        case Result::ListFailed:
            Warn(job.input, Platform::ErrorText(job.code));
            break;
        case Result::OutOfMemory:
            Warn(job.input, Platform::ErrorText(OutOfMemoryErrorCode()));
            break;
        case Result::NotAFile:
            Warn(job.input, Text(Msg::NotAFile));
            break;
        case Result::NotSmf:
            Warn(job.input, SmfRefusal(job.reading.fault, job.reading.lenientConverts));
            break;
        case Result::SysexTooLarge:
            Warn(job.input,
                 ConversionRefusal(ConversionStatus::EventTooLarge, job.reading.fault, false));
            break;
        case Result::OutputTooLarge:
            Warn(job.input,
                 ConversionRefusal(ConversionStatus::OutputTooLarge, job.reading.fault, false));
            break;
        case Result::IsFolder:
            Warn(job.input, Text(Msg::IsFolder));
            break;
        case Result::NoMidiFiles:
            Warn(job.input, Text(s.toMidi                         ? Msg::NoMdsFiles
                                 : s.mode == SmfReadMode::Lenient ? Msg::NoMidiFilesLenient
                                                                  : Msg::NoMidiFiles));
            break;
        case Result::Refused:
            Warn(job.input, job.reason);
            break;
        case Result::OutputExists:
            Warn(job.output, Text(Msg::OutputExists));
            break;
        case Result::OutputIsInput:
            Warn(job.output, Text(Msg::OutputIsInput));
            break;
        case Result::OutputClash:
            Warn(job.output, Text(Msg::OutputClash));
            break;
        case Result::WriteFailed:
            Warn(job.output, Platform::ErrorText(job.code));
            break;
        case Result::Pending:
            Warn(job.input, Text(Msg::Unexpected));
            break;
    }
    return false;
}

void Reporter::Say(const std::string& line) {
    if (outFailed) return;
    out << line << "\n";
    out.flush();
    if (out) return;
    const uint32_t code = Platform::LastError();
    outFailed = true;
    err << "tonflux-convert: " << Text(Msg::ReportFailed)
        << (code ? ": " + OneLine(Platform::ErrorText(code)) : std::string()) << "\n";
}

void Reporter::Warn(const std::string& path, const std::string& reason) {
    err << "tonflux-convert: '" << Printable(path) << "': " << OneLine(reason) << "\n";
}
