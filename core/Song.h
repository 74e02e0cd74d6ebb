// Song.h: a parsed Standard MIDI File in memory: tracks of events with absolute ticks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/ByteBuffer.h"
#include "core/Bytes.h"
#include "core/EventPool.h"
#include "core/MergedEvent.h"

// The bytes of an event, with ByteBuffer's operations and its exact sizes as its users see them.
// Up to three bytes (a channel message, an End of Track) live in the node itself. Longer ones live
// in a ByteBuffer: in a record of the song's pool for an event of a song, on the heap for an event
// of no song. The object's other 8 bytes are the event's links while it is in a track; an event of
// no song is in no list, and keeps there the pointer to its heap buffer.
class EventBytes final {
public:
    static constexpr uint32_t InlineBytes = 3;

    EventBytes() {}
    // A copy belongs to no song; it holds exactly other.Size() bytes, or none if memory runs out.
    EventBytes(const EventBytes& other);
    // Copies the bytes only: the event stays where it is.
    EventBytes& operator=(const EventBytes& other);
    ~EventBytes() {
        if (tag & Long) Release();
    }

    // False only when memory runs out; the bytes are then unchanged.
    bool Resize(uint32_t n);
    // Resize and copy n bytes in; false when memory runs out, leaving the bytes empty.
    bool Assign(const uint8_t* src, uint32_t n);
    // Assign of status followed by the n bytes at following (an event as the reader stores it).
    bool AssignEvent(uint8_t status, const uint8_t* following, uint32_t n) {
        if (n >= InlineBytes || (tag & ~Pooled) != 0)
            return AssignEventSlowly(status, following, n);
        // The common case, a channel message into a fresh event: no call, no allocation.
        word[0] = status;
        if (n > 0) word[1] = following[0];
        if (n > 1) word[2] = following[1];
        SetInline(n + 1, n + 1);
        return true;
    }
    void Clear() { Release(); }

    uint8_t* Data() { return tag & Long ? LongBytes().Data() : word; }
    const uint8_t* Data() const { return tag & Long ? LongBytes().Data() : word; }
    uint32_t Size() const { return tag & Long ? LongBytes().Size() : tag & SizeMask; }
    uint32_t Capacity() const {
        return tag & Long ? LongBytes().Capacity() : (tag >> CapacityShift) & SizeMask;
    }
    bool Empty() const { return Size() == 0; }
    uint8_t& operator[](uint32_t i) { return Data()[i]; }
    uint8_t operator[](uint32_t i) const { return Data()[i]; }

private:
    friend class MidiEvent;
    friend class Track;
    friend struct EventLinks;
    static constexpr uint8_t Long = 0x80;    // the bytes live in a ByteBuffer
    static constexpr uint8_t Pooled = 0x40;  // the node is a slot of a song's pool
    static constexpr uint8_t SizeMask = 3;   // inline: the size, and the capacity above it
    static constexpr uint8_t CapacityShift = 2;
    static constexpr int PrevLink = 0;
    static constexpr int NextLink = 1;
    struct PooledNode {};

    explicit EventBytes(PooledNode) : tag(Pooled) {}
    void SetInline(uint32_t size, uint32_t capacity) {
        tag = uint8_t((tag & Pooled) | size | capacity << CapacityShift);
    }
    // A record's handle fills the three bytes and the tag's low six bits.
    uint32_t RecordHandle() const {
        return uint32_t(tag & 0x3F) << 24 | uint32_t(word[2]) << 16 | uint32_t(word[1]) << 8 |
               word[0];
    }
    ByteBuffer* HeapBuffer() const {
        ByteBuffer* buffer;
        std::memcpy(&buffer, link, sizeof buffer);
        return buffer;
    }
    ByteBuffer& LongBytes() const {
        return tag & Pooled ? EventPool::Of(this).Record(RecordHandle()) : *HeapBuffer();
    }
    void Release();
    bool AssignEventSlowly(uint8_t status, const uint8_t* following, uint32_t n);

    uint8_t word[InlineBytes] = {};  // the bytes, or a record's handle
    uint8_t tag = 0;
    uint32_t link[2] = {};  // handles of the previous and the next event; or the heap buffer
};

