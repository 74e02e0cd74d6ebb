#include "cli/Convert.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "cli/About.h"
#include "cli/Dump.h"
#include "cli/MdsInput.h"
#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/OutputFile.h"

namespace {

// No more files are written at once than the interrupt cleanup can keep track of.
constexpr unsigned MaxJobs = MaxUnfinishedOutputs;

struct Settings {
    ConversionOptions options;
    SmfReadMode mode = SmfReadMode::Strict;
    std::string output;
    std::string outputDir;
    bool force = false;
    bool recursive = false;
    bool toMidi = false;  // only MIDI stream files, back to SMF; -r collects *.mds
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
    SmfReading reading{};  // after NotSmf: why
};

std::string Quoted(const std::string& path) {
    return "'" + Printable(path) + "'";
}

int UsageError(std::ostream& err, const std::string& reason) {
    err << "tonflux-convert: " << reason << "\n"
        << Text(Msg::UsageLine) << "\n"
        << Text(Msg::SeeHelp) << "\n";
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
        {"to-mid", 0, false},          {"lenient", 0, false},
    };
    auto apply = [&](const Option& o, const std::string& spelled, const std::string& value) {
        const std::string name = o.longName;
        unsigned long n = 0;
        // An empty value is a slip (a variable that was not set), never a wish.
        if (o.takesValue && value.empty()) return UsageError(err, Text(Msg::EmptyValue) + spelled);
        if (name == "output") s.output = value;
        if (name == "output-dir") s.outputDir = value;
        if (name == "buffer-kb") {
            if (!ParseNumber(value, n) || !IsValidBufferKilobytes(uint32_t(n))) {
                err << "tonflux-convert: " << Text(Msg::BufferSize) << "\n";
                return ExitCode::Usage;
            }
            s.options.maxBufferBytes = uint32_t(n * 1024);
        }
        if (name == "no-running-status") s.options.useRunningStatus = false;
        if (name == "omit-stream-ids") s.options.omitStreamIds = true;
        if (name == "force") s.force = true;
        if (name == "jobs") {
            if (!ParseNumber(value, n) || n < 1 || n > MaxJobs) {
                char text[160];
                std::snprintf(text, sizeof text, Text(Msg::BadJobs), MaxJobs);
                return UsageError(err, text);
            }
            s.jobs = unsigned(n);
        }
        if (name == "recursive") s.recursive = true;
        if (name == "to-mid") s.toMidi = true;
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
            if (!option) return UsageError(err, Text(Msg::UnknownOption) + Printable(arg));
            std::string value;
            if (option->takesValue) {
                if (equals != std::string::npos)
                    value = arg.substr(equals + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Text(Msg::MissingValue) + arg);
            } else if (equals != std::string::npos) {
                return UsageError(err, Text(Msg::UnknownOption) + Printable(arg));
            }
            const int code = apply(*option, "--" + name, value);
            if (code >= 0) return code;
            continue;
        }
        // Short options may be bundled (-fq); a value follows its letter or is the next argument.
        for (size_t k = 1; k < arg.size(); ++k) {
            const Option* option = nullptr;
            for (const Option& o : Options)
                if (o.shortName && o.shortName == arg[k]) option = &o;
            const std::string spelled = std::string("-") + arg[k];
            if (!option) return UsageError(err, Text(Msg::UnknownOption) + Printable(spelled));
            std::string value;
            if (option->takesValue) {
                if (k + 1 < arg.size())
                    value = arg.substr(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return UsageError(err, Text(Msg::MissingValue) + spelled);
                k = arg.size();
            }
            const int code = apply(*option, spelled, value);
            if (code >= 0) return code;
        }
    }
    return -1;
}

// What -r collects: *.mid and *.midi (and *.rmi with --lenient), or *.mds for the way back.
bool IsInputName(const std::string& path, bool toMidi, SmfReadMode mode) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < FileSystem::FolderLength(path.c_str())) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (toMidi) return ext == "mds";
    return ext == "mid" || ext == "midi" || (mode == SmfReadMode::Lenient && ext == "rmi");
}

// The input's base name (the file name before its last dot) with extension, in dir or else
// beside it.
std::string DefaultOutput(const std::string& input, const std::string& dir, const char* extension) {
    const size_t folder = FileSystem::FolderLength(input.c_str());
    std::string name = input.substr(folder);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    name += extension;
    if (dir.empty()) return input.substr(0, folder) + name;
    const char last = dir.back();
    const bool separated =
        last == '/' || (Platform::PreferredSeparator() == '\\' && (last == '\\' || last == ':'));
    return dir + (separated ? "" : std::string(1, Platform::PreferredSeparator())) + name;
}

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

