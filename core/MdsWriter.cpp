#include "core/MdsWriter.h"

#include <new>

#include "core/Bytes.h"

namespace {

// Where the sizes and the block count stand, filled in once the end is known.
constexpr uint32_t RiffSizeAt = 4;
constexpr uint32_t DataSizeAt = 36;

}  // namespace

MdsStreamWriter::MdsStreamWriter(MdsOutput& output, uint16_t division,
                                 const ConversionOptions& options)
    : output(output), division(division), options(options) {}

MdsStreamWriter::~MdsStreamWriter() {
    delete[] own;
}

bool MdsStreamWriter::Put(const uint8_t* data, uint32_t n) {
    if (failed) return false;
    // A RIFF file's sizes are 32-bit: the file ends before 4 GB.
    if (written + n > UINT32_MAX) {
        tooLarge = failed = true;
        return false;
    }
    if (n && !output.Write(data, n)) {
        failed = true;
        return false;
    }
    written += n;
    return true;
}

bool MdsStreamWriter::Put32(uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return Put(bytes, 4);
}

bool MdsStreamWriter::Start() {
    uint8_t header[MdsHeaderBytes] = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'M', 'I',
                                      'D', 'S', 'f', 'm', 't', ' ', 12, 0, 0,   0};
    PutLe32(header + 20, division);
    PutLe32(header + 24, options.maxBufferBytes);
    PutLe32(header + 28, options.omitStreamIds ? 1 : 0);
    std::memcpy(header + 32, "data", 4);
    return Put(header, MdsHeaderBytes);
}

bool MdsStreamWriter::WriteBlock(uint32_t tickStart, const uint8_t* bytes, uint32_t length) {
    if (!Put32(tickStart) || !Put32(length) || !Put(bytes, length)) return false;
    ++blocks;
    return true;
}

uint8_t* MdsStreamWriter::StageBlock(uint32_t tickStart) {
    if (failed) return nullptr;
    // Straight into the output's buffer where it has one: a block is copied once, into the file.
    const uint32_t bytes = MdsBlockHeadBytes + options.maxBufferBytes;
    staged = output.Room(bytes);
    if (!staged && !own) own = new (std::nothrow) uint8_t[bytes];
    if (!staged) staged = own;
    if (!staged) {
        outOfMemory = failed = true;
        return nullptr;
    }
    stagedTick = tickStart;
    return staged + 8;
}

bool MdsStreamWriter::WriteStaged(uint32_t length) {
    // One write for the block's head and bytes.
    PutLe32(staged, stagedTick);
    PutLe32(staged + 4, length);
    if (!Put(staged, 8 + length)) return false;
    ++blocks;
    return true;
}

bool MdsStreamWriter::PutText(const char (&id)[5], const uint8_t* text, uint32_t length) {
    static const uint8_t Fill = 0;
    return length == 0 || (Put(reinterpret_cast<const uint8_t*>(id), 4) && Put32(length) &&
                           Put(text, length) && ((length & 1) == 0 || Put(&Fill, 1)));
}

bool MdsStreamWriter::Finish(const uint8_t* title, uint32_t titleLength, const uint8_t* copyright,
                             uint32_t copyrightLength) {
    // Every block's length is a multiple of 4, so the data chunk needs no fill byte.
    const uint64_t dataEnd = written;
    const uint64_t listBytes = MdsListBytes(titleLength, copyrightLength);
    if (listBytes) {
        if (listBytes - 8 > UINT32_MAX || !Put(reinterpret_cast<const uint8_t*>("LIST"), 4) ||
            !Put32(uint32_t(listBytes - 8)) || !Put(reinterpret_cast<const uint8_t*>("INFO"), 4) ||
            !PutText("INAM", title, titleLength) || !PutText("ICOP", copyright, copyrightLength))
            return false;
    }
    if (failed) return false;
    uint8_t riff[4], data[8];
    PutLe32(riff, uint32_t(written - 8));
    PutLe32(data, uint32_t(dataEnd - MdsHeaderBytes + 4));
    PutLe32(data + 4, blocks);
    if (!output.WriteAt(RiffSizeAt, riff, 4) || !output.WriteAt(DataSizeAt, data, 8)) {
        failed = true;
        return false;
    }
    return true;
}

bool MdsImageOutput::WriteAt(uint32_t offset, const uint8_t* data, uint32_t n) {
    const uint32_t end = file.GetPosition();
    return file.Seek(offset, 0) == offset && file.Write(data, n) && file.Seek(end, 0) == end;
}

namespace {

bool WriteBlocks(MdsOutput& output, uint16_t division, const ConversionOptions& options,
                 const StreamBlockList& blocks, const ByteBuffer& title,
                 const ByteBuffer& copyright, bool& tooLarge) {
    MdsStreamWriter writer(output, division, options);
    bool ok = writer.Start();
    for (const StreamBlock* b = blocks.First(); b && ok; b = b->next)
        ok = writer.WriteBlock(b->tickStart, b->buffer.Data(), b->buffer.GetLength());
    ok = ok && writer.Finish(title.Data(), title.Size(), copyright.Data(), copyright.Size());
    tooLarge = writer.TooLarge();
    return ok;
}

}  // namespace

WriteResult WriteMdsFile(const char* path, uint16_t division, const ConversionOptions& options,
                         const StreamBlockList& blocks, const ByteBuffer& title,
                         const ByteBuffer& copyright, bool replace) {
    bool tooLarge = false;
    WriteResult result = WriteOutputFile(path, replace, [&](OutputFile& file) {
        MdsFileOutput output(file);
        return WriteBlocks(output, division, options, blocks, title, copyright, tooLarge);
    });
    if (tooLarge) result.errorCode = FileTooLargeErrorCode();
    return result;
}

bool WriteMdsImage(uint16_t division, const ConversionOptions& options,
                   const StreamBlockList& blocks, const ByteBuffer& title,
                   const ByteBuffer& copyright, MemoryFile& out) {
    if (!out.SetLength(0)) return false;
    MdsImageOutput output(out);
    bool tooLarge = false;
    return WriteBlocks(output, division, options, blocks, title, copyright, tooLarge);
}
