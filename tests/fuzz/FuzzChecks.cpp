#include "tests/fuzz/FuzzChecks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Conversion.h"
#include "core/MdsReader.h"
#include "core/MdsWriter.h"
#include "core/SmfReader.h"
#include "core/Song.h"
#include "core/SongConversion.h"
#include "core/StreamBlocks.h"
#include "tests/fuzz/AllocationHooks.h"
#include "tests/support/StreamEvents.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* Context = nullptr;

[[noreturn]] void Fail(const char* what) {
    if (Context)
        std::fprintf(stderr, "fuzz check failed (%s): %s\n", Context, what);
    else
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

template <class A, class B>  // ByteBuffer or an event's bytes
bool SameBytes(const A& a, const B& b) {
    return a.Size() == b.Size() &&
           (a.Size() == 0 || std::memcmp(a.Data(), b.Data(), a.Size()) == 0);
}

bool SameTrack(const Track& a, const Track& b) {
    if (a.Count() != b.Count()) return false;
    const MidiEvent* x = a.First();
    const MidiEvent* y = b.First();
    for (; x && y; x = x->Next(), y = y->Next())
        if (x->tick != y->tick || !SameBytes(x->bytes, y->bytes)) return false;
    return !x && !y;
}

bool SameSong(const Song& a, const Song& b) {
    if (a.Format() != b.Format() || a.Division() != b.Division() ||
        a.TrackCount() != b.TrackCount())
        return false;
    for (const Track *x = a.FirstTrack(), *y = b.FirstTrack(); x && y; x = x->Next(), y = y->Next())
        if (!SameTrack(*x, *y)) return false;
    return true;
}

void Put32(Bytes& out, uint32_t v) {
    uint8_t bytes[4];
    PutBe32(bytes, v);
    out.insert(out.end(), bytes, bytes + 4);
}

void PutVarLen(Bytes& out, uint32_t v) {
    uint8_t bytes[4];
    out.insert(out.end(), bytes, bytes + EncodeVarLen(v, bytes));
}

EventView View(const MidiEvent& e) {
    EventView view;
    Check(e.View(view), "a stored event with a broken length field");
    return view;
}

// The length field of a stored sysex or meta event must say exactly how many bytes follow it.
void CheckEventLayout(const MidiEvent& e) {
    Check(e.bytes.Size() >= 2, "an event shorter than two bytes");
    const EventView view = View(e);
    if (view.IsChannel()) {
        Check(e.bytes.Size() == ((view.status & 0xE0) == 0xC0 ? 2u : 3u),
              "a channel message of the wrong size");
        return;
    }
    Check(view.status == 0xFF || view.IsSysEx(),
          "an event with a system common or real-time status");
    Check(view.status != 0xFF || view.type < 0x80, "a meta type of 0x80 or above");
    Check(view.spare == 0, "a stored event whose length field lies");
}

// The song as an SMF image again, every status written out: reading it back must give the song.
Bytes WriteSmf(const Song& song) {
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    out.push_back(uint8_t(song.Format() >> 8));
    out.push_back(uint8_t(song.Format()));
    out.push_back(uint8_t(song.TrackCount() >> 8));
    out.push_back(uint8_t(song.TrackCount()));
    out.push_back(uint8_t(song.Division() >> 8));
    out.push_back(uint8_t(song.Division()));
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) {
        Bytes events;
        uint32_t tick = 0;
        for (const MidiEvent* e = t->First(); e; e = e->Next()) {
            PutVarLen(events, e->tick - tick);  // wraps back, as the reader's sum did
            tick = e->tick;
            events.insert(events.end(), e->bytes.Data(), e->bytes.Data() + e->bytes.Size());
        }
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        Put32(out, uint32_t(events.size()));
        out.insert(out.end(), events.begin(), events.end());
    }
    return out;
}

void CheckParsedSong(const Song& song) {
    Check(song.Format() <= 2, "a format above 2 was accepted");
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) {
        Check(!t->Empty(), "an empty track was stored");
        uint32_t n = 0;
        for (const MidiEvent* e = t->First(); e; e = e->Next(), ++n) {
            CheckEventLayout(*e);
            const bool endOfTrack = View(*e).IsEndOfTrack();
            Check(endOfTrack == !e->Next(), "End of Track is not exactly the last event");
        }
        Check(n == t->Count(), "a track's count differs from its events");
    }
}

bool Parse(const uint8_t* image, uint32_t size, Song& song, bool allowMacBinary, SmfReadMode mode,
           uint32_t* mends = nullptr) {
    SmfReader reader(mode);
    const bool ok = reader.Parse(image, size, song, allowMacBinary);
    Check(ok || !reader.OutOfMemory() || AllocationWasRefused(),
          "the reader reported running out of memory without a refused allocation");
    Check(ok || reader.OutOfMemory() || reader.Fault().kind != SmfFaultKind::None,
          "a fault without its kind");
    Check(ok || reader.Fault().offset <= size, "a fault outside the file");
    Check(mode == SmfReadMode::Lenient || reader.Mends() == 0, "the strict mode mended");
    if (mends) *mends = reader.Mends();
    return ok;
}