void Convert(Job& job, const Settings& s) {
    // Checked early to spare the work; the final rename checks again, at the last moment.
    if (!s.force && Platform::Exists(job.output)) {
        job.result = Result::OutputExists;
        return;
    }
    if (job.toMidi) return ConvertToMidi(job, s);
    ByteBuffer image;
    if (!ReadInput(job, image)) return;
    ConversionRequest request;
    request.image = image.Data();
    request.size = image.Size();
    request.options = s.options;
    request.mode = s.mode;
    const ConversionResult converted = ConvertSmfToFile(request, job.output.c_str(), s.force);
    job.reading = converted.reading;
    switch (converted.status) {
        case ConversionStatus::Ok:
            job.result = Result::Converted;
            job.blocks = converted.blocks;
            job.events = converted.events;
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

const char* SmfFaultText(SmfFaultKind kind) {
    switch (kind) {
        case SmfFaultKind::None:
        case SmfFaultKind::NotSmf:
            return Text(Msg::NotSmf);
        case SmfFaultKind::CutShort:
            return Text(Msg::SmfCutShort);
        case SmfFaultKind::HeaderLength:
            return Text(Msg::SmfHeaderLength);
        case SmfFaultKind::Format:
            return Text(Msg::SmfFormat);
        case SmfFaultKind::Division:
            return Text(Msg::SmfDivision);
        case SmfFaultKind::MissingChunks:
            return Text(Msg::SmfMissingChunks);
        case SmfFaultKind::SecondHeader:
            return Text(Msg::SmfSecondHeader);
        case SmfFaultKind::ChunkPastEnd:
            return Text(Msg::SmfChunkPastEnd);
        case SmfFaultKind::EmptyTrack:
            return Text(Msg::SmfEmptyTrack);
        case SmfFaultKind::LongNumber:
            return Text(Msg::SmfLongNumber);
        case SmfFaultKind::DataWithoutStatus:
            return Text(Msg::SmfDataWithoutStatus);
        case SmfFaultKind::BadStatus:
            return Text(Msg::SmfBadStatus);
        case SmfFaultKind::MetaType:
            return Text(Msg::SmfMetaType);
        case SmfFaultKind::MetaLength:
            return Text(Msg::SmfMetaLength);
        case SmfFaultKind::EndOfTrackNotAtEnd:
            return Text(Msg::SmfEndOfTrackNotAtEnd);
        case SmfFaultKind::NoEndOfTrack:
            return Text(Msg::SmfNoEndOfTrack);
        case SmfFaultKind::NoTrack:
            return Text(Msg::SmfNoTrack);
    }
    return Text(Msg::NotSmf);
}

// Where the file is wrong and what is wrong there, and whether --lenient would convert it.
std::string RefusalText(const SmfReading& reading) {
    const SmfFault& fault = reading.fault;
    std::string text;
    if (fault.kind == SmfFaultKind::None || fault.kind == SmfFaultKind::NotSmf) {
        text = Text(Msg::NotSmf);
    } else {
        char where[128];
        if (fault.chunk == 0)
            std::snprintf(where, sizeof where, Text(Msg::AtHeader), unsigned(fault.offset));
        else
            std::snprintf(where, sizeof where, Text(fault.trackChunk ? Msg::AtTrack : Msg::AtChunk),
                          unsigned(fault.chunk), unsigned(fault.offset));
        text = std::string(where) + ": " + SmfFaultText(fault.kind);
    }
    if (reading.lenientReads) text += Text(Msg::LenientConverts);
    return text;
}

// Writes the report lines of the run. Standard output may be a pipe whose reader has gone (a
// "| head"): the conversions go on, and that failure is said once on standard error.
class Reporter {
public:
    Reporter(const Settings& s, std::ostream& out, std::ostream& err) : s(s), out(out), err(err) {}

    // True when the job converted, or was a duplicate that needed no conversion.
    bool Report(const Job& job) {
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
                Warn(job.input, RefusalText(job.reading));
                break;
            case Result::SysexTooLarge:
                Warn(job.input, Text(Msg::SysexTooLarge));
                break;
            case Result::OutputTooLarge:
                Warn(job.input, Text(Msg::OutputTooLarge));
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

    // False when a report line could not be written.
    bool Written() const { return !outFailed; }

private:
    void Say(const std::string& line) {
        if (outFailed) return;
        out << line << "\n";
        out.flush();
        if (out) return;
        const uint32_t code = Platform::LastError();
        outFailed = true;
        err << "tonflux-convert: " << Text(Msg::ReportFailed)
            << (code ? ": " + Platform::ErrorText(code) : std::string()) << "\n";
    }
    void Warn(const std::string& path, const std::string& reason) {
        err << "tonflux-convert: " << Quoted(path) << ": " << reason << "\n";
    }

    const Settings& s;
    std::ostream& out;
    std::ostream& err;
    bool outFailed = false;
};

// The files a folder given with -r holds, as jobs; the entries that could not be read, in their
// place, as failures naming them.
void Collect(const std::string& folder, const Settings& s, std::vector<Job>& jobs) {
    std::vector<Platform::FolderEntry> entries;
    uint32_t error = 0;
    if (!Platform::ListFiles(folder, entries, error)) {
        jobs.push_back(Job{folder, "", Result::ListFailed, error});
        return;
    }
    bool found = false;
    for (const Platform::FolderEntry& entry : entries) {
        if (entry.error) {
            jobs.push_back(Job{entry.path, "", Result::ListFailed, entry.error});
        } else if (IsInputName(entry.path, s.toMidi, s.mode)) {
            jobs.push_back(Job{entry.path, "", Result::Pending});
            jobs.back().toMidi = s.toMidi;
            found = true;
        }
    }
    if (!found) jobs.push_back(Job{folder, "", Result::NoMidiFiles});
}

// A file named on the command line goes back to SMF when it is a MIDI stream file, whatever
// its name; with --to-mid it must be one.
Job NamedInput(const std::string& input, const Settings& s) {
    Job job{input, "", Result::Pending};
    const MdsProbe probe = ProbeMdsFile(input);
    job.toMidi = s.toMidi || probe == MdsProbe::Mds;
    if (s.toMidi && probe == MdsProbe::NotMds) {
        job.result = Result::Refused;
        job.reason = Text(Msg::NotMds);
    }
    return job;
}

// Expands folders, names the outputs and marks what fails before any conversion.
std::vector<Job> Plan(const Settings& s) {
    std::vector<Job> jobs;
    for (const std::string& input : s.inputs) {
        switch (Platform::Kind(input)) {
            case Platform::PathKind::Folder:
                if (s.recursive)
                    Collect(input, s, jobs);
                else
                    jobs.push_back(Job{input, "", Result::IsFolder});
                break;
            case Platform::PathKind::Other:
                jobs.push_back(Job{input, "", Result::NotAFile});
                break;
            case Platform::PathKind::File:
            case Platform::PathKind::Missing:  // its reading says why
                jobs.push_back(NamedInput(input, s));
                break;
        }
    }
    // Every input of the run, converted or not, by identity: an output never replaces one of
    // them, -f or not (song.mid and song.mds named together would each overwrite the other).
    // The same file named twice (or reached through a link, or by two folders) is converted once.
    std::set<std::pair<uint64_t, uint64_t>> inputIds;
    for (Job& job : jobs) {
        FileSystem::FileId id;
        if (job.result == Result::IsFolder || job.result == Result::ListFailed ||
            job.result == Result::NoMidiFiles || !FileSystem::Identify(job.input.c_str(), id))
            continue;
        if (!inputIds.insert({id.device, id.file}).second && job.result == Result::Pending)
            job.result = Result::Duplicate;
    }
    // Two inputs that would write the same file: the first one wins, whatever the job count.
    std::map<std::string, size_t> claimed;
    for (Job& job : jobs) {
        if (job.result != Result::Pending) continue;
        job.output = s.output.empty()
                         ? DefaultOutput(job.input, s.outputDir, job.toMidi ? ".mid" : ".mds")
                         : s.output;
        FileSystem::FileId id;
        if (FileSystem::Identify(job.output.c_str(), id) && inputIds.count({id.device, id.file}))
            job.result = Result::OutputIsInput;
        else if (!claimed.emplace(Platform::SameFileKey(job.output), 0).second)
            job.result = Result::OutputClash;
    }
    return jobs;
}

// A one-line counter on a terminal's standard error while a batch (or a single long file) is
// converted: "[done/total] current file", redrawn in place at most ten times a second and wiped
// before any report line.
class Progress {
public:
    Progress(std::ostream& err, bool shown, size_t total)
        : err(err), shown(shown), total(total), start(Clock::now()) {}

    void Show(size_t done, const std::string& current) {
        const Clock::time_point now = Clock::now();
        if (!shown || now - last < std::chrono::milliseconds(100)) return;
        // A single file gets a counter only once it takes longer than a second.
        if (total < 2 && now - start < std::chrono::seconds(1)) return;
        char counter[64];
        std::snprintf(counter, sizeof counter, Text(Msg::Progress), done, total);
        err << "\r" << counter << Printable(current) << "\x1b[K" << std::flush;
        last = now;
        drawn = true;
    }
    void Wipe() {
        if (!drawn) return;
        err << "\r\x1b[K" << std::flush;
        drawn = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err;
    const bool shown;
    const size_t total;
    const Clock::time_point start;
    Clock::time_point last{};
    bool drawn = false;
};

int Run(const Settings& s, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    std::vector<Job> jobs = Plan(s);
    if (!s.output.empty() && jobs.size() > 1) return UsageError(err, Text(Msg::OutputWithMany));
    size_t runnable = 0;
    for (const Job& job : jobs) runnable += job.result == Result::Pending;
    Progress progress(err, errIsTerminal && !s.quiet, jobs.size());

    unsigned threads = s.jobs ? s.jobs : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    if (threads > runnable) threads = unsigned(runnable);

    std::mutex mutex;
    std::condition_variable finished;
    size_t next = 0;
    size_t started = 0;  // the job begun last, for the counter
    auto work = [&]() {
        for (;;) {
            size_t i;
            {
                std::lock_guard<std::mutex> lock(mutex);
                while (next < jobs.size() && jobs[next].result != Result::Pending) ++next;
                if (next >= jobs.size()) return;
                started = i = next++;
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
    // One thread needs none of its own, unless a counter is to be drawn meanwhile.
    if (threads <= 1 && !(threads == 1 && errIsTerminal && !s.quiet)) {
        work();
    } else {
        for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    }

    // Reports follow the order of the inputs, so the output does not depend on the job count.
    Reporter reporter(s, out, err);
    bool allConverted = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            auto ready = [&] { return jobs[i].result != Result::Pending || jobs[i].done; };
            while (!finished.wait_for(lock, std::chrono::milliseconds(100), ready))
                progress.Show(i, jobs[started].input);
            job = jobs[i];
        }
        progress.Wipe();
        allConverted = reporter.Report(job) && allConverted;
        if (i + 1 < jobs.size()) {
            std::lock_guard<std::mutex> lock(mutex);
            progress.Show(i + 1, jobs[started].input);
        }
    }
    progress.Wipe();
    for (std::thread& t : pool) t.join();
    return allConverted && reporter.Written() ? ExitCode::AllConverted : ExitCode::SomeFailed;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool errIsTerminal) {
    Settings s;
    const int parsed = ParseArgs(args, s, err);
    if (parsed >= 0) return parsed;
    if (s.help) {
        out << Text(Msg::Help) << "\n" << About::LicenceLine << "\n";
        return ExitCode::AllConverted;
    }
    if (s.version) {
        out << About::VersionText;
        return ExitCode::AllConverted;
    }
    if (!s.dumps.empty()) {
        if (!s.inputs.empty()) return UsageError(err, Text(Msg::DumpAndInput));
        int code = ExitCode::AllConverted;
        for (const std::string& path : s.dumps)
            if (DumpMdsFile(path, out, err) != 0) code = ExitCode::SomeFailed;
        return code;
    }
    if (s.inputs.empty()) return UsageError(err, Text(Msg::NoInput));
    if (!s.output.empty() && !s.outputDir.empty()) return UsageError(err, Text(Msg::OutputAndDir));
    if (!s.output.empty() && s.inputs.size() > 1) return UsageError(err, Text(Msg::OutputWithMany));
    if (!s.output.empty() && (Platform::EndsInSeparator(s.output) ||
                              Platform::Kind(s.output) == Platform::PathKind::Folder))
        return UsageError(err, Text(Msg::OutputIsFolder) + Quoted(s.output));
    return Run(s, out, err, errIsTerminal);
}
