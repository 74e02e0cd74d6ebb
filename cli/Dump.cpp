#include "cli/Dump.h"

#include <cstdio>

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "core/ByteBuffer.h"
#include "core/FileSystem.h"
#include "core/MdsReader.h"

namespace {

std::string Hex(const uint8_t* bytes, uint32_t n) {
    std::string out;
    char cell[4];
    for (uint32_t i = 0; i < n; ++i) {
        std::snprintf(cell, sizeof cell, " %02X", bytes[i]);
        out += cell;
    }
    return out;
}

// Texts are shown as found: printable ASCII as is, every other byte as \xNN, so that a title in
// any character set prints the same everywhere.
std::string Escaped(const uint8_t* bytes, uint32_t n) {
    std::string out = "\"";
    char cell[8];
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\' && bytes[i] != '"') {
            out += char(bytes[i]);
        } else {
            std::snprintf(cell, sizeof cell, "\\x%02X", bytes[i]);
            out += cell;
        }
    }
    return out + "\"";
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
                out << "short" << Hex(e.message, e.messageLength)
                    << (e.runningStatus ? " (running status)" : "") << "\n";
                break;
            case MdsEventKind::Tempo:
                std::snprintf(line, sizeof line, "tempo %u\n", unsigned(e.tempo));
                out << line;
                break;
            case MdsEventKind::Long:
                std::snprintf(line, sizeof line, "long %u:", unsigned(e.paramLength));
                out << line << Hex(e.params, e.paramLength) << "\n";
                break;
            case MdsEventKind::Skipped:
                std::snprintf(line, sizeof line, "skipped 0x%08X", unsigned(e.word));
                out << line << Hex(e.params, e.paramLength) << "\n";
                break;
        }
        ++events;
    }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        out << id << ": " << Escaped(text, length) << "\n";
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

}  // namespace

int DumpMdsFile(const std::string& path, std::ostream& out, std::ostream& err) {
    const std::string quoted = "'" + Printable(path) + "'";
    ByteBuffer image;
    const FileSystem::ReadResult read = FileSystem::ReadWholeFile(path.c_str(), image);
    if (!read.Ok()) {
        err << "tonflux-convert: " << quoted << ": " << Platform::ErrorText(read.errorCode) << "\n";
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