// An exact-size heap copy, so AddressSanitizer sees a read one byte past the image.
struct HeapCopy {
    HeapCopy(const uint8_t* data, uint32_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
        if (n) std::memcpy(bytes, data, n);
    }
    ~HeapCopy() { delete[] bytes; }
    HeapCopy(const HeapCopy&) = delete;
    HeapCopy& operator=(const HeapCopy&) = delete;
    uint8_t* bytes;
    uint32_t size;
};

// Which allocation to refuse, from the input, so a run can be repeated.
uint64_t Pick(const HeapCopy& image) {
    uint64_t pick = 0;
    for (uint32_t i = 0; i < image.size; ++i) pick = pick * 31 + image.bytes[i];
    return pick;
}

// Bounds the pairwise merge, whose cost grows with tracks x events, to keep runs fast.
constexpr uint64_t PairwiseBudget = 1u << 20;

uint64_t TotalEvents(const Song& song) {
    uint64_t n = 0;
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) n += t->Count();
    return n;
}

enum class Outcome { NotSmf, EventTooLarge, Converted, OutOfMemory };

struct Conversion {
    Outcome outcome = Outcome::NotSmf;
    SmfReading reading;
    ConvertedSong song;
    MemoryFile image{4096};
};

void Convert(const uint8_t* image, uint32_t size, const FuzzInput& in, Conversion& c) {
    const ConversionResult result = ConvertSmf({image, size, in.options, in.mode}, c.song);
    c.reading = result.reading;
    switch (result.status) {
        case ConversionStatus::NotSmf:
            c.outcome = Outcome::NotSmf;
            return;
        case ConversionStatus::EventTooLarge:
            c.outcome = Outcome::EventTooLarge;
            return;
        case ConversionStatus::OutOfMemory:
            c.outcome = Outcome::OutOfMemory;
            return;
        case ConversionStatus::OutputTooLarge:
        case ConversionStatus::WriteFailed:
            Fail("a conversion in memory of a small file failed to write");
        case ConversionStatus::Ok:
            break;
    }
    c.outcome = WriteConvertedImage(c.song, c.image) ? Outcome::Converted : Outcome::OutOfMemory;
}

// Our own files, the SMF written on the way back among them, read strictly.
void Convert(const uint8_t* image, uint32_t size, const ConversionOptions& options, Conversion& c) {
    Convert(image, size, FuzzInput{image, size, options, SmfReadMode::Strict}, c);
}

// The merged song the conversion encodes, found by its first steps alone.
struct Merged {
    Song song;
    ByteBuffer title, copyright;
    bool Prepare(const uint8_t* image, uint32_t size, SmfReadMode mode) {
        return PrepareSong({image, size, ConversionOptions(), mode}, song, title, copyright) ==
               ConversionStatus::Ok;
    }
};

uint32_t Le32(const uint8_t* p) {
    return GetLe32(p);
}

// The packed size of an event, or 0 for one that is not encoded (every meta event but tempo).
uint32_t PackedSize(const MidiEvent& e, bool omitStreamIds) {
    const uint32_t head = omitStreamIds ? 8 : 12;
    const EventView view = View(e);
    if (view.IsChannel()) return head;
    if (view.status == 0xFF) return view.IsTempo() ? head : 0;
    const uint64_t n = uint64_t(view.length) + (view.status == 0xF0 ? 1 : 0);
    return uint32_t(head + (n + 3) / 4 * 4);
}

void CheckBlocks(const Track& track, const ConversionOptions& options,
                 const StreamBlockList& blocks) {
    const uint32_t head = options.omitStreamIds ? 8 : 12;
    Check(blocks.Count() >= 1, "no block at all");
    const MidiEvent* e = track.First();
    uint32_t tick = 0;
    for (const StreamBlock* b = blocks.First(); b; b = b->next) {
        const uint32_t length = b->buffer.GetLength();
        const uint8_t* p = b->buffer.Data();
        Check(length % 4 == 0, "a block length that is not a multiple of 4");
        Check(b->tickStart == tick, "a block does not start at the tick reached before it");
        uint32_t at = 0, events = 0;
        while (at < length) {
            Check(length - at >= head, "a block ends inside an event");
            while (e && PackedSize(*e, options.omitStreamIds) == 0) e = e->Next();
            Check(e != nullptr, "a block holds more events than the track");
            Check(PackedSize(*e, options.omitStreamIds) <= length - at,
                  "an event runs past its block");
            tick += Le32(p + at);
            Check(tick == e->tick, "the deltas do not add up to the event's tick");
            if (!options.omitStreamIds) Check(Le32(p + at + 4) == 0, "a stream identifier not 0");
            at += PackedSize(*e, options.omitStreamIds);
            ++events;
            e = e->Next();
        }
        Check(uint64_t(length) + (options.omitStreamIds ? 4ull * events : 0) <=
                  options.maxBufferBytes,
              "a block over the buffer limit");
        Check(b == blocks.First() || events > 0, "an empty block after the first");
    }
    while (e && PackedSize(*e, options.omitStreamIds) == 0) e = e->Next();
    Check(e == nullptr, "an encodable event is missing from the blocks");
}

