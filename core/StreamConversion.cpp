#include "core/StreamConversion.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "core/MdsWriter.h"
#include "core/MergeOrder.h"
#include "core/SmfReader.h"

// Where one merged track's kept events lie.
struct TrackPlan {
    const uint8_t* begin;
    const uint8_t* end;
    uint32_t kept;      // events the merge keeps, those it skips (meta events) included
    uint32_t readable;  // of them, those that stand in the image (not an added End of Track)
    uint32_t firstKey;
    uint32_t lastKey;
};

namespace {

void Notify(ConversionObserver* observer, ConversionStep step) {
    if (observer) observer->StepDone(step);
}

// A stored event of a track, read again from the image.
struct ImageEvent {
    const uint8_t* at;  // its status byte, or its first data byte under running status
    uint8_t status;
    uint8_t type;  // of a meta event
    uint32_t length;
    const uint8_t* data;
};

// Reads the event at r's position as the reading stored it, its tick and the running status with
// it. The scan took every event of the track, so this fails only for bytes that changed.
// Running status is kept across meta and system exclusive events, as the lenient reading keeps
// it; a file that the strict reading takes never needs it there.
inline bool NextEvent(ByteReader& r, uint8_t& runningStatus, uint32_t& tick, ImageEvent& e) {
    ShortChannelEvent common;
    if (TakeShortChannelEvent(r, runningStatus, common)) {  // nearly every event
        tick += common.delta;
        e.at = common.data - common.statusByte;
        e.status = runningStatus = common.status;
        e.type = 0;
        e.length = ChannelDataBytes(common.status);
        e.data = common.data;
        return true;
    }
    tick += r.VarLen();
    uint8_t b = 0;
    if (!r.PeekByte(b)) return false;
    e.at = r.Position();
    e.type = 0;
    if (b < 0x80) {
        if (!runningStatus) return false;
        e.status = runningStatus;
    } else if (b >= 0xF0) {
        EventView view;
        if (!ReadLongEvent(r, view)) return false;
        e.status = b;
        e.type = view.type;
        e.length = view.length;
        e.data = view.data;
        return true;
    } else {
        e.status = b;
        r.Skip(1);
    }
    e.length = ChannelDataBytes(e.status);
    e.data = r.Bytes(e.length);
    runningStatus = e.status;
    return r.Ok();
}

uint32_t PackedBytes(const ImageEvent& e, const ConversionOptions& options) {
    const uint64_t bytes = PackedEventBytes(e.status, e.type, e.length, options);
    return bytes > UINT32_MAX ? UINT32_MAX : uint32_t(bytes);
}

// A merged track's end as DropEndsOfTrack plays it out (see MergeOrder.h). The scan kept the last
// few events; a track that loses more than those is read again for twice as many.
class TrackEnds {
public:
    TrackEnds() {}
    TrackEnds(const TrackEnds&) = delete;
    TrackEnds& operator=(const TrackEnds&) = delete;
    ~TrackEnds() { delete[] deep; }

    void Take(const TrackScan& track, const ConversionOptions& conversion) {
        scan = &track;
        options = &conversion;
        kept = track.count;
        from =
            track.count - (track.count < TrackScan::TailSize ? track.count : TrackScan::TailSize);
    }
    bool Empty() const { return kept == 0; }
    uint32_t LastTick() const { return End(kept - 1).tick; }
    uint32_t LastKey() const { return End(kept - 1).key; }
    void DropLast() {
        dropped += End(kept - 1).packed;
        --kept;
        if (kept > 0 && kept - 1 < from) Deepen();
    }

    uint32_t kept = 0;
    uint64_t dropped = 0;  // the packed bytes of the events dropped
    bool failed = false;   // memory ran out, or the bytes changed: kept is 0

private:
    const EventEnd& End(uint32_t n) const { return deep ? deep[n % depth] : scan->End(n); }
    void Deepen();

