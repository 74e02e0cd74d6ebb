#include "tests/support/StreamEvents.h"

#include <cstring>

std::ostream& operator<<(std::ostream& out, const StreamEventRecord& r) {
    out << "{tick " << r.tick << ", kind " << int(r.kind) << ",";
    for (uint8_t b : r.bytes) out << ' ' << std::hex << int(b) << std::dec;
    return out << '}';
}

std::vector<StreamEventRecord> ExpectedStreamEvents(const Track& track) {
    std::vector<StreamEventRecord> out;
    for (const MidiEvent* e = track.First(); e; e = e->Next()) {
        const ByteBuffer& b = e->bytes;
        const uint8_t* p = b.Data();
        if (b.Empty()) continue;
        if (p[0] >= 0x80 && p[0] <= 0xEF) {
            out.push_back({e->tick, MdsEventKind::Short, std::vector<uint8_t>(p, p + b.Size())});
        } else if (b.Size() > 2 && p[0] == 0xFF && p[1] == 0x51) {
            // A tempo's length field may be padded (80 03); only its three bytes count.
            uint32_t length = 0;
            const uint32_t lengthBytes = DecodeVarLen(p + 2, b.Size() - 2, length);
            if (lengthBytes == 0 || length != 3 || b.Size() != 2 + lengthBytes + 3) continue;
            const uint8_t* t = p + 2 + lengthBytes;
            out.push_back({e->tick, MdsEventKind::Tempo, std::vector<uint8_t>(t, t + 3)});
        } else if (p[0] == 0xF0 || p[0] == 0xF7) {
            uint32_t length = 0;
            const uint32_t lengthBytes = DecodeVarLen(p + 1, b.Size() - 1, length);
            std::vector<uint8_t> params;
            if (p[0] == 0xF0) params.push_back(0xF0);
            params.insert(params.end(), p + 1 + lengthBytes, p + 1 + lengthBytes + length);
            out.push_back({e->tick, MdsEventKind::Long, params});
        }
    }
    return out;
}

namespace {

class Collector : public MdsVisitor {
public:
    explicit Collector(DecodedMds& out) : out(out) {}
    void Header(const MdsHeader& header) override { out.header = header; }
    void Block(const MdsBlock& block) override { out.blocks.push_back(block); }
    void Event(const MdsEvent& e) override {
        StreamEventRecord r{e.tick, e.kind, {}};
        if (e.kind == MdsEventKind::Short)
            r.bytes.assign(e.message, e.message + e.messageLength);
        else if (e.kind == MdsEventKind::Tempo)
            r.bytes = {uint8_t(e.tempo >> 16), uint8_t(e.tempo >> 8), uint8_t(e.tempo)};
        else
            r.bytes.assign(e.params, e.params + e.paramLength);
        out.events.push_back(r);
    }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        (std::strcmp(id, "INAM") == 0 ? out.title : out.copyright).assign(text, text + length);
    }

private:
    DecodedMds& out;
};

}  // namespace

DecodedMds DecodeMdsImage(const uint8_t* image, uint32_t size) {
    DecodedMds out;
    Collector collector(out);
    out.check = DecodeMds(image, size, collector);
    return out;
}