void CheckImage(const Conversion& c, const ConversionOptions& options) {
    const uint8_t* p = c.image.Data();
    const uint32_t size = c.image.GetLength();
    uint64_t expected = 44;
    for (const StreamBlock* b = c.song.blocks.First(); b; b = b->next)
        expected += 8 + uint64_t(b->buffer.GetLength());
    const uint64_t title = c.song.title.Size() + (c.song.title.Size() & 1);
    const uint64_t copyright = c.song.copyright.Size() + (c.song.copyright.Size() & 1);
    if (title || copyright)
        expected += 12 + (title ? 8 + title : 0) + (copyright ? 8 + copyright : 0);
    Check(size == expected, "the image size does not match its blocks and texts");
    Check(std::memcmp(p, "RIFF", 4) == 0 && Le32(p + 4) == size - 8 &&
              std::memcmp(p + 8, "MIDSfmt ", 8) == 0 && Le32(p + 16) == 12,
          "a broken RIFF or fmt header");
    Check(Le32(p + 20) == c.song.division && Le32(p + 24) == options.maxBufferBytes &&
              Le32(p + 28) == (options.omitStreamIds ? 1u : 0u),
          "wrong fmt fields");
    Check(std::memcmp(p + 32, "data", 4) == 0 && Le32(p + 40) == c.song.blocks.Count(),
          "a broken data chunk header");
}

// Reads every byte the decoder hands out, so AddressSanitizer sees any that lie outside the file.
class TouchEverything : public MdsVisitor {
public:
    void Event(const MdsEvent& e) override {
        for (uint32_t i = 0; i < e.paramLength; ++i) sum += e.params[i];
    }
    void Text(const char (&)[5], const uint8_t* text, uint32_t length) override {
        for (uint32_t i = 0; i < length; ++i) sum += text[i];
    }
    volatile uint32_t sum = 0;
};

// Compares each decoded event with the next encodable event of the merged track, as it comes.
class ExpectEvents : public MdsVisitor {
public:
    ExpectEvents(const Conversion& c, const Merged& merged, const ConversionOptions& options)
        : c(c), merged(merged), options(options), next(merged.song.FirstTrack()->First()) {}

    void Header(const MdsHeader& h) override {
        Check(h.timeFormat == merged.song.Division() &&
                  h.maxBufferBytes == options.maxBufferBytes &&
                  h.flags == (options.omitStreamIds ? 1u : 0u) &&
                  h.blockCount == c.song.blocks.Count(),
              "the decoded header differs from the conversion");
    }

    void Event(const MdsEvent& got) override {
        while (next && PackedSize(*next, options.omitStreamIds) == 0) next = next->Next();
        Check(next != nullptr, "more events decoded than the track holds");
        const EventBytes& b = next->bytes;
        Check(got.tick == next->tick, "a decoded event at another tick");
        Check(got.streamId == 0, "a decoded stream identifier other than 0");
        if (b[0] < 0xF0) {
            Check(got.kind == MdsEventKind::Short && got.messageLength == b.Size() &&
                      std::memcmp(got.message, b.Data(), b.Size()) == 0,
                  "a channel message decodes differently");
            Check(options.useRunningStatus || !got.runningStatus,
                  "running status used although it is off");
        } else if (b[0] == 0xFF) {
            const uint8_t* t = b.Data() + b.Size() - 3;  // after a length field of any size
            Check(got.kind == MdsEventKind::Tempo &&
                      got.tempo == (uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2]),
                  "a tempo decodes differently");
        } else {
            uint32_t length = 0;
            const uint32_t at = 1 + DecodeVarLen(b.Data() + 1, b.Size() - 1, length);
            const bool f0 = b[0] == 0xF0;
            Check(got.kind == MdsEventKind::Long && got.paramLength == length + (f0 ? 1 : 0) &&
                      (!f0 || got.params[0] == 0xF0) &&
                      (length == 0 ||
                       std::memcmp(got.params + (f0 ? 1 : 0), b.Data() + at, length) == 0),
                  "a system exclusive message decodes differently");
        }
        next = next->Next();
    }

    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        const bool name = std::memcmp(id, "INAM", 4) == 0;
        const ByteBuffer& expected = name ? merged.title : merged.copyright;
        Check(!(name ? sawTitle : sawCopyright), "a text chunk twice");
        (name ? sawTitle : sawCopyright) = true;
        Check(length == expected.Size() &&
                  (length == 0 || std::memcmp(text, expected.Data(), length) == 0),
              "a decoded text differs from the song's");
    }

    void Deviation(const MdsCheck&) override { Fail("the converted file departs from our layout"); }

    void Finish() {
        while (next && PackedSize(*next, options.omitStreamIds) == 0) next = next->Next();
        Check(next == nullptr, "an event of the track was not decoded");
        Check(sawTitle == !merged.title.Empty() && sawCopyright == !merged.copyright.Empty(),
              "a text chunk missing or present without text");
    }

