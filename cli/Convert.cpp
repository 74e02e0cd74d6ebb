#include "cli/Convert.h"

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "cli/Dump.h"
#include "cli/Platform.h"
#include "cli/Texts.h"
#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/OutputFile.h"

#ifndef TONFLUX_VERSION
#define TONFLUX_VERSION "0"
#endif

namespace {

struct Settings {
    ConversionOptions options;
    SmfReadMode mode = SmfReadMode::Strict;
    std::string output;
    std::string outputDir;
    bool force = false;
    bool recursive = false;
    bool quiet = false;
    unsigned jobs = 0;  // 0: one per core
    std::vector<std::string> inputs;
    std::vector<std::string> dumps;
    bool help = false;
    bool version = false;
};

enum class Result {
    Pending,
    Converted,
    ReadFailed,  // code: the system's
    NotSmf,
    SysexTooLarge,
    OutOfMemory,
    OutputExists,
    OutputClash,
    WriteFailed,  // code: the system's
    IsFolder,
    ListFailed,  // code: the system's
};

struct Job {
    std::string input;
    std::string output;
    Result result = Result::Pending;
    uint32_t code = 0;
    uint32_t blocks = 0;
    uint32_t events = 0;
    bool done = false;
    SmfReading reading{};  // after NotSmf: why
};

std::string Say(const char* utf8) {
    return Platform::ConsoleText(utf8);
}

std::string Quoted(const std::string& path) {
    return "'" + Platform::ConsolePath(path) + "'";
}

int UsageError(std::ostream& err, const std::string& reason) {
    err << "tonflux-convert: " << reason << "\n"
        << Say(Texts::UsageLine) << "\n"
        << Say(Texts::SeeHelp) << "\n";
    return ExitCode::Usage;
}

// A whole decimal number from first to last, nothing else; false when it is not one or too large.
bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    return true;
}

// -1 to go on, else the exit code.
int ParseArgs(const std::vector<std::string>& args, Settings& s, std::ostream& err) {
    struct Option {
        const char* longName;
        char shortName;
        bool takesValue;
    };
    static const Option Options[] = {
        {"output", 'o', true},         {"output-dir", 'd', true},
        {"buffer-kb", 'k', true},      {"no-running-status", 0, false},
        {"omit-stream-ids", 0, false}, {"force", 'f', false},
        {"jobs", 'j', true},           {"recursive", 'r', false},
        {"quiet", 'q', false},         {"dump", 0, true},
        {"help", 'h', false},          {"version", 0, false},
        {"lenient", 0, false},
    };
    auto apply = [&](const Option& o, const std::string& value) -> int {
        const std::string name = o.longName;
        unsigned long n = 0;
        if (name == "output") s.output = value;
        if (name == "output-dir") s.outputDir = value;
        if (name == "buffer-kb") {
            if (!ParseNumber(value, n) || !IsValidBufferKilobytes(uint32_t(n))) {
                err << "tonflux-convert: " << Say(Texts::BufferSize) << "\n";
                return ExitCode::Usage;
            }
            s.options.maxBufferBytes = uint32_t(n * 1024);
        }
        if (name == "no-running-status") s.options.useRunningStatus = false;
        if (name == "omit-stream-ids") s.options.omitStreamIds = true;
        if (name == "force") s.force = true;
        if (name == "jobs") {
            if (!ParseNumber(value, n) || n < 1 || n > 1024)
                return UsageError(err, Say(Texts::BadJobs));
            s.jobs = unsigned(n);
        }
        if (name == "recursive") s.recursive = true;
        if (name == "quiet") s.quiet = true;
        if (name == "dump") s.dumps.push_back(value);
        if (name == "help") s.help = true;
        if (name == "version") s.version = true;
        if (name == "lenient") s.mode = SmfReadMode::Lenient;
        return -1;
    };

    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            s.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = nullptr;
            for (const Option& o : Options)
                if (name == o.longName) option = &o;
            if (!option) return UsageError(err, Say(Texts::UnknownOption) + arg);
            std::string value;
            if (option->takesValue) {
                if (equals != std::string::npos)
                    value = arg.substr(equals + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Say(Texts::MissingValue) + arg);
            } else if (equals != std::string::npos) {
                return UsageError(err, Say(Texts::UnknownOption) + arg);
            }
            const int code = apply(*option, value);
            if (code >= 0) return code;
            continue;
        }
        // Short options may be bundled (-fq); a value follows its letter or is the next argument.
        for (size_t k = 1; k < arg.size(); ++k) {
            const Option* option = nullptr;
            for (const Option& o : Options)
                if (o.shortName && o.shortName == arg[k]) option = &o;
            if (!option) return UsageError(err, Say(Texts::UnknownOption) + "-" + arg[k]);
            std::string value;
            if (option->takesValue) {
                if (k + 1 < arg.size())
                    value = arg.substr(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Say(Texts::MissingValue) + "-" + arg[k]);
                k = arg.size();
            }
            const int code = apply(*option, value);
            if (code >= 0) return code;
        }
    }
    return -1;
}