    const TrackScan* scan = nullptr;
    const ConversionOptions* options = nullptr;
    uint32_t from = 0;  // the first event whose end is at hand
    EventEnd* deep = nullptr;
    uint32_t depth = 0;  // the ends in deep, event n at n % depth
};

void TrackEnds::Deepen() {
    const uint32_t count = scan->count;
    const uint32_t more = 2 * (count - from) > 64 ? 2 * (count - from) : 64;
    const uint32_t ends = more < count ? more : count;
    EventEnd* const ring = new (std::nothrow) EventEnd[ends];
    ByteReader r(scan->begin, scan->bytes);
    uint8_t status = 0;
    uint32_t tick = 0, key = 0;
    const uint32_t stored = count - (scan->endAdded ? 1 : 0);
    bool read = ring != nullptr;
    for (uint32_t n = 0; n < stored && read; ++n) {
        ImageEvent e{};
        read = NextEvent(r, status, tick, e);
        if (!read) break;
        if (tick > key) key = tick;
        EventEnd& end = ring[n % ends];
        end.tick = tick;
        end.key = key;
        end.packed = PackedBytes(e, *options);
    }
    if (!read) {
        delete[] ring;
        failed = true;
        kept = 0;
        return;
    }
    if (scan->endAdded) {  // at the tick of the track's last event
        EventEnd& end = ring[(count - 1) % ends];
        end.tick = tick;
        end.key = key;
        end.packed = 0;
    }
    delete[] deep;
    deep = ring;
    depth = ends;
    from = count - ends;
}

// Takes apart the long events of a merge from the image: each is whole there.
class ImageEvents : public EventViewer {
public:
    explicit ImageEvents(const uint8_t* end) : end(end) {}
    bool View(const MergedEvent& event, EventView& view) const override {
        const uint8_t* const at = static_cast<const uint8_t*>(event.source);
        ByteReader r(at, uint32_t(end - at));
        return ReadLongEvent(r, view);
    }

private:
    const uint8_t* const end;
};

}  // namespace

// The walk over the kept events of each merged track, read from the image (see MergeOrder.h).
// Meta events other than a tempo are not encoded: the cursor reads past them, their ticks still
// raise the key, and never stands on one.
static_assert(offsetof(MergedEvent, size) == offsetof(MergedEvent, bytes) + 3,
              "a merged event's bytes and size make one word");

struct StreamPlan::Walk {
    struct Cursor {
        const uint8_t* at;     // the next event's bytes
        const uint8_t* event;  // the current event's status byte, when it is handed on whole
        uint32_t key;
        uint32_t left;       // 1 while the cursor stands on an event
        uint32_t remaining;  // events after it still to read
        uint32_t tick;
        // MergedEvent's bytes and size as they lie in memory: put together in a register and
        // stored at once, since a merge reads them back at once.
        uint32_t message;
        uint8_t status;  // the running status
    };

    explicit Walk(const TrackPlan* tracks) : tracks(tracks) {}

    void Start(uint32_t t, Cursor& c) const {
        c = Cursor();
        c.at = tracks[t].begin;
        c.remaining = tracks[t].readable;
        Advance(t, c);
    }
    [[gnu::always_inline]] bool Advance(uint32_t t, Cursor& c) const {
        ByteReader r(c.at, uint32_t(tracks[t].end - c.at));
        ImageEvent e{};
        while (c.remaining) {
            --c.remaining;
            if (!NextEvent(r, c.status, c.tick, e)) {
                broken = true;
                break;
            }
            if (c.tick > c.key) c.key = c.tick;
            if (e.status < 0xF0) {
                const uint32_t second = e.length > 1 ? e.data[1] : 0;
                c.message = Message(e.status, e.data[0], second, 1 + e.length);
                c.event = nullptr;
            } else if (e.status != 0xFF || (e.type == 0x51 && e.length == 3)) {
                c.message = Message(e.status, 0, 0, 0);  // taken apart by ImageEvents
                c.event = e.at;
            } else {
                continue;
            }
            c.at = r.Position();
            c.left = 1;
            return true;
        }
        c.left = 0;
        return false;
    }
    void Emit(const Cursor& c, MergedEvent& merged) const {
        merged.source = c.event;
        merged.tick = c.tick;
        std::memcpy(merged.bytes, &c.message, 4);
    }
    static uint32_t Message(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t size) {
        const uint8_t bytes[4] = {uint8_t(b0), uint8_t(b1), uint8_t(b2), uint8_t(size)};
        uint32_t message;
        std::memcpy(&message, bytes, 4);
        return message;
    }
    // A track's bytes are read in order, a few at a time: the next ones are asked for early.
    void Prefetch(const Cursor& c) const { __builtin_prefetch(c.at + 256); }
    uint32_t Kept(uint32_t t) const { return tracks[t].kept; }
    uint32_t FirstKey(uint32_t t) const { return tracks[t].firstKey; }
    uint32_t LastKey(uint32_t t) const { return tracks[t].lastKey; }

    const TrackPlan* const tracks;
    mutable bool broken = false;  // bytes that are not as the scan read them
};

StreamPlan::StreamPlan(const ConversionRequest& request)
    : request(request), scan(request.options) {}

StreamPlan::~StreamPlan() {
    delete[] tracks;
}

