#include "core/MdsWriter.h"

#include "core/Bytes.h"

namespace {

// Chunk sizes are known before the first byte is written, so every size field is written once
// and the file is a single forward stream.
struct Layout {
    uint64_t dataBytes = 0;
    uint64_t listBytes = 0;  // 0 when there is no LIST chunk
    uint64_t riffBytes = 0;
};

uint64_t Padded(uint64_t n) {
    return n + (n & 1);
}

Layout Measure(const StreamBlockList& blocks, const ByteBuffer& title,
               const ByteBuffer& copyright) {
    Layout layout;
    layout.dataBytes = 4;
    for (const StreamBlock* b = blocks.First(); b; b = b->next)
        layout.dataBytes += 8 + uint64_t(b->buffer.GetLength());
    if (!title.Empty() || !copyright.Empty()) {
        layout.listBytes = 4;
        if (!title.Empty()) layout.listBytes += 8 + Padded(title.Size());
        if (!copyright.Empty()) layout.listBytes += 8 + Padded(copyright.Size());
    }
    layout.riffBytes = 4 + (8 + 12) + 8 + Padded(layout.dataBytes);
    if (layout.listBytes) layout.riffBytes += 8 + layout.listBytes;
    return layout;
}

template <class Sink>
bool Put32(Sink& sink, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return sink.Write(bytes, 4);
}

template <class Sink>
bool PutId(Sink& sink, const char (&id)[5]) {
    return sink.Write(reinterpret_cast<const uint8_t*>(id), 4);
}

template <class Sink>
bool PutFill(Sink& sink, uint64_t length) {
    static const uint8_t Zero = 0;
    return (length & 1) == 0 || sink.Write(&Zero, 1);
}

template <class Sink>
bool PutText(Sink& sink, const char (&id)[5], const ByteBuffer& text) {
    return text.Empty() || (PutId(sink, id) && Put32(sink, text.Size()) &&
                            sink.Write(text.Data(), text.Size()) && PutFill(sink, text.Size()));
}

// False when a write fails; the layout must already be known to fit 32-bit sizes.
template <class Sink>
bool Emit(Sink& sink, const Layout& layout, uint16_t division, const ConversionOptions& options,
          const StreamBlockList& blocks, const ByteBuffer& title, const ByteBuffer& copyright) {
    if (!PutId(sink, "RIFF") || !Put32(sink, uint32_t(layout.riffBytes)) || !PutId(sink, "MIDS"))
        return false;
    if (!PutId(sink, "fmt ") || !Put32(sink, 12) || !Put32(sink, division) ||
        !Put32(sink, options.maxBufferBytes) || !Put32(sink, options.omitStreamIds ? 1 : 0))
        return false;
    if (!PutId(sink, "data") || !Put32(sink, uint32_t(layout.dataBytes)) ||
        !Put32(sink, blocks.Count()))
        return false;
    for (const StreamBlock* b = blocks.First(); b; b = b->next) {
        const uint32_t length = b->buffer.GetLength();
        if (!Put32(sink, b->tickStart) || !Put32(sink, length) ||
            (length && !sink.Write(b->buffer.Data(), length)))
            return false;
    }
    if (!PutFill(sink, layout.dataBytes)) return false;
    if (!layout.listBytes) return true;
    return PutId(sink, "LIST") && Put32(sink, uint32_t(layout.listBytes)) && PutId(sink, "INFO") &&
           PutText(sink, "INAM", title) && PutText(sink, "ICOP", copyright);
}

}  // namespace

WriteResult WriteMdsFile(const char* path, uint16_t division, const ConversionOptions& options,
                         const StreamBlockList& blocks, const ByteBuffer& title,
                         const ByteBuffer& copyright, bool replace) {
    const Layout layout = Measure(blocks, title, copyright);
    return WriteOutputFile(path, 8 + layout.riffBytes, replace, [&](OutputFile& file) {
        return Emit(file, layout, division, options, blocks, title, copyright);
    });
}

bool WriteMdsImage(uint16_t division, const ConversionOptions& options,
                   const StreamBlockList& blocks, const ByteBuffer& title,
                   const ByteBuffer& copyright, MemoryFile& out) {
    const Layout layout = Measure(blocks, title, copyright);
    if (layout.riffBytes > UINT32_MAX - 8) return false;
    if (!out.SetLength(0)) return false;
    return Emit(out, layout, division, options, blocks, title, copyright);
}
