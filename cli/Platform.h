// Platform.h: what the command-line converter needs of the system beyond the core: folders,
// error texts, the console and signals. Platform_posix.cpp and Platform_win.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// Before anything else is opened: a standard stream the caller closed is opened again on the
// null device, so that no file the program opens later takes its number and receives reports.
void GuardStandardStreams();
// The command line without the program's name. Paths are UTF-8 on Windows, as the core takes
// them there, and the system's own bytes elsewhere.
std::vector<std::string> Arguments(int argc, char** argv);
// On Windows, standard output and error write UTF-8 texts to the console as Unicode, and
// elsewhere in the console's code page; nothing to do on other systems.
void InstallConsoleStreams();

// Whether standard error is a terminal (a console on Windows), where a counter can be redrawn.
bool ErrorIsTerminal();
// The width of that terminal in columns now; 0 when it cannot be told.
unsigned ErrorColumns();

// What a path names, following links. Other: a pipe, a device, a socket.
enum class PathKind { Missing, File, Folder, Other };
PathKind Kind(const std::string& path);
// Whether anything stands at path, a link that leads nowhere or in a loop included.
bool Exists(const std::string& path);
// Whether path names a folder by its spelling alone (it ends in a separator).
bool EndsInSeparator(const std::string& path);

// One entry met while walking a folder: a file to look at, or one that could not be looked at
// (an unreadable folder, an entry that cannot be inspected, a path too long), with the code.
struct FolderEntry {
    std::string path;
    uint32_t error = 0;  // 0: a regular file (or a link to one)
};
// Every regular file below folder (links to files followed, links to folders not), sorted by
// path, and in their place the entries that could not be read. False, with the system's code,
// when folder itself cannot be read.
bool ListFiles(const std::string& folder, std::vector<FolderEntry>& entries, uint32_t& error);
// A form of path under which two names of the same file compare equal, as far as can be told
// before the file exists (its folder resolved, case folded where the file system folds it).
std::string SameFileKey(const std::string& path);
// The system's text for an error code (errno / GetLastError), in UTF-8.
std::string ErrorText(uint32_t code);
// The last error code of the system (errno / GetLastError).
uint32_t LastError();
char PreferredSeparator();
// On Ctrl+C, Ctrl+Break or any signal that would end the process, removes the temporary files of
// unfinished outputs first, then the process ends as it would have. Broken pipes and the file
// size limit come back as failed writes instead of ending the process.
void InstallInterruptCleanup();

}  // namespace Platform
