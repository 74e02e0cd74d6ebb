// Platform.h: what the command-line converter needs of the system beyond the core: folders,
// error texts and the console's character set. Platform_posix.cpp and Platform_win.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// The command line without the program's name. Paths are UTF-8 on Windows, as the core takes
// them there, and the system's own bytes elsewhere.
std::vector<std::string> Arguments(int argc, char** argv);

enum class PathKind { Missing, File, Folder };
PathKind Kind(const std::string& path);
// Every file below folder (not following links to folders), sorted by path; false with the
// system's error code when the folder cannot be read.
bool ListFiles(const std::string& folder, std::vector<std::string>& files, uint32_t& error);
// A form of path under which two names of the same file compare equal, as far as can be told
// before the file exists (its folder resolved, case folded where the file system folds it).
std::string SameFileKey(const std::string& path);
// The system's text for an error code (errno / GetLastError), in the console's character set.
std::string ErrorText(uint32_t code);
// A program text (UTF-8) in the console's character set.
std::string ConsoleText(const std::string& utf8);
// A path as the core takes it in the console's character set.
std::string ConsolePath(const std::string& path);
char PreferredSeparator();
// On Ctrl+C or a termination signal, removes the temporary files of unfinished outputs before the
// process ends as it would have.
void InstallInterruptCleanup();

}  // namespace Platform
