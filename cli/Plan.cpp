#include "cli/Plan.h"

#include <map>
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

// Whether path is a regular file that begins as a MIDI stream file does (RIFF form MIDS),
// whatever its name. Unreadable: its conversion will say why. A FIFO or a device is not looked
// into, so it counts as NotMds.
enum class MdsProbe { Mds, NotMds, Unreadable };
MdsProbe ProbeMdsFile(const std::string& path) {
    uint8_t head[12];
    uint32_t got = 0;
    if (!FileSystem::ReadFileStart(path.c_str(), head, sizeof head, got).Ok())
        return MdsProbe::Unreadable;
    return IsMdsImage(head, got) ? MdsProbe::Mds : MdsProbe::NotMds;
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
