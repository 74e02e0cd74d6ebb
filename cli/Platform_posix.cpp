#include "cli/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "cli/Messages.h"
#include "cli/Printable.h"
#include "core/OutputFile.h"

namespace Platform {

void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free number, which is this one.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0) close(opened);
    }
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void InstallConsoleStreams() {}

bool ErrorIsTerminal() {
    return isatty(2) == 1;
}

unsigned ErrorColumns() {
    winsize size = {};
    return ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace Platform

Language UserLanguage() {
    // The first of these that is set decides, as it does for the C library's messages.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value && *value)
            return strncmp(value, "ja", 2) == 0 ? Language::Japanese : Language::English;
    }
    return Language::English;
}

namespace Platform {

PathKind Kind(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return PathKind::Missing;
    if (S_ISDIR(info.st_mode)) return PathKind::Folder;
    return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && path.back() == '/';
}

namespace {

// False, with the code, when folder itself cannot be read; whatever below it cannot be read goes
// into entries in its place, and the rest is still listed.
bool Walk(const std::string& folder, std::vector<FolderEntry>& entries, uint32_t& error) {
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
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        struct stat info;
        uint32_t failed = 0;
        // lstat: a link to a folder is not followed, so a loop of links cannot recurse forever.
        if (lstat(path.c_str(), &info) != 0) {
            entries.push_back({path, uint32_t(errno)});
        } else if (S_ISDIR(info.st_mode)) {
            if (!Walk(path, entries, failed)) entries.push_back({path, failed});
        } else if (S_ISREG(info.st_mode)) {
            entries.push_back({path, 0});
        } else if (S_ISLNK(info.st_mode) && stat(path.c_str(), &info) == 0 &&
                   S_ISREG(info.st_mode)) {
            entries.push_back({path, 0});  // a link to a file; a dangling one is no file
        }
    }
    return true;
}

}  // namespace

bool ListFiles(const std::string& folder, std::vector<FolderEntry>& entries, uint32_t& error) {
    return Walk(folder, entries, error);
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
    const std::string text = strerror(int(code));
    // The system speaks the locale's encoding, our texts UTF-8: one encoding on a line.
    const char* codeset = nl_langinfo(CODESET);
    if (strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "ANSI_X3.4-1968") == 0) return text;
    const iconv_t convert = iconv_open("UTF-8", codeset);
    if (convert == iconv_t(-1)) return Printable(text);
    std::string out(text.size() * 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* at = &out[0];
    size_t outLeft = out.size();
    const bool whole = iconv(convert, &in, &inLeft, &at, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(convert);
    if (!whole) return Printable(text);  // its other bytes escaped, the line stays UTF-8
    out.resize(out.size() - outLeft);
    return out;
}

uint32_t LastError() {
    return uint32_t(errno);
}

char PreferredSeparator() {
    return '/';
}

namespace {

// Every catchable signal whose default ends the process. Broken pipes and the file size limit
// are not among them: those become failed writes, reported like any other.
const int EndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
constexpr int SignalSlots = 128;
struct sigaction Previous[SignalSlots];

extern "C" void OnEndingSignal(int signal) {
    RemoveUnfinishedOutputs();
    // What the signal did before (its default, or a handler such as a sanitizer's), done now:
    // the signal is blocked while this runs and arrives again as soon as it returns.
    sigaction(signal, &Previous[signal], nullptr);
    raise(signal);
}

void Catch(int signal) {
    if (signal <= 0 || signal >= SignalSlots) return;
    struct sigaction action = {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    // A signal the caller ignores (nohup) stays ignored.
    if (sigaction(signal, nullptr, &Previous[signal]) == 0 &&
        Previous[signal].sa_handler != SIG_IGN)
        sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallInterruptCleanup() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signal : EndingSignals) Catch(signal);
#ifdef SIGRTMIN
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) Catch(signal);
#endif
}

}  // namespace Platform