private:
    const Conversion& c;
    const Merged& merged;
    const ConversionOptions& options;
    const MidiEvent* next;
    bool sawTitle = false;
    bool sawCopyright = false;
};

// The largest delta an SMF holds.
constexpr uint32_t MaxSmfDelta = 0x0FFFFFFF;

// What a stream file sends, as the way back must keep it: every event but the skipped ones, at
// the tick the deltas reach from 0 (as StreamEventRecord), the first INAM and ICOP of the INFO
// lists.
class RecordSent : public MdsVisitor {
public:
    void Header(const MdsHeader& h) override { header = h; }
    void Event(const MdsEvent& e) override {
        tick += e.delta;  // from 0, whatever the first block's tickStart says
        gap += e.delta;
        if (e.kind == MdsEventKind::Skipped) return;
        events.push_back(RecordOf(e, tick));
        far = far || gap > MaxSmfDelta;
        gap = 0;
    }
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        const bool name = std::memcmp(id, "INAM", 4) == 0;
        if (name ? hasTitle : hasCopyright) return;
        (name ? hasTitle : hasCopyright) = true;
        (name ? title : copyright).assign(text, text + length);
    }
    void Deviation(const MdsCheck&) override { ++deviations; }

    MdsHeader header;
    std::vector<StreamEventRecord> events;
    bool hasTitle = false, hasCopyright = false;
    Bytes title, copyright;
    uint32_t deviations = 0;
    bool far = false;  // some event sent more than an SMF delta after the one sent before it

private:
    uint32_t tick = 0;
    uint64_t gap = 0;  // the deltas since the event sent last, skipped ones summed without wrap
};

// Whether some event lies more than an SMF delta after the one before it (or after tick 0).
bool HasFarEvent(const std::vector<uint32_t>& ticks) {
    uint32_t previous = 0;
    for (uint32_t tick : ticks) {
        if (tick - previous > MaxSmfDelta) return true;
        previous = tick;
    }
    return false;
}

