// MdsWriter.h: stores a finished conversion as a MIDI stream file (RIFF form MIDS).
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/OutputFile.h"
#include "core/StreamBlocks.h"

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