ConversionStatus StreamPlan::Read(SmfReading& reading) {
    reading = SmfReading();
    SmfReader reader(request.mode);
    const bool read = reader.Scan(request.image, request.size, scan, true);
    reading.mends = reader.Mends();
    Notify(request.observer, ConversionStep::Parsed);
    if (!read) {
        if (reader.OutOfMemory()) return ConversionStatus::OutOfMemory;
        reading.fault = reader.Fault();
        if (request.mode == SmfReadMode::Strict) {
            scan.Reset();
            // Everything that refuses a file comes before the merge, so the lenient plan's reading
            // tells whether the lenient conversion succeeds. Without memory to find out, a hint
            // left out would say that it does not.
            ConversionRequest lenient = request;
            lenient.mode = SmfReadMode::Lenient;
            lenient.observer = nullptr;
            StreamPlan plan(lenient);
            SmfReading found;
            const ConversionStatus status = plan.Read(found);
            if (status == ConversionStatus::OutOfMemory) return status;
            reading.lenientConverts =
                status == ConversionStatus::Ok && plan.LeastFileBytes() <= UINT32_MAX;
        }
        return ConversionStatus::NotSmf;
    }
    if (!IsConvertible(scan.Format(), scan.TrackCount())) {
        reading.fault = UnconvertibleFault(scan.Format(), reader.HeaderOffset());
        return ConversionStatus::NotSmf;
    }
    // Of a format 0 file only the first track is converted, whatever follows it.
    k = scan.Format() == 1 ? scan.TrackCount() : 1;
    std::unique_ptr<TrackEnds[]> ends(new (std::nothrow) TrackEnds[k]);
    tracks = new (std::nothrow) TrackPlan[k];
    if (!ends || !tracks) return ConversionStatus::OutOfMemory;
    for (uint32_t t = 0; t < k; ++t) ends[t].Take(scan.Track(t), request.options);
    if (k >= 2) {
        LastEventHeap lastEvents;
        if (!lastEvents.Reserve(k)) return ConversionStatus::OutOfMemory;
        DropEndsOfTrack(ends.get(), k, lastEvents);
    }
    for (uint32_t t = 0; t < k; ++t) {
        const TrackScan& track = scan.Track(t);
        const TrackEnds& end = ends[t];
        if (end.failed) return ConversionStatus::OutOfMemory;
        if (track.firstTooLarge < end.kept) return ConversionStatus::EventTooLarge;
        packed += track.packed - end.dropped;
        const uint32_t stored = track.count - (track.endAdded ? 1 : 0);
        tracks[t] = {track.begin,     track.begin + track.bytes,
                     end.kept,        end.kept < stored ? end.kept : stored,
                     track.firstTick, end.kept ? end.LastKey() : 0};
    }
    ends.reset();
    scan.ReleaseTracks();
    return ConversionStatus::Ok;
}

uint64_t StreamPlan::LeastFileBytes() const {
    const uint64_t limit = request.options.maxBufferBytes;
    const uint64_t blocks = packed ? (packed + limit - 1) / limit : 1;
    return MdsHeaderBytes + MdsBlockHeadBytes * blocks + packed +
           MdsListBytes(Title().length, Copyright().length);
}

ConversionStatus StreamPlan::Encode(BlockSink& sink, uint32_t& events) {
    Notify(request.observer, ConversionStep::Merged);
    const ImageEvents viewer(request.image + request.size);
    StreamEncoder encoder(request.options, sink, viewer);
    BuildResult built = encoder.Start();
    auto encode = [&](const MergedEvent* merged, uint32_t count) {
        built = encoder.Add(merged, count);
        return built == BuildResult::Ok;
    };
    const Walk walk(tracks);
    bool bookkeeping = true;
    if (built == BuildResult::Ok && k == 1) {
        Walk::Cursor c;
        walk.Start(0, c);
        Batches<Walk, decltype(encode)> out(walk, encode);
        while (c.left && out.Add(c)) walk.Advance(0, c);
        if (built == BuildResult::Ok) out.Flush();
    } else if (built == BuildResult::Ok) {
        // The windows are only an offer: without memory for them the tree merges.
        std::unique_ptr<Walk::Cursor[]> cursors(new (std::nothrow) Walk::Cursor[k]);
        WindowMerge<Walk> windows;
        LoserTree tree;
        if (!cursors)
            bookkeeping = false;
        else if (windows.Take(walk, k))
            windows.Run(walk, k, cursors.get(), encode);
        else if (tree.Reserve(k))
            EmitByTree(walk, k, tree, cursors.get(), encode);
        else
            bookkeeping = false;
    }
    if (built == BuildResult::Ok && bookkeeping && !walk.broken) built = encoder.Finish();
    events = encoder.Events();
    Notify(request.observer, ConversionStep::Encoded);
    if (walk.broken) return ConversionStatus::NotSmf;
    if (!bookkeeping) return ConversionStatus::OutOfMemory;
    switch (built) {
        case BuildResult::Ok:
            return ConversionStatus::Ok;
        case BuildResult::EventTooLarge:
            return ConversionStatus::EventTooLarge;
        case BuildResult::OutOfMemory:
            break;
    }
    return ConversionStatus::OutOfMemory;
}
