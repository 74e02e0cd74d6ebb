#include "cli/Platform.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "core/OutputFile.h"

namespace Platform {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

PathKind Kind(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return PathKind::Missing;
    return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::File;
}

namespace {

bool Walk(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = uint32_t(errno);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        struct stat info;
        // lstat: a link to a folder is not followed, so a loop of links cannot recurse forever.
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (!Walk(path, files, error)) return false;
        } else {
            files.push_back(path);
        }
    }
    return true;
}

}  // namespace

bool ListFiles(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    return Walk(folder, files, error);
}

std::string SameFileKey(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!realpath(folder.c_str(), resolved)) return path;
    return std::string(resolved) + "/" + name;
}

std::string ErrorText(uint32_t code) {
    // Called from one thread only; strerror's buffer is not shared with anyone else.
    return strerror(int(code));
}

std::string ConsoleText(const std::string& utf8) {
    return utf8;
}
std::string ConsolePath(const std::string& path) {
    return path;
}
char PreferredSeparator() {
    return '/';
}

namespace {

extern "C" void OnTerminatingSignal(int signal) {
    RemoveUnfinishedOutputs();
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // ends the process as the signal would have, for the caller to see
}

}  // namespace

void InstallInterruptCleanup() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        struct sigaction previous = {};
        action.sa_handler = OnTerminatingSignal;
        sigemptyset(&action.sa_mask);
        // A signal the caller ignores (nohup) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

}  // namespace Platform