bool IsMidiName(const std::string& path, SmfReadMode mode) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < FileSystem::FolderLength(path.c_str())) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return ext == "mid" || ext == "midi" || (mode == SmfReadMode::Lenient && ext == "rmi");
}

// The input's base name (the file name before its last dot) with .mds, in dir or else beside it.
std::string DefaultOutput(const std::string& input, const std::string& dir) {
    const size_t folder = FileSystem::FolderLength(input.c_str());
    std::string name = input.substr(folder);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    name += ".mds";
    if (dir.empty()) return input.substr(0, folder) + name;
    const char last = dir.back();
    const bool separated =
        last == '/' || (Platform::PreferredSeparator() == '\\' && (last == '\\' || last == ':'));
    return dir + (separated ? "" : std::string(1, Platform::PreferredSeparator())) + name;
}

void Convert(Job& job, const Settings& s) {
    if (!s.force && Platform::Kind(job.output) != Platform::PathKind::Missing) {
        job.result = Result::OutputExists;
        return;
    }
    ConvertedSong song;
    {
        ByteBuffer image;
        const FileSystem::ReadResult read = FileSystem::ReadWholeFile(job.input.c_str(), image);
        if (!read.Ok()) {
            job.code = read.errorCode;
            job.result =
                job.code == OutOfMemoryErrorCode() ? Result::OutOfMemory : Result::ReadFailed;
            return;
        }
        job.reading.mode = s.mode;
        switch (ConvertSmf(image, s.options, job.reading, song)) {
            case ConversionStatus::Ok:
                break;
            case ConversionStatus::NotSmf:
                job.result = Result::NotSmf;
                return;
            case ConversionStatus::EventTooLarge:
                job.result = Result::SysexTooLarge;
                return;
            case ConversionStatus::OutOfMemory:
                job.result = Result::OutOfMemory;
                return;
        }
    }
    const WriteResult written = WriteConvertedSong(job.output.c_str(), song);
    if (!written.ok) {
        job.code = written.errorCode;
        job.result =
            written.errorCode == OutOfMemoryErrorCode() ? Result::OutOfMemory : Result::WriteFailed;
        return;
    }
    job.result = Result::Converted;
    job.blocks = song.blocks.Count();
    job.events = song.blocks.EventCount();
}

// Where the file is wrong and what is wrong there, and whether --lenient would convert it.
std::string RefusalText(const SmfReading& reading) {
    const SmfFault& fault = reading.fault;
    std::string text;
    if (fault.kind == SmfFaultKind::None || fault.kind == SmfFaultKind::NotSmf) {
        text = Texts::NotSmf;
    } else {
        char where[128];
        if (fault.chunk == 0)
            std::snprintf(where, sizeof where, Texts::AtHeader, unsigned(fault.offset));
        else
            std::snprintf(where, sizeof where, fault.trackChunk ? Texts::AtTrack : Texts::AtChunk,
                          unsigned(fault.chunk), unsigned(fault.offset));
        text = std::string(where) + ": " + Texts::FaultText(fault.kind);
    }
    if (reading.lenientReads) text += Texts::LenientConverts;
    return Say(text.c_str());
}

// True when the job converted.
bool Report(const Job& job, const Settings& s, std::ostream& out, std::ostream& err) {
    const std::string prefix = "tonflux-convert: ";
    switch (job.result) {
        case Result::Converted:
            if (!s.quiet) {
                char counts[128];
                std::snprintf(counts, sizeof counts, Texts::Converted, unsigned(job.blocks),
                              unsigned(job.events));
                out << Platform::ConsolePath(job.input) << " -> "
                    << Platform::ConsolePath(job.output) << ": " << Say(counts) << "\n";
            }
            return true;
        case Result::ReadFailed:
        case Result::ListFailed:
            err << prefix << Quoted(job.input) << ": " << Platform::ErrorText(job.code) << "\n";
            break;
        case Result::OutOfMemory:
            err << prefix << Quoted(job.input) << ": "
                << Platform::ErrorText(OutOfMemoryErrorCode()) << "\n";
            break;
        case Result::NotSmf:
            err << prefix << Quoted(job.input) << ": " << RefusalText(job.reading) << "\n";
            break;
        case Result::SysexTooLarge:
            err << prefix << Quoted(job.input) << ": " << Say(Texts::SysexTooLarge) << "\n";
            break;
        case Result::IsFolder:
            err << prefix << Quoted(job.input) << ": " << Say(Texts::IsFolder) << "\n";
            break;
        case Result::OutputExists:
            err << prefix << Quoted(job.output) << ": " << Say(Texts::OutputExists) << "\n";
            break;
        case Result::OutputClash:
            err << prefix << Quoted(job.output) << ": " << Say(Texts::OutputClash) << "\n";
            break;
        case Result::WriteFailed:
            err << prefix << Quoted(job.output) << ": " << Platform::ErrorText(job.code) << "\n";
            break;
        case Result::Pending:
            err << prefix << Quoted(job.input) << ": " << Say(Texts::Unexpected) << "\n";
            break;
    }
    return false;
}

