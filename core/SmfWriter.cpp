#include "core/SmfWriter.h"

#include <cstring>

#include "core/Bytes.h"
#include "core/OutputFile.h"

namespace {

// The largest number an SMF's variable-length quantity holds.
constexpr uint32_t MaxVarLen = 0x0FFFFFFF;

// Where the first pass writes: nowhere, only counting.
struct ByteCounter {
    uint64_t bytes = 0;
    bool Write(const uint8_t*, uint32_t n) {
        bytes += n;
        return true;
    }
};

// A few bytes of an event, gathered before they go to the sink.
struct Pieces {
    uint8_t bytes[16];
    uint32_t n = 0;
    void Add(uint8_t b) { bytes[n++] = b; }
    void AddVarLen(uint32_t value) {
        uint8_t quantity[4];
        const uint32_t length = EncodeVarLen(value, quantity);
        for (uint32_t i = 0; i < length; ++i) Add(quantity[i]);
    }
};

// Turns decoded stream events into SMF track events on sink, and notes the first INAM and ICOP.
template <class Sink>
class TrackWriter final : public MdsVisitor {
public:
    TrackWriter(Sink& sink, bool useRunningStatus)
        : sink(sink), useRunningStatus(useRunningStatus) {}

    void Header(const MdsHeader& h) override { header = h; }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        const uint8_t*& data = id[1] == 'N' ? title : copyright;  // INAM or ICOP
        uint32_t& size = id[1] == 'N' ? titleLength : copyrightLength;
        if (data) return;
        data = text;
        size = length;
    }
    void Event(const MdsEvent& e) override {
        if (tooLarge || !written) return;
        // Summed wide: skipped events' deltas must not wrap into a delta an SMF holds.
        delta += e.delta;
        if (e.kind == MdsEventKind::Skipped) return;
        if (delta > MaxVarLen) {
            tooLarge = true;
            tooLargeAt = e.offset;
            return;
        }
        Pieces p;
        p.AddVarLen(uint32_t(delta));
        delta = 0;
        const uint8_t* rest = nullptr;
        uint32_t restLength = 0;
        switch (e.kind) {
            case MdsEventKind::Short: {
                const uint8_t status = e.message[0];
                if (!useRunningStatus || !MayOmitStatus(status, lastStatus, e.message[1]))
                    p.Add(status);
                for (uint32_t i = 1; i < e.messageLength; ++i) p.Add(e.message[i]);
                lastStatus = status;
                break;
            }
            case MdsEventKind::Tempo:
                p.Add(0xFF);
                p.Add(0x51);
                p.Add(0x03);
                for (int shift = 16; shift >= 0; shift -= 8) p.Add(uint8_t(e.tempo >> shift));
                lastStatus = 0;
                break;
            case MdsEventKind::Long: {
                // A message that starts with F0 is a system exclusive event; anything else goes
                // out as it is, behind the escape F7.
                const uint32_t f0 = e.paramLength > 0 && e.params[0] == 0xF0 ? 1 : 0;
                p.Add(f0 ? 0xF0 : 0xF7);
                p.AddVarLen(e.paramLength - f0);
                rest = e.params + f0;
                restLength = e.paramLength - f0;
                lastStatus = 0;
                break;
            }
            case MdsEventKind::Skipped:
                break;
        }
        written = sink.Write(p.bytes, p.n) && (restLength == 0 || sink.Write(rest, restLength));
        ++events;
    }

    MdsHeader header;
    const uint8_t* title = nullptr;
    uint32_t titleLength = 0;
    const uint8_t* copyright = nullptr;
    uint32_t copyrightLength = 0;
    uint32_t events = 0;
    bool tooLarge = false;
    uint32_t tooLargeAt = 0;
    bool written = true;  // false once the sink failed; nothing more is written then

private:
    Sink& sink;
    const bool useRunningStatus;
    uint8_t lastStatus = 0;  // of the channel message written last, 0 after any other event
    uint64_t delta = 0;      // since the event written last
};

uint32_t VarLenBytes(uint32_t value) {
    uint8_t quantity[4];
    return EncodeVarLen(value, quantity);
}

