// FileSystem.h: the few file calls the core needs, with the system's own error codes (errno on
// POSIX, GetLastError() on Windows). FileSystem_posix.cpp and FileSystem_win.cpp implement them.
// Paths are UTF-8 on Windows, where any length works, and the system's own bytes elsewhere.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/OutputFile.h"

namespace FileSystem {

constexpr intptr_t NoHandle = -1;

// The longest path the system takes whole. Beyond it, a file is reached by its name in its
// folder held open (OpenFolder); on Windows paths of any length work.
size_t LongestPath();
// Opens the folder part of path (its first folderLength bytes) for the calls below, which then
// take only the name of each path they are given, in that folder.
bool OpenFolder(const char* path, size_t folderLength, intptr_t& folder, uint32_t& error);
void CloseFolder(intptr_t folder);

// Each call takes either folder NoHandle and a whole path, or an open folder and a path in it.
// Creates path for writing; fails when it exists already (AlreadyExists tells that apart).
bool CreateNewFile(intptr_t folder, const char* path, intptr_t& handle, uint32_t& error);
bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error);
// Writes over bytes written before, at offset from the file's start; where later writes go
// afterwards is not said, so it is for the last bytes of a file only (a header's sizes).
bool WriteAllAt(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t n, uint32_t& error);
bool CloseFile(intptr_t handle, uint32_t& error);
// Renames from over to, replacing an existing file at to.
bool RenameOver(intptr_t folder, const char* from, const char* to, uint32_t& error);
// Renames from to to only when nothing stands at to, not even a link that leads nowhere; the
// test and the rename are one step, so a file that appears meanwhile is never replaced.
bool RenameNoReplace(intptr_t folder, const char* from, const char* to, uint32_t& error);
// Safe in a signal handler.
void RemoveFile(intptr_t folder, const char* path);

// Until ReleaseSignals, the calling thread takes none of the signals that may end the process:
// they wait, or go to another thread. For a step that a signal handler must not break into.
// Nothing to do on Windows, where console events come on a thread of their own.
void HoldSignals();
void ReleaseSignals();
// Lets other threads run a moment; safe in a signal handler.
void Pause();
bool AlreadyExists(uint32_t error);
// Length of path's folder part, its last separator included (0 for a bare name).
size_t FolderLength(const char* path);
// Separates temporary names of different processes.
uint32_t ProcessId();

// How reading a whole file ended: the step that failed, with the system's code for it.
struct ReadResult {
    enum Step {
        Done,
        Open,      // the file cannot be opened (a folder counts here)
        Size,      // its size cannot be found
        Allocate,  // no memory for its image; a file of 4 GB or more gets the too-large code
        Read,
        NotAFile,  // a pipe, device or socket: refused before a byte is read, without waiting
    };
    Step failed = Done;
    uint32_t errorCode = 0;
    bool Ok() const { return failed == Done; }
};
// Reads the whole file into out, as one image of exactly its size. A file that shrinks while it
// is read gives what could be read. Only regular files are read; opening never blocks.
ReadResult ReadWholeFile(const char* path, ByteBuffer& out);
// Reads up to n bytes from the start of the file into out, got of them (fewer for a shorter
// file), to tell its kind by its content. Anything but a regular file (a FIFO, a device) gives
// none, so that looking neither waits nor takes bytes away from the reader that comes after.
ReadResult ReadFileStart(const char* path, uint8_t* out, uint32_t n, uint32_t& got);

// Which file a path names, following links: two paths of the same file (hard links, a link to
// it, another spelling) have the same identity.
struct FileId {
    uint64_t device = 0;
    uint64_t file = 0;
    bool operator==(const FileId& other) const {
        return device == other.device && file == other.file;
    }
};
// False when path names nothing that can be opened or inspected; error then holds the system's
// code.
bool Identify(const char* path, FileId& id, uint32_t& error);
inline bool Identify(const char* path, FileId& id) {
    uint32_t ignored = 0;
    return Identify(path, id, ignored);
}
// Whether a and b name one existing file, however each is spelled; a path that names nothing is no
// other file. outOfMemory tells a false that is not known to be true.
inline bool IsSameFile(const char* a, const char* b, bool& outOfMemory) {
    FileId first;
    FileId second;
    uint32_t error = 0;
    outOfMemory = false;
    if (Identify(a, first, error) && Identify(b, second, error)) return first == second;
    outOfMemory = error == OutOfMemoryErrorCode();
    return false;
}

}  // namespace FileSystem