static_assert(sizeof(void*) <= 2 * sizeof(uint32_t), "a heap buffer's pointer fits the links");
static_assert(sizeof(EventBytes) == 12, "an event's bytes and links stay small");

// One event: its complete bytes, status byte first (also where the file used running status),
// and its absolute tick. Events live in the doubly linked list of the track that owns them.
class MidiEvent final {
public:
    EventBytes bytes;
    uint32_t tick = 0;

    MidiEvent() {}
    // A copy of the bytes and the tick, in no track.
    MidiEvent(const MidiEvent& other) : bytes(other.bytes), tick(other.tick) {}
    // The bytes and the tick only: the event keeps its place.
    MidiEvent& operator=(const MidiEvent& other) {
        bytes = other.bytes;
        tick = other.tick;
        return *this;
    }

    MidiEvent* Next() const { return Linked(bytes.link[EventBytes::NextLink]); }
    MidiEvent* Prev() const { return Linked(bytes.link[EventBytes::PrevLink]); }
    // The event taken apart; false when its bytes are not an event's layout.
    bool View(EventView& view) const { return ViewEvent(bytes.Data(), bytes.Size(), view); }

private:
    friend class Track;
    explicit MidiEvent(EventBytes::PooledNode node) : bytes(node) {}
    MidiEvent* Linked(uint32_t handle) const {
        if (!(bytes.tag & EventBytes::Pooled) || handle == EventPool::NoHandle) return nullptr;
        return static_cast<MidiEvent*>(EventPool::Of(this).Slot(handle));
    }
};

// Millions of events make up a dense song: each fills one slot of the pool.
static_assert(sizeof(MidiEvent) == EventPool::SlotBytes, "an event fills a slot exactly");

// Events in file order after reading, in time order after merging. A track belongs to a Song,
// which supplies the memory of its events; Song::AppendTrack makes them.
class Track final {
public:
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    // Places a copy of event after all others (its bytes exactly as long as the event's).
    // False only when memory runs out; the track is then unchanged.
    bool Append(const MidiEvent& event);
    // The same for an event whose bytes are status followed by the n bytes at following.
    bool Append(uint8_t status, const uint8_t* following, uint32_t n, uint32_t tick) {
        const uint32_t handle = pool.NewEventSlot();
        if (handle == EventPool::NoHandle) return false;
        MidiEvent* event = new (pool.Slot(handle)) MidiEvent(EventBytes::PooledNode());
        if (!event->bytes.AssignEvent(status, following, n)) {
            Discard(event, handle);
            return false;
        }
        event->tick = tick;
        LinkLast(event, handle);
        return true;
    }
    // Removes and destroys the last event; nothing when the track is empty.
    void RemoveLast();
    // Moves the events first..last of other (a run in that order) in front of before, or to the end
    // when before is null, without copying them. The tracks must belong to the same song.
    void MoveBefore(MidiEvent* before, Track& other, MidiEvent* first, MidiEvent* last,
                    uint32_t count);

    MidiEvent* First() const { return head; }
    MidiEvent* Last() const { return tail; }
    uint32_t Count() const { return count; }
    bool Empty() const { return count == 0; }
    Track* Next() const { return next; }
    // False while every event's tick is at least the one before it.
    bool TicksMayFall() const { return ticksMayFall; }

private:
    friend class Song;
    friend struct EventLinks;
    explicit Track(EventPool& pool) : pool(pool) {}
    ~Track();
    void LinkLast(MidiEvent* event, uint32_t handle) {
        if (tail) {
            if (event->tick < tail->tick) ticksMayFall = true;
            event->bytes.link[EventBytes::PrevLink] = EventPool::HandleOf(tail);
            tail->bytes.link[EventBytes::NextLink] = handle;
        } else {
            head = event;
        }
        tail = event;
        ++count;
    }
    void Discard(MidiEvent* event, uint32_t handle);
    static void SetNext(MidiEvent* event, const MidiEvent* next);
    static void SetPrev(MidiEvent* event, const MidiEvent* prev);

    EventPool& pool;
    MidiEvent* head = nullptr;
    MidiEvent* tail = nullptr;
    uint32_t count = 0;
    // Whether some event may have a smaller tick than the one before it (a tick that wrapped at
    // 2^32, or a run moved in). Ticks are set before an event is appended and never changed in a
    // track, so while this is false the merge can skip looking for falling ticks.
    bool ticksMayFall = false;
    Track* prev = nullptr;
    Track* next = nullptr;
};

