// OutputFile.h: a file written beside its target under a temporary name and put in the target's
// place only once every byte has been written, so a failure never leaves half a file behind.
#pragma once
#include <cstdint>

class OutputFile {
public:
    OutputFile() {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    virtual ~OutputFile();  // abandons a file that was not committed

    // Creates the temporary file in targetPath's folder. False (see ErrorCode) when it cannot.
    bool Create(const char* targetPath);
    // Buffered; false at the first failure, after which only Abandon remains.
    bool Write(const uint8_t* data, uint32_t n);
    // The buffer's memory for the next n bytes (at most 64 KB): Write copies nothing when handed
    // them. Null when they do not fit or the buffer cannot be emptied.
    uint8_t* Room(uint32_t n);
    // Writes over n of the bytes written before, at offset from the start (a header's sizes,
    // known only at the end): the last writes before Commit.
    bool WriteAt(uint64_t offset, const uint8_t* data, uint32_t n);
    // Writes what is buffered, closes the file and puts it in the target's place. An existing
    // target (a link too, even one that leads nowhere) is replaced only when replace is set;
    // otherwise the commit fails with the system's "already exists" code (AlreadyExists), also
    // when the target appeared while the file was being written. On failure the temporary file
    // is removed and the target is untouched.
    bool Commit(bool replace = true);
    // Closes and removes the temporary file; the target is untouched.
    void Abandon();

    // The system's code for the first failure: errno on POSIX, GetLastError() on Windows.
    uint32_t ErrorCode() const { return errorCode; }

private:
    bool CreateTemp(uint32_t folderLength);
    bool Flush();
    void Fail(uint32_t code);
    bool CloseTemp();
    void Release();

    static constexpr uint32_t BufferBytes = 256 * 1024;
    char* targetPath = nullptr;
    char* tempPath = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t used = 0;
    uint64_t flushed = 0;   // bytes in the file, before the buffer's
    int registrySlot = -1;  // see RemoveUnfinishedOutputs
    intptr_t handle = -1;   // a file descriptor, or a HANDLE on Windows; -1 when closed
    intptr_t folder = -1;   // the target's folder held open, for a path too long to give whole
    uint32_t errorCode = 0;
};

// Removes the temporary file of every OutputFile of the process still being written, and lets no
// new one be made: for a program that ends on Ctrl+C or a termination signal. Safe in a signal
// handler, on any thread, while others create, write or commit their files: it waits for the
// temporary files being created at that moment. Up to MaxUnfinishedOutputs files being written
// at once are known to it.
void RemoveUnfinishedOutputs();
constexpr unsigned MaxUnfinishedOutputs = 1024;

// The system's codes for the failures that are not an I/O call's, in the numbering of
// OutputFile::ErrorCode: "file too large" (a RIFF file ends at 4 GB), "not enough memory", and
// "interrupted" (the process is ending, see RemoveUnfinishedOutputs).
uint32_t FileTooLargeErrorCode();
uint32_t OutOfMemoryErrorCode();
uint32_t InterruptedErrorCode();

struct WriteResult {
    bool ok = false;
    uint32_t errorCode = 0;  // errno on POSIX, GetLastError() on Windows, when !ok
};

// Writes a file through an OutputFile: emit(file) writes it all, false at the first failure.
// Without replace, a file (or link) at path fails the write with the "already exists" code
// (FileSystem::AlreadyExists), even one that appeared while the file was being written.
template <class Emit>
WriteResult WriteOutputFile(const char* path, bool replace, Emit emit) {
    WriteResult result;
    OutputFile file;
    if (!file.Create(path) || !emit(file) || !file.Commit(replace)) {
        result.errorCode = file.ErrorCode();
        file.Abandon();
        return result;
    }
    result.ok = true;
    return result;
}