// The INFO text as the SMF's meta event has it: one terminating NUL off.
Bytes WithoutNul(Bytes text) {
    if (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

// The SMF the way back wrote, read by our own reader and compared with what the stream sent.
void CheckWrittenSmf(const MemoryFile& smf, const RecordSent& sent) {
    Bytes bytes(smf.Data(), smf.Data() + smf.GetLength());
    Check(bytes.size() >= 14, "the SMF has no header");
    Check(IsValidDivision(GetBe16(&bytes[12])), "the SMF's division is one the reader refuses");
    HeapCopy copy(bytes.data(), uint32_t(bytes.size()));
    Song song;
    Check(Parse(copy.bytes, copy.size, song, false, SmfReadMode::Strict),
          "the SMF written does not read");
    Check(song.Format() == 0 && song.TrackCount() == 1, "not one track of format 0");
    const MidiEvent* e = song.FirstTrack()->First();
    for (int text = 0; text < 2; ++text) {
        if (!(text == 0 ? sent.hasTitle : sent.hasCopyright)) continue;
        EventView view = View(*e);
        const Bytes expected = WithoutNul(text == 0 ? sent.title : sent.copyright);
        Check(e->tick == 0 && view.IsMeta(text == 0 ? 0x03 : 0x02) &&
                  Bytes(view.data, view.data + view.length) == expected,
              "the title or copyright is not the first meta event, as found");
        e = e->Next();
    }
    for (const StreamEventRecord& expected : sent.events) {
        Check(e != nullptr, "an event missing from the SMF");
        const EventView view = View(*e);
        StreamEventRecord got{e->tick, MdsEventKind::Short, {}};
        if (view.IsChannel()) {
            got.bytes.push_back(view.status);
            got.bytes.insert(got.bytes.end(), view.data, view.data + view.length);
        } else if (view.IsTempo()) {
            got.kind = MdsEventKind::Tempo;
            got.bytes.assign(view.data, view.data + 3);
        } else {
            Check(view.IsSysEx(), "an SMF event of a kind the stream did not send");
            got.kind = MdsEventKind::Long;
            if (view.status == 0xF0) got.bytes.push_back(0xF0);
            got.bytes.insert(got.bytes.end(), view.data, view.data + view.length);
            Check(view.status == 0xF0 || view.length == 0 || view.data[0] != 0xF0,
                  "a long message starting with F0 written after the escape F7");
        }
        Check(got == expected, "an SMF event differs from the one sent");
        e = e->Next();
    }
    Check(e && View(*e).IsEndOfTrack() && !e->Next() &&
              e->tick == (sent.events.empty() ? 0 : sent.events.back().tick),
          "the track does not end with End of Track right after the last event");
}

// The input whole as a MIDI stream file.
void CheckBackFromAnyMds(const uint8_t* data, uint32_t size, bool useRunningStatus) {
    HeapCopy image(data, size);
    RecordSent sent;
    const MdsCheck check = DecodeMds(image.bytes, image.size, sent);
    ConvertedMidi midi;
    const MdsConversionStatus status = ConvertMds(image.bytes, image.size, useRunningStatus, midi);
    // --dump's decoder and the way back are one: they stop at the same fault.
    if (check.fault != MdsFault::None) {
        Check(status == (check.fault == MdsFault::NotRiff ? MdsConversionStatus::NotMds
                                                          : MdsConversionStatus::Malformed) &&
                  midi.fault.fault == check.fault && midi.fault.offset == check.offset &&
                  check.offset <= size,
              "the way back refuses other than the decoder stops");
        return;
    }
    const bool far = sent.far;
    Check(status == (far ? MdsConversionStatus::DeltaTooLarge : MdsConversionStatus::Ok),
          "a decodable file refused, or a delta no SMF holds accepted");
    if (far) return;

    MemoryFile smf(4096);
    Check(WriteConvertedMidiImage(midi, smf), "the SMF could not be written");
    Check(smf.GetLength() == 22 + midi.trackBytes, "the SMF is not as long as planned");
    CheckWrittenSmf(smf, sent);

    // Converted again, it sends the same, in our own layout.
    Bytes bytes(smf.Data(), smf.Data() + smf.GetLength());
    bytes[12] = 0;  // the division, which plays no part here and the reader may refuse
    ConversionOptions options;
    options.maxBufferBytes = MaxBufferKilobytes * 1024;
    options.omitStreamIds = sent.header.flags == 1;
    Conversion again;
    Convert(bytes.data(), uint32_t(bytes.size()), options, again);
    if (again.outcome == Outcome::EventTooLarge) {
        bool tooLarge = false;
        for (const StreamEventRecord& e : sent.events)
            tooLarge = tooLarge || e.bytes.size() + 20 > options.maxBufferBytes;
        Check(tooLarge, "an event of the SMF does not fit a block, though none is that long");
        return;
    }
    Check(again.outcome == Outcome::Converted, "the SMF written does not convert again");
    RecordSent resent;
    Check(DecodeMds(again.image.Data(), again.image.GetLength(), resent).fault == MdsFault::None &&
              resent.deviations == 0,
          "converted again, the file is not in our own layout");
    Check(resent.events == sent.events, "converted again, the events differ");
    Check(resent.hasTitle == (sent.hasTitle && !WithoutNul(sent.title).empty()) &&
              resent.title == WithoutNul(sent.title) &&
              resent.hasCopyright == (sent.hasCopyright && !WithoutNul(sent.copyright).empty()) &&
              resent.copyright == WithoutNul(sent.copyright),
          "converted again, the title or copyright differs");
}

// The input as an SMF: MID -> MDS -> MID' -> MDS'.
void CheckBackFromOurMds(const uint8_t* data, size_t size) {
    const FuzzInput in = SplitFuzzInput(data, size);
    HeapCopy image(in.image, in.size);
    Conversion c;
    Convert(image.bytes, image.size, in, c);
    if (c.outcome != Outcome::Converted) return;
    Merged merged;
    Check(merged.Prepare(image.bytes, image.size, in.mode), "the first steps alone failed");
    std::vector<uint32_t> ticks;
    for (const MidiEvent* e = merged.song.FirstTrack()->First(); e; e = e->Next())
        if (PackedSize(*e, false)) ticks.push_back(e->tick);
    const bool far = HasFarEvent(ticks);

    HeapCopy mds(c.image.Data(), c.image.GetLength());
    ConvertedMidi midi;
    Check(ConvertMds(mds.bytes, mds.size, in.options.useRunningStatus, midi) ==
              (far ? MdsConversionStatus::DeltaTooLarge : MdsConversionStatus::Ok),
          "our own file refused, or a delta no SMF holds accepted");
    if (far) return;
    MemoryFile smf(4096);
    Check(WriteConvertedMidiImage(midi, smf), "the SMF could not be written");
    Conversion again;
    Convert(smf.Data(), smf.GetLength(), in.options, again);
    Check(again.outcome == Outcome::Converted, "the SMF written does not convert again");
    for (ByteBuffer* text : {&c.song.title, &c.song.copyright})
        if (!text->Empty() && (*text)[text->Size() - 1] == 0) text->Resize(text->Size() - 1);
    MemoryFile expected(4096);
    Check(WriteConvertedImage(c.song, expected), "the expected image could not be written");
    Check(again.image.GetLength() == expected.GetLength() &&
              std::memcmp(again.image.Data(), expected.Data(), expected.GetLength()) == 0,
          "MDS -> SMF -> MDS changed the file");
}

}  // namespace

void SetCheckContext(const char* context) {
    Context = context;
}

FuzzInput SplitFuzzInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, 0, ConversionOptions(), SmfReadMode::Strict};
    if (size == 0) return in;
    const uint8_t choice = data[size - 1];
    in.size = uint32_t(size - 1);
    in.options.maxBufferBytes = (1 + (choice & 0x3F) % 63) * 1024;
    if ((choice & 0x3F) == 0x3F) in.mode = SmfReadMode::Lenient;
    in.options.useRunningStatus = !(choice & 0x40);
    in.options.omitStreamIds = (choice & 0x80) != 0;
    return in;
}