// The links of events as handles, and the pool they name, for the walks over millions of events
// (the merge, the encoder) that resolve handles through the pool they already hold rather than
// through each event's page.
struct EventLinks {
    static uint32_t& Next(MidiEvent& e) { return e.bytes.link[EventBytes::NextLink]; }
    static uint32_t& Prev(MidiEvent& e) { return e.bytes.link[EventBytes::PrevLink]; }
    static uint32_t Next(const MidiEvent& e) { return e.bytes.link[EventBytes::NextLink]; }
    static EventPool& PoolOf(const Track& track) { return track.pool; }
    static MidiEvent& At(const EventPool& pool, uint32_t handle) {
        return *static_cast<MidiEvent*>(pool.Slot(handle));
    }
    // Fills merged in place, field by field: an event put together on the stack and copied whole
    // stalls on every event of a merge.
    static void Merge(MergedEvent& merged, const MidiEvent& e) {
        merged.source = &e;
        merged.tick = e.tick;
        std::memcpy(merged.bytes, e.bytes.word, sizeof merged.bytes);
        merged.size = e.bytes.tag & EventBytes::Long ? 0 : e.bytes.tag & EventBytes::SizeMask;
    }
    // The event of handle next that follows e (whose handle is handle). A track as read lies in
    // the pool slot after slot, so the next event is guessed to be the next slot: the walk then
    // does not wait for the link's load before it loads the next event.
    static MidiEvent* After(const EventPool& pool, MidiEvent* e, uint32_t handle, uint32_t next) {
        if (__builtin_expect(next == handle + 1, 1))  // never a page header: the same page
            return reinterpret_cast<MidiEvent*>(reinterpret_cast<char*>(e) + EventPool::SlotBytes);
        return &At(pool, next);
    }
};

// Takes the events of a merge as they come; false stops the merge.
class MergedEventVisitor {
public:
    virtual ~MergedEventVisitor() {}
    virtual bool Events(const MergedEvent* events, uint32_t count) = 0;
};

class Song {
public:
    Song();
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;
    virtual ~Song();

    // Format 0, division 0, no tracks.
    void Reset();
    // Refuses (false, nothing changes) a format above 2.
    bool SetFormat(uint16_t value);
    // Refuses an SMPTE division (bit 15 set) whose frame rate is not -24, -25, -29 or -30.
    bool SetDivision(uint16_t value);
    // The new, empty track after all others; null when memory runs out.
    Track* AppendTrack();

    // The data bytes of the first event of the first track that is the meta event of the given
    // type. False, and out untouched, when there is none (or no track, or no memory for out).
    bool FindFirstTrackMeta(uint8_t type, ByteBuffer& out) const;
    // Sequence/track name, else the first text event, of the first track.
    bool GetTitle(ByteBuffer& out) const;
    bool GetCopyright(ByteBuffer& out) const;
    // Format 1 only: merges every track into the first, by tick, stably, keeping one End of Track
    // (the later one at each pairwise step), then sets format 0. False, and nothing changed, for
    // other formats and when memory for the merge's bookkeeping runs out (format still 1).
    bool MergeToSingleTrack();
    // The same result by the plain pairwise merge, whose cost grows with tracks x events: the
    // definition that tests compare the merge with.
    bool MergeToSingleTrackPairwise();
    // The events of every track in the order MergeToSingleTrack would link them (the End of Track
    // events it drops left out), handed to visitor while the song stays as it is: for a reader of
    // the merged song that needs it once, which saves relinking every event and walking the list
    // again. The format is not looked at. False when memory for the bookkeeping runs out, before
    // the visitor is called.
    bool VisitMerged(MergedEventVisitor& visitor) const;

    uint16_t Format() const { return format; }
    uint16_t Division() const { return division; }
    uint32_t TrackCount() const { return trackCount; }
    Track* FirstTrack() const { return firstTrack; }

private:
    void RemoveTrack(Track* track);
    bool MergeByKeys();

    uint16_t format = 0;
    uint16_t division = 0;
    EventPool* pool = nullptr;
    Track* firstTrack = nullptr;
    Track* lastTrack = nullptr;
    uint32_t trackCount = 0;
};
