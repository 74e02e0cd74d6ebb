#include "cli/Plan.h"

#include <set>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "core/FileSystem.h"
#include "core/MdsReader.h"

namespace {

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

// A file named on the command line goes back to SMF when it is a MIDI stream file (RIFF form
// MIDS), whatever its name; with --to-mid it must be one. One that cannot be read fails here,
// before its name can be taken for anything else. A FIFO or a device is not looked into.
Job NamedInput(const std::string& input, const Settings& s) {
    Job job{input, "", Result::Pending};
    uint8_t head[12];
    uint32_t got = 0;
    const FileSystem::ReadResult read = FileSystem::ReadFileStart(input.c_str(), head, 12, got);
    if (!read.Ok()) {
        job.result = Result::ReadFailed;
        job.code = read.errorCode;
        return job;
    }
    const bool mds = IsMdsImage(head, got);
    job.toMidi = s.toMidi || mds;
    if (s.toMidi && !mds) {
        job.result = Result::Refused;
        job.reason = Text(Msg::NotMds);
    }
    return job;
}

// Whether job's input is a file (or what is left of one), rather than a folder.
bool NamesAFile(const Job& job) {
    return job.result != Result::IsFolder && job.result != Result::NoMidiFiles &&
           job.result != Result::ListFailed;
}

}  // namespace

std::vector<Job> PlanRun(const Settings& s) {
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
    // Every input of the run, converted or not, by identity, and by name for one that does not
    // exist (yet): an output never replaces one of them, -f or not (song.mid and song.mds named
    // together would each overwrite the other), and no input is read that another job of the
    // same run writes, which would make the result depend on the job count. The same file named
    // twice (or reached through a link, or by two folders) is converted once.
    std::set<std::pair<uint64_t, uint64_t>> inputIds;
    std::set<std::string> inputNames;
    for (Job& job : jobs) {
        if (!NamesAFile(job)) continue;
        inputNames.insert(Platform::SameFileKey(job.input));
        FileSystem::FileId id;
        if (!FileSystem::Identify(job.input.c_str(), id)) continue;
        if (!inputIds.insert({id.device, id.file}).second && job.result == Result::Pending)
            job.result = Result::Duplicate;
    }
    // Two inputs that would write the same file: the first one wins, whatever the job count.
    std::set<std::string> claimed;
    for (Job& job : jobs) {
        if (job.result != Result::Pending) continue;
        job.output = s.output.empty()
                         ? DefaultOutput(job.input, s.outputDir, job.toMidi ? ".mid" : ".mds")
                         : s.output;
        const std::string key = Platform::SameFileKey(job.output);
        FileSystem::FileId id;
        if (inputNames.count(key) ||
            (FileSystem::Identify(job.output.c_str(), id) && inputIds.count({id.device, id.file})))
            job.result = Result::OutputIsInput;
        else if (!claimed.insert(key).second)
            job.result = Result::OutputClash;
    }
    return jobs;
}
