// MdsWriter.h: stores a finished conversion as a MIDI stream file (RIFF form MIDS).
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/OutputFile.h"
#include "core/StreamBlocks.h"

struct WriteResult {
    bool ok = false;
    uint32_t errorCode = 0;  // errno on POSIX, GetLastError() on Windows, when !ok
};

// Writes a file of fileBytes bytes through an OutputFile: emit(file) writes them all, false at
// the first failure. A file of 4 GB or more is refused before anything is created. Without
// replace, a file (or link) at path fails the write with the "already exists" code
// (FileSystem::AlreadyExists), even one that appeared while the file was being written.
template <class Emit>
WriteResult WriteOutputFile(const char* path, uint64_t fileBytes, bool replace, Emit emit) {
    WriteResult result;
    if (fileBytes > UINT32_MAX) {
        result.errorCode = FileTooLargeErrorCode();
        return result;
    }
    OutputFile file;
    if (!file.Create(path) || !emit(file) || !file.Commit(replace)) {
        result.errorCode = file.ErrorCode();
        file.Abandon();
        return result;
    }
    result.ok = true;
    return result;
}

// Writes to a temporary file beside path and puts it in path's place only when every byte is
// written; on failure the temporary file is removed and an existing file at path is untouched.
// Without replace, a file (or link) at path fails the write with the "already exists" code
// (FileSystem::AlreadyExists), even one that appeared while the file was being written.
WriteResult WriteMdsFile(const char* path, uint16_t division, const ConversionOptions& options,
                         const StreamBlockList& blocks, const ByteBuffer& title,
                         const ByteBuffer& copyright, bool replace = true);

// The same bytes into out (emptied first), for tests and for checks that need no file. False when
// memory runs out or the file would reach 4 GB.
bool WriteMdsImage(uint16_t division, const ConversionOptions& options,
                   const StreamBlockList& blocks, const ByteBuffer& title,
                   const ByteBuffer& copyright, MemoryFile& out);