// The bytes of a text meta event at delta 0, or 0 when there is no text.
uint64_t TextEventBytes(const uint8_t* text, uint32_t length) {
    return text ? 3 + VarLenBytes(length) + uint64_t(length) : 0;
}

template <class Sink>
bool PutTextEvent(Sink& sink, uint8_t type, const uint8_t* text, uint32_t length) {
    if (!text) return true;
    Pieces p;
    p.Add(0x00);
    p.Add(0xFF);
    p.Add(type);
    p.AddVarLen(length);
    return sink.Write(p.bytes, p.n) && (length == 0 || sink.Write(text, length));
}

template <class Sink>
bool Emit(Sink& sink, const SmfPlan& plan) {
    uint8_t head[22] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    PutBe16(head + 12, plan.division);
    const uint8_t trackId[4] = {'M', 'T', 'r', 'k'};
    std::memcpy(head + 14, trackId, 4);
    PutBe32(head + 18, uint32_t(plan.trackBytes));
    if (!sink.Write(head, sizeof head) || !PutTextEvent(sink, 0x03, plan.title, plan.titleLength) ||
        !PutTextEvent(sink, 0x02, plan.copyright, plan.copyrightLength))
        return false;
    TrackWriter<Sink> track(sink, plan.useRunningStatus);
    // The plan was made from this very image, so the second pass decodes exactly as the first.
    if (DecodeMds(plan.image, plan.size, track).fault != MdsFault::None || track.tooLarge ||
        !track.written)
        return false;
    static const uint8_t EndOfTrack[4] = {0x00, 0xFF, 0x2F, 0x00};
    return sink.Write(EndOfTrack, 4);
}

// The INFO texts are zero-terminated by most writers; ours stores the meta event's bytes alone.
void TakeText(const uint8_t* text, uint32_t length, const uint8_t*& out, uint32_t& outLength) {
    out = text;
    outLength = length > 0 && text[length - 1] == 0 ? length - 1 : length;
}

}  // namespace

SmfPlanStatus PlanSmf(const uint8_t* image, uint32_t size, bool useRunningStatus, SmfPlan& plan) {
    plan = SmfPlan();
    plan.image = image;
    plan.size = size;
    plan.useRunningStatus = useRunningStatus;
    ByteCounter counter;
    TrackWriter<ByteCounter> track(counter, useRunningStatus);
    plan.fault = DecodeMds(image, size, track);
    if (plan.fault.fault == MdsFault::NotRiff) return SmfPlanStatus::NotMds;
    if (plan.fault.fault != MdsFault::None) return SmfPlanStatus::Malformed;
    if (track.tooLarge) {
        plan.fault.offset = track.tooLargeAt;
        return SmfPlanStatus::DeltaTooLarge;
    }
    TakeText(track.title, track.titleLength, plan.title, plan.titleLength);
    TakeText(track.copyright, track.copyrightLength, plan.copyright, plan.copyrightLength);
    const uint8_t* tooLong = plan.titleLength > MaxVarLen       ? plan.title
                             : plan.copyrightLength > MaxVarLen ? plan.copyright
                                                                : nullptr;
    if (tooLong) {
        plan.fault.offset = uint32_t(tooLong - image) - 8;
        return SmfPlanStatus::TextTooLong;
    }
    plan.division = uint16_t(track.header.timeFormat);
    plan.blocks = track.header.blockCount;
    plan.events = track.events;
    plan.trackBytes = TextEventBytes(plan.title, plan.titleLength) +
                      TextEventBytes(plan.copyright, plan.copyrightLength) + counter.bytes + 4;
    return SmfPlanStatus::Ok;
}

WriteResult WriteSmfFile(const char* path, const SmfPlan& plan, bool replace) {
    // A file of 4 GB or more is refused before anything is created.
    if (22 + plan.trackBytes > UINT32_MAX) return WriteResult{false, FileTooLargeErrorCode()};
    return WriteOutputFile(path, replace, [&](OutputFile& file) { return Emit(file, plan); });
}

bool WriteSmfImage(const SmfPlan& plan, MemoryFile& out) {
    if (22 + plan.trackBytes > UINT32_MAX) return false;
    return out.SetLength(0) && Emit(out, plan);
}
