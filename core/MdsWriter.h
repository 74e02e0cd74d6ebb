// MdsWriter.h: stores a conversion as a MIDI stream file (RIFF form MIDS): from blocks kept in
// memory, or block by block as an encoder cuts them.
#pragma once
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"
#include "core/OutputFile.h"
#include "core/StreamBlocks.h"

// The bytes of a MIDI stream file before its first block: RIFF, fmt and data headers and the
// block count. Each block adds 8 bytes of its own before its events.
constexpr uint32_t MdsHeaderBytes = 44;
constexpr uint32_t MdsBlockHeadBytes = 8;
// The bytes of the INFO list that holds the texts, its chunk header included; 0 without texts.
inline uint64_t MdsListBytes(uint32_t titleLength, uint32_t copyrightLength) {
    if (!titleLength && !copyrightLength) return 0;
    return 12 + (titleLength ? 8 + uint64_t(titleLength) + (titleLength & 1) : 0) +
           (copyrightLength ? 8 + uint64_t(copyrightLength) + (copyrightLength & 1) : 0);
}

// Where a MIDI stream file is written: its bytes in order and, once the end is reached, a few
// bytes of the header again (sizes and the block count, known only then).
class MdsOutput {
public:
    virtual ~MdsOutput() {}
    virtual bool Write(const uint8_t* data, uint32_t n) = 0;
    // Writes over bytes written before; offset + n never passes what was written.
    virtual bool WriteAt(uint32_t offset, const uint8_t* data, uint32_t n) = 0;
    // Memory of the output's own for the next n bytes, to be filled and handed to Write, which
    // then copies nothing; null when it has none (the writer then uses memory of its own).
    virtual uint8_t* Room(uint32_t) { return nullptr; }
    // The file will take at least leastBytes, told before the first write: an output in memory
    // can take its room in one piece rather than grow into it.
    virtual void Expect(uint64_t /*leastBytes*/) {}
};

// Writes a MIDI stream file to output as its blocks come: the header first, with its sizes and
// block count left 0 until Finish fills them in. A block can be staged in the writer's own
// memory (StageBlock) for an encoder to fill, then written (WriteStaged).
class MdsStreamWriter {
public:
    MdsStreamWriter(MdsOutput& output, uint16_t division, const ConversionOptions& options);
    MdsStreamWriter(const MdsStreamWriter&) = delete;
    MdsStreamWriter& operator=(const MdsStreamWriter&) = delete;
    ~MdsStreamWriter();

    // The header. Every call is false once one failed: a write of output, or memory
    // (OutOfMemory), or a file that would reach 4 GB (TooLarge), which is not written.
    bool Start();
    bool WriteBlock(uint32_t tickStart, const uint8_t* bytes, uint32_t length);
    // Room for a block's maxBufferBytes, which WriteStaged writes as the block at tickStart.
    uint8_t* StageBlock(uint32_t tickStart);
    bool WriteStaged(uint32_t length);
    // The texts (the INFO list when either holds a byte), then the sizes and the block count.
    bool Finish(const uint8_t* title, uint32_t titleLength, const uint8_t* copyright,
                uint32_t copyrightLength);

    // Whether a call failed, and why when output did not fail.
    bool Failed() const { return failed; }
    bool OutOfMemory() const { return outOfMemory; }
    bool TooLarge() const { return tooLarge; }
    uint32_t Blocks() const { return blocks; }

private:
    bool Put(const uint8_t* data, uint32_t n);
    bool Put32(uint32_t value);
    bool PutText(const char (&id)[5], const uint8_t* text, uint32_t length);

    MdsOutput& output;
    const uint16_t division;
    const ConversionOptions options;
    uint8_t* staged = nullptr;  // a block's start tick, length and bytes
    uint8_t* own = nullptr;     // memory for them when the output has none
    uint32_t stagedTick = 0;
    uint64_t written = 0;
    uint32_t blocks = 0;
    bool failed = false;
    bool outOfMemory = false;
    bool tooLarge = false;
};

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

// An OutputFile or a MemoryFile as the output of a writer.
class MdsFileOutput : public MdsOutput {
public:
    explicit MdsFileOutput(OutputFile& file) : file(file) {}
    bool Write(const uint8_t* data, uint32_t n) override { return file.Write(data, n); }
    bool WriteAt(uint32_t offset, const uint8_t* data, uint32_t n) override {
        return file.WriteAt(offset, data, n);
    }
    uint8_t* Room(uint32_t n) override { return file.Room(n); }

private:
    OutputFile& file;
};
class MdsImageOutput : public MdsOutput {
public:
    explicit MdsImageOutput(MemoryFile& file) : file(file) {}
    bool Write(const uint8_t* data, uint32_t n) override { return file.Write(data, n); }
    bool WriteAt(uint32_t offset, const uint8_t* data, uint32_t n) override;

private:
    MemoryFile& file;
};