uint64_t CheckReadAndMerge(const uint8_t* data, size_t size, uint64_t refuseNth) {
    const FuzzInput in = SplitFuzzInput(data, size);
    HeapCopy image(in.image, in.size);
    FailNthAllocation(0);
    {
        Song strict, lenient;
        uint32_t mends = 0;
        const bool strictRead = Parse(image.bytes, image.size, strict, true, SmfReadMode::Strict);
        const bool lenientRead =
            Parse(image.bytes, image.size, lenient, true, SmfReadMode::Lenient, &mends);
        Check(strictRead == (lenientRead && mends == 0),
              "the lenient mode needed a rule for a file the strict mode reads, or none for one "
              "it refuses");
        Check(!strictRead || SameSong(strict, lenient), "the two modes read different songs");
    }

    FailNthAllocation(0);
    Song song;
    const bool parsed = Parse(image.bytes, image.size, song, true, in.mode);
    const uint64_t parseAllocations = NothrowAllocations();
    const bool plain = image.size >= 4 && std::memcmp(image.bytes, "MThd", 4) == 0;
    const bool rmid = in.mode == SmfReadMode::Lenient && image.size >= 12 &&
                      std::memcmp(image.bytes, "RIFF", 4) == 0 &&
                      std::memcmp(image.bytes + 8, "RMID", 4) == 0;
    {
        // Without MacBinary: the same song for a plain file (or an RMID file, which is never
        // looked at for one), and a MacBinary file refused here but read when the 128 bytes are
        // cut off.
        Song other;
        if (plain || rmid) {
            Check(Parse(image.bytes, image.size, other, false, in.mode) == parsed,
                  "allowMacBinary changed the result for a file beginning with MThd or RIFF");
            Check(!parsed || SameSong(song, other), "allowMacBinary changed the song");
        } else if (parsed) {
            Check(!Parse(image.bytes, image.size, other, false, in.mode),
                  "a MacBinary file was read with allowMacBinary false");
            HeapCopy rest(image.bytes + 128, image.size - 128);
            Check(Parse(rest.bytes, rest.size, other, false, in.mode) && SameSong(song, other),
                  "the file behind the MacBinary header reads differently");
        }
    }
    if (!parsed) return parseAllocations;
    CheckParsedSong(song);
    {
        const Bytes again = WriteSmf(song);
        HeapCopy copy(again.data(), uint32_t(again.size()));
        Song reread;
        Check(Parse(copy.bytes, copy.size, reread, false, in.mode) && SameSong(song, reread),
              "the song written back as an SMF reads differently");
    }

    ByteBuffer title, copyright;
    const bool hasTitle = song.GetTitle(title);
    const bool hasCopyright = song.GetCopyright(copyright);
    const uint16_t format = song.Format();
    const uint32_t tracks = song.TrackCount();
    const uint64_t events = TotalEvents(song);

    FailNthAllocation(0);
    const bool merged = song.MergeToSingleTrack();
    const uint64_t mergeAllocations = NothrowAllocations();
    Check(merged == (format == 1), "the merge result does not follow the format");
    if (merged && tracks > 0) {
        Check(song.TrackCount() == 1, "the merge left more than one track");
        Check(TotalEvents(song) == events - (tracks - 1),
              "the merge lost events other than one End of Track per merged track");
    }
    if (merged && tracks > 1 && uint64_t(tracks) * events <= PairwiseBudget) {
        Song pairwise;
        Check(Parse(image.bytes, image.size, pairwise, true, in.mode), "a second parse failed");
        Check(pairwise.MergeToSingleTrackPairwise(), "the pairwise merge refused");
        Check(SameSong(song, pairwise), "the merge differs from the pairwise definition");
    }

    // One allocation of the parse or of the merge refused, picked by the input: the parse either
    // reports running out of memory or recovers and reads the same song; the merge either gives
    // the same result or refuses and leaves the song exactly as it was read.
    const uint64_t total = parseAllocations + mergeAllocations;
    if (total == 0) return total;
    const uint64_t nth = refuseNth ? 1 + (refuseNth - 1) % total : 1 + Pick(image) % total;
    FailNthAllocation(nth <= parseAllocations ? nth : 0);  // counts as the first parse did
    Song starved;
    SmfReader reader(in.mode);
    const bool starvedParse = reader.Parse(image.bytes, image.size, starved, true);
    FailNthAllocation(0);
    if (!starvedParse) {
        Check(nth <= parseAllocations && reader.OutOfMemory(),
              "a refused allocation made the parse fail without reporting running out of memory");
        return total;
    }
    ByteBuffer starvedTitle, starvedCopyright;
    Check(starved.GetTitle(starvedTitle) == hasTitle && SameBytes(starvedTitle, title) &&
              starved.GetCopyright(starvedCopyright) == hasCopyright &&
              SameBytes(starvedCopyright, copyright),
          "the title or copyright differs between two parses");
    if (nth > parseAllocations) FailNthAllocation(nth - parseAllocations);
    const bool starvedMerge = starved.MergeToSingleTrack();
    const bool refused = AllocationWasRefused();
    FailNthAllocation(0);
    if (starvedMerge != merged) {
        Check(merged && refused && starved.Format() == 1,
              "the merge refused without a refused allocation, or with the format changed");
        Song unmerged;
        Check(
            Parse(image.bytes, image.size, unmerged, true, in.mode) && SameSong(unmerged, starved),
            "a merge that ran out of memory changed the song");
        return total;
    }
    Check(SameSong(song, starved), "a refused allocation changed the song");
    return total;
}

