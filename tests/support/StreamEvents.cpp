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
        EventView v;
        if (!e->View(v)) continue;
        if (v.IsChannel()) {
            std::vector<uint8_t> message{v.status};
            message.insert(message.end(), v.data, v.data + v.length);
            out.push_back({e->tick, MdsEventKind::Short, message});
        } else if (v.IsTempo()) {
            out.push_back({e->tick, MdsEventKind::Tempo, std::vector<uint8_t>(v.data, v.data + 3)});
        } else if (v.IsSysEx()) {
            std::vector<uint8_t> params;
            if (v.status == 0xF0) params.push_back(0xF0);
            params.insert(params.end(), v.data, v.data + v.length);
            out.push_back({e->tick, MdsEventKind::Long, params});
        }
    }
    return out;
}

StreamEventRecord RecordOf(const MdsEvent& e, uint32_t tick) {
    StreamEventRecord r{tick, e.kind, {}};
    if (e.kind == MdsEventKind::Short)
        r.bytes.assign(e.message, e.message + e.messageLength);
    else if (e.kind == MdsEventKind::Tempo)
        r.bytes = {uint8_t(e.tempo >> 16), uint8_t(e.tempo >> 8), uint8_t(e.tempo)};
    else
        r.bytes.assign(e.params, e.params + e.paramLength);
    return r;
}

namespace {

class Collector : public MdsVisitor {
public:
    explicit Collector(DecodedMds& out) : out(out) {}
    void Header(const MdsHeader& header) override { out.header = header; }
    void Block(const MdsBlock& block) override { out.blocks.push_back(block); }
    void Event(const MdsEvent& e) override { out.events.push_back(RecordOf(e, e.tick)); }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        (std::strcmp(id, "INAM") == 0 ? out.title : out.copyright).assign(text, text + length);
    }
    void Deviation(const MdsCheck& check) override { out.deviations.push_back(check); }

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
