// Song.h: a parsed Standard MIDI File in memory: tracks of events with absolute ticks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/ByteBuffer.h"
#include "core/Bytes.h"

class EventPool;

// One event: its complete bytes, status byte first (also where the file used running status),
// and its absolute tick. Events live in the doubly linked list of the track that owns them.
class MidiEvent final {
public:
    ByteBuffer bytes;
    uint32_t tick = 0;

    MidiEvent* Next() const { return next; }
    MidiEvent* Prev() const { return prev; }
    // The event taken apart; false when its bytes are not an event's layout.
    bool View(EventView& view) const { return ViewEvent(bytes.Data(), bytes.Size(), view); }

private:
    friend class Track;
    friend class EventPool;
    friend class Song;
    MidiEvent* prev = nullptr;
    MidiEvent* next = nullptr;
};

// Millions of events make up a dense song: keep each one at its bytes, tick and two links.
static_assert(sizeof(MidiEvent) == sizeof(ByteBuffer) + 4 + 2 * sizeof(MidiEvent*),
              "no padding in an event");

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
    bool Append(uint8_t status, const uint8_t* following, uint32_t n, uint32_t tick);
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

private:
    friend class Song;
    explicit Track(EventPool& pool) : pool(pool) {}
    ~Track();
    void Link(MidiEvent* event, MidiEvent* before);

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