// Expands folders, names the outputs and marks what fails before any conversion.
std::vector<Job> Plan(const Settings& s, std::ostream& err) {
    std::vector<Job> jobs;
    for (const std::string& input : s.inputs) {
        if (Platform::Kind(input) != Platform::PathKind::Folder) {
            jobs.push_back(Job{input, "", Result::Pending});
            continue;
        }
        if (!s.recursive) {
            jobs.push_back(Job{input, "", Result::IsFolder});
            continue;
        }
        std::vector<std::string> files;
        uint32_t error = 0;
        if (!Platform::ListFiles(input, files, error)) {
            jobs.push_back(Job{input, "", Result::ListFailed, error});
            continue;
        }
        const size_t before = jobs.size();
        for (const std::string& file : files)
            if (IsMidiName(file, s.mode)) jobs.push_back(Job{file, "", Result::Pending});
        if (jobs.size() == before && !s.quiet)
            err << "tonflux-convert: " << Quoted(input) << ": "
                << Say(s.mode == SmfReadMode::Lenient ? Texts::NoMidiFilesLenient
                                                      : Texts::NoMidiFiles)
                << "\n";
    }
    // Two inputs that would write the same file: the first one wins, whatever the job count.
    std::map<std::string, size_t> claimed;
    for (Job& job : jobs) {
        if (job.result != Result::Pending) continue;
        job.output = s.output.empty() ? DefaultOutput(job.input, s.outputDir) : s.output;
        if (!claimed.emplace(Platform::SameFileKey(job.output), 0).second)
            job.result = Result::OutputClash;
    }
    return jobs;
}

int Run(const Settings& s, std::ostream& out, std::ostream& err) {
    std::vector<Job> jobs = Plan(s, err);
    if (!s.output.empty() && jobs.size() > 1) return UsageError(err, Say(Texts::OutputWithMany));
    size_t runnable = 0;
    for (const Job& job : jobs) runnable += job.result == Result::Pending;

    unsigned threads = s.jobs ? s.jobs : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    if (threads > runnable) threads = unsigned(runnable);

    std::mutex mutex;
    std::condition_variable finished;
    size_t next = 0;
    auto work = [&]() {
        for (;;) {
            size_t i;
            {
                std::lock_guard<std::mutex> lock(mutex);
                while (next < jobs.size() && jobs[next].result != Result::Pending) ++next;
                if (next >= jobs.size()) return;
                i = next++;
            }
            Job result = jobs[i];  // the worker fills its own copy; the list is shared
            Convert(result, s);
            {
                std::lock_guard<std::mutex> lock(mutex);
                result.done = true;
                jobs[i] = result;
            }
            finished.notify_all();
        }
    };
    std::vector<std::thread> pool;
    if (threads <= 1) {
        work();
    } else {
        for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    }

    // Reports follow the order of the inputs, so the output does not depend on the job count.
    bool allConverted = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return jobs[i].result != Result::Pending || jobs[i].done; });
            job = jobs[i];
        }
        allConverted = Report(job, s, out, err) && allConverted;
    }
    for (std::thread& t : pool) t.join();
    return allConverted ? ExitCode::AllConverted : ExitCode::SomeFailed;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Settings s;
    const int parsed = ParseArgs(args, s, err);
    if (parsed >= 0) return parsed;
    if (s.help) {
        out << Say(Texts::Help);
        return ExitCode::AllConverted;
    }
    if (s.version) {
        out << "tonflux-convert " TONFLUX_VERSION "\n";
        return ExitCode::AllConverted;
    }
    if (!s.dumps.empty()) {
        if (!s.inputs.empty()) return UsageError(err, Say(Texts::DumpAndInput));
        int code = ExitCode::AllConverted;
        for (const std::string& path : s.dumps)
            if (DumpMdsFile(path, out, err) != 0) code = ExitCode::SomeFailed;
        return code;
    }
    if (s.inputs.empty()) return UsageError(err, Say(Texts::NoInput));
    if (!s.output.empty() && !s.outputDir.empty()) return UsageError(err, Say(Texts::OutputAndDir));
    if (!s.output.empty() && s.inputs.size() > 1)
        return UsageError(err, Say(Texts::OutputWithMany));
    return Run(s, out, err);
}
