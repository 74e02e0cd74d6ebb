#include "cli/Dump.h"

#include <cstdio>
#include <new>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "core/ByteBuffer.h"
#include "core/FileSystem.h"
#include "core/MdsReader.h"
#include "core/OutputFile.h"

namespace {

// Long messages and texts run to megabytes: they go out in pieces, never built whole in memory.
class Pieces {
public:
    explicit Pieces(std::ostream& out) : out(out) {}
    ~Pieces() { Flush(); }
    void Add(char c) {
        if (used == sizeof piece) Flush();
        piece[used++] = c;
    }
    void AddHex(uint8_t b) {
        static const char Digits[] = "0123456789ABCDEF";
        Add(Digits[b >> 4]);
        Add(Digits[b & 15]);
    }

private:
    void Flush() {
        out.write(piece, std::streamsize(used));
        used = 0;
    }
    std::ostream& out;
    char piece[4096];
    size_t used = 0;
};

void PutHex(std::ostream& out, const uint8_t* bytes, uint32_t n) {
    Pieces pieces(out);
    for (uint32_t i = 0; i < n; ++i) {
        pieces.Add(' ');
        pieces.AddHex(bytes[i]);
    }
}

// Texts are shown as found: printable ASCII as is, every other byte as \xNN, so that a title in
// any character set prints the same everywhere.
void PutEscaped(std::ostream& out, const uint8_t* bytes, uint32_t n) {
    Pieces pieces(out);
    pieces.Add('"');
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\' && bytes[i] != '"') {
            pieces.Add(char(bytes[i]));
        } else {
            pieces.Add('\\');
            pieces.Add('x');
            pieces.AddHex(bytes[i]);
        }
    }
    pieces.Add('"');
}

class Printer : public MdsVisitor {
public:
    explicit Printer(std::ostream& out) : out(out) {}

    void Header(const MdsHeader& h) override {
        char line[256];
        std::snprintf(line, sizeof line, ::Text(Msg::DumpRiff), unsigned(h.riffBytes),
                      unsigned(h.fileBytes));
        out << line;
        if (h.timeFormat & 0x8000) {
            std::snprintf(line, sizeof line, ::Text(Msg::DumpSmpte), unsigned(h.timeFormat),
                          -int(int8_t(h.timeFormat >> 8)), unsigned(h.timeFormat & 0xFF));
        } else {
            std::snprintf(line, sizeof line, ::Text(Msg::DumpTicksPerQuarter),
                          unsigned(h.timeFormat), unsigned(h.timeFormat));
        }
        out << line;
        std::snprintf(line, sizeof line, ::Text(Msg::DumpBuffer), unsigned(h.maxBufferBytes),
                      unsigned(h.flags),
                      ::Text(h.flags ? Msg::DumpNoStreamIds : Msg::DumpStreamIds));
        out << line;
        std::snprintf(line, sizeof line, ::Text(Msg::DumpData), unsigned(h.blockCount));
        out << line;
    }
    void Block(const MdsBlock& b) override {
        char line[128];
        std::snprintf(line, sizeof line, ::Text(Msg::DumpBlock), unsigned(b.index),
                      unsigned(b.tickStart), unsigned(b.length), unsigned(b.offset));
        out << line;
        ++blocks;
    }
    void Event(const MdsEvent& e) override {
        char line[96];
        std::snprintf(line, sizeof line, "  %u +%u ", unsigned(e.tick), unsigned(e.delta));
        out << line;
        switch (e.kind) {
            case MdsEventKind::Short:
                out << "short";
                PutHex(out, e.message, e.messageLength);
                out << (e.runningStatus ? " (running status)" : "") << "\n";
                break;
            case MdsEventKind::Tempo:
                std::snprintf(line, sizeof line, "tempo %u\n", unsigned(e.tempo));
                out << line;
                break;
            case MdsEventKind::Long:
                std::snprintf(line, sizeof line, "long %u:", unsigned(e.paramLength));
                out << line;
                PutHex(out, e.params, e.paramLength);
                out << "\n";
                break;
            case MdsEventKind::Skipped:
                std::snprintf(line, sizeof line, "skipped 0x%08X", unsigned(e.word));
                out << line;
                PutHex(out, e.params, e.paramLength);
                out << "\n";
                break;
        }
        ++events;
    }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        out << id << ": ";
        PutEscaped(out, text, length);
        out << "\n";
    }
    void Deviation(const MdsCheck& check) override {
        if (firstDeviation.fault == MdsFault::None) firstDeviation = check;
    }

    uint32_t blocks = 0;
    uint32_t events = 0;
    MdsCheck firstDeviation;

private:
    std::ostream& out;
};

int Dump(const std::string& path, std::ostream& out, std::ostream& err) {
    const std::string quoted = "'" + Printable(path) + "'";
    ByteBuffer image;
    const FileSystem::ReadResult read = FileSystem::ReadWholeFile(path.c_str(), image);
    if (!read.Ok()) {
        err << "tonflux-convert: " << quoted << ": "
            << (read.failed == FileSystem::ReadResult::NotAFile
                    ? std::string(Text(Msg::NotAFile))
                    : OneLine(Platform::ErrorText(read.errorCode)))
            << "\n";
        return 1;
    }
    out << Printable(path) << "\n";
    Printer printer(out);
    const MdsCheck check = DecodeMds(image.Data(), image.Size(), printer);
    // What our own writer never produces is a fault here, though the way back takes it.
    if (printer.firstDeviation.fault != MdsFault::None)
        err << "tonflux-convert: " << quoted << ": " << MdsFaultAt(printer.firstDeviation, true)
            << "\n";
    if (check.fault != MdsFault::None)
        err << "tonflux-convert: " << quoted << ": " << MdsFaultAt(check, false) << "\n";
    char line[512];
    if (check.fault != MdsFault::None || printer.firstDeviation.fault != MdsFault::None) return 1;
    std::snprintf(line, sizeof line, ::Text(Msg::DumpOk), unsigned(printer.blocks),
                  unsigned(printer.events));
    out << line << "\n";
    return 0;
}

}  // namespace

int DumpMdsFile(const std::string& path, std::ostream& out, std::ostream& err) {
    try {
        return Dump(path, out, err);
    } catch (const std::bad_alloc&) {
        out.flush();
        err << "tonflux-convert: '" << Printable(path)
            << "': " << OneLine(Platform::ErrorText(OutOfMemoryErrorCode())) << "\n";
        return 1;
    }
}