uint64_t CheckConversion(const uint8_t* data, size_t size, uint64_t refuseNth) {
    const FuzzInput in = SplitFuzzInput(data, size);
    HeapCopy image(in.image, in.size);

    FailNthAllocation(0);
    Conversion c;
    Convert(image.bytes, image.size, in, c);
    const uint64_t allocations = NothrowAllocations();
    Check(c.outcome != Outcome::OutOfMemory, "out of memory without a refused allocation");

    // What to expect, found without the converter: the reader alone, then the largest event.
    Song song;
    const bool parsed = Parse(image.bytes, image.size, song, true, in.mode);
    Merged merged;
    if (!parsed || song.Format() > 1 || song.TrackCount() == 0) {
        Check(c.outcome == Outcome::NotSmf, "converted a song that cannot be converted");
        Check(c.reading.fault.kind != SmfFaultKind::None, "a refusal that names no fault");
        if (in.mode == SmfReadMode::Strict) {
            ConvertedSong lenient;
            const bool converts =
                ConvertSmfThroughSong({image.bytes, image.size, in.options, SmfReadMode::Lenient},
                                      lenient)
                    .status == ConversionStatus::Ok;
            Check(c.reading.lenientConverts == converts,
                  "the refusal tells wrongly whether the lenient mode converts the file");
        }
        return allocations;
    }
    Check(c.outcome != Outcome::NotSmf, "refused a song that can be converted");
    // The events encoded are those of the merged track: of a format 0 file only the first
    // track's, and none of the events the merge drops at the tracks' ends.
    Check(merged.Prepare(image.bytes, image.size, in.mode), "the first steps alone failed");
    bool tooLarge = false;
    const uint32_t allowance = in.options.omitStreamIds ? 4 : 0;
    for (const MidiEvent* e = merged.song.FirstTrack()->First(); e; e = e->Next())
        if (PackedSize(*e, in.options.omitStreamIds) + allowance > in.options.maxBufferBytes)
            tooLarge = true;
    if (tooLarge) {
        Check(c.outcome == Outcome::EventTooLarge, "converted an event larger than a block");
        return allocations;
    }
    Check(c.outcome == Outcome::Converted, "refused an event that fits a block");
    CheckBlocks(*merged.song.FirstTrack(), in.options, c.song.blocks);
    CheckImage(c, in.options);

    const uint64_t nth =
        refuseNth ? 1 + (refuseNth - 1) % allocations : 1 + Pick(image) % allocations;
    FailNthAllocation(nth);
    Conversion starved;
    Convert(image.bytes, image.size, in, starved);
    FailNthAllocation(0);
    if (starved.outcome == Outcome::OutOfMemory) return allocations;
    Check(starved.outcome == c.outcome, "a refused allocation changed the outcome");
    Check(starved.image.GetLength() == c.image.GetLength() &&
              std::memcmp(starved.image.Data(), c.image.Data(), c.image.GetLength()) == 0,
          "a refused allocation changed the image");
    return allocations;
}

namespace {

Bytes FileOf(const ConvertedSong& song) {
    MemoryFile image(4096);
    Check(WriteConvertedImage(song, image), "a converted song could not be written");
    return Bytes(image.Data(), image.Data() + image.GetLength());
}

void CheckSameResult(const ConversionResult& got, const ConversionResult& expected) {
    Check(got.status == expected.status, "a result other than the song model's");
    const SmfFault &a = got.reading.fault, &b = expected.reading.fault;
    Check(a.kind == b.kind && a.chunk == b.chunk && a.trackChunk == b.trackChunk &&
              a.offset == b.offset,
          "a fault other than the song model's");
    Check(got.reading.lenientConverts == expected.reading.lenientConverts &&
              got.reading.mends == expected.reading.mends,
          "a reading other than the song model's");
    Check(got.blocks == expected.blocks && got.events == expected.events,
          "counts other than the song model's");
}

}  // namespace

uint64_t CheckStreamConversion(const uint8_t* data, size_t size, uint64_t refuseNth) {
    const FuzzInput in = SplitFuzzInput(data, size);
    HeapCopy image(in.image, in.size);
    const SmfReadMode other =
        in.mode == SmfReadMode::Strict ? SmfReadMode::Lenient : SmfReadMode::Strict;
    uint64_t allocations = 0;
    for (const SmfReadMode mode : {in.mode, other}) {
        const ConversionRequest request(image.bytes, image.size, in.options, mode);
        FailNthAllocation(0);
        ConvertedSong model;
        const ConversionResult expected = ConvertSmfThroughSong(request, model);
        Check(expected.status != ConversionStatus::OutOfMemory,
              "out of memory without a refused allocation");
        const Bytes file = expected.status == ConversionStatus::Ok ? FileOf(model) : Bytes();

        FailNthAllocation(0);
        ConvertedSong kept;
        const ConversionResult got = ConvertSmf(request, kept);
        if (mode == in.mode) allocations = NothrowAllocations();
        CheckSameResult(got, expected);
        if (got.status == ConversionStatus::Ok)
            Check(FileOf(kept) == file, "a file other than the song model's");

        MemoryFile written(4096);
        MdsImageOutput output(written);
        CheckSameResult(ConvertSmfToOutput(request, output), expected);
        if (expected.status == ConversionStatus::Ok)
            Check(Bytes(written.Data(), written.Data() + written.GetLength()) == file,
                  "a file written as it is made other than the song model's");
    }
    if (allocations == 0) return 0;
    const uint64_t nth =
        refuseNth ? 1 + (refuseNth - 1) % allocations : 1 + Pick(image) % allocations;
    const ConversionRequest request(image.bytes, image.size, in.options, in.mode);
    ConvertedSong model, starved;
    const ConversionResult expected = ConvertSmfThroughSong(request, model);
    FailNthAllocation(nth);
    const ConversionResult got = ConvertSmf(request, starved);
    FailNthAllocation(0);
    if (got.status == ConversionStatus::OutOfMemory) return allocations;
    CheckSameResult(got, expected);
    if (got.status == ConversionStatus::Ok)
        Check(FileOf(starved) == FileOf(model), "a refused allocation changed the file");
    return allocations;
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
    const FuzzInput in = SplitFuzzInput(data, size);
    HeapCopy image(in.image, in.size);
    // The decoder (--dump) reads files from anywhere too: the input itself as an MDS file.
    TouchEverything touch;
    DecodeMds(image.bytes, image.size, touch);

    Conversion c;
    Convert(image.bytes, image.size, in, c);
    if (c.outcome != Outcome::Converted) return;
    Merged merged;
    Check(merged.Prepare(image.bytes, image.size, in.mode), "the first steps alone failed");
    HeapCopy mds(c.image.Data(), c.image.GetLength());
    ExpectEvents expect(c, merged, in.options);
    const MdsCheck check = DecodeMds(mds.bytes, mds.size, expect);
    Check(check.fault == MdsFault::None, "the converted file does not decode");
    expect.Finish();

    // ...and a damaged one: the converted file with one byte changed, picked by the input.
    if (mds.size == 0 || in.size == 0) return;
    const uint64_t pick = Pick(image);
    mds.bytes[pick % mds.size] ^= uint8_t(1 + (pick >> 32) % 255);
    DecodeMds(mds.bytes, mds.size, touch);
}

void CheckMdsToSmf(const uint8_t* data, size_t size) {
    const FuzzInput in = SplitFuzzInput(data, size);
    CheckBackFromAnyMds(data, uint32_t(size), in.options.useRunningStatus);
    CheckBackFromOurMds(data, size);
}
