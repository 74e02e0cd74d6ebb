// Merge.cpp: merging a format 1 song into one track, by the pairwise definition and, for songs of
// any number of tracks, by one stable k-way merge with the same result.
#include <cstring>
#include <memory>
#include <new>

#include "core/EventPool.h"
#include "core/MergeOrder.h"
#include "core/Song.h"

namespace {

// Merges src into dest by tick: on equal ticks dest's events stay first. Of the two last events
// (End of Track in a read song) the earlier one is dropped first, dest's on a tie.
void MergeTracks(Track& dest, Track& src) {
    if (!dest.Empty() && !src.Empty()) {
        if (src.Last()->tick < dest.Last()->tick)
            src.RemoveLast();
        else
            dest.RemoveLast();
    }
    MidiEvent* d = dest.First();
    while (d && !src.Empty()) {
        MidiEvent* s = src.First();
        if (s->tick < d->tick)
            dest.MoveBefore(d, src, s, s, 1);
        else
            d = d->Next();
    }
    if (!src.Empty()) dest.MoveBefore(nullptr, src, src.First(), src.Last(), src.Count());
}

// The keys of one track (see MergeOrder.h) and the events the merge keeps of it.
class TrackKeys {
public:
    TrackKeys() {}
    TrackKeys(const TrackKeys&) = delete;
    TrackKeys& operator=(const TrackKeys&) = delete;
    ~TrackKeys() { delete[] prefixMax; }

    // Only a track whose ticks really go down needs its keys stored, and only one whose ticks
    // may fall is looked at; false when memory runs out.
    bool Take(const Track& t, bool ticksMayFall) {
        track = &t;
        count = t.Count();
        last = t.Last();
        if (!ticksMayFall) return true;
        bool sorted = true;
        for (const MidiEvent* e = t.First(); e && e->Next() && sorted; e = e->Next())
            sorted = e->Next()->tick >= e->tick;
        if (sorted) return true;
        prefixMax = new (std::nothrow) uint32_t[t.Count()];
        if (!prefixMax) return false;
        uint32_t max = 0, n = 0;
        for (const MidiEvent* e = t.First(); e; e = e->Next(), ++n) {
            if (e->tick > max || n == 0) max = e->tick;
            prefixMax[n] = max;
        }
        return true;
    }
    const Track& Of() const { return *track; }
    // The events the merge keeps of the track: all but the End of Track events it drops, which
    // are the last ones.
    uint32_t Count() const { return count; }
    bool Empty() const { return count == 0; }
    uint32_t LastTick() const { return last->tick; }
    void DropLast() {
        last = last->Prev();
        --count;
    }
    // The key of the track's nth event, whose tick is tick.
    uint32_t Key(uint32_t n, uint32_t tick) const { return prefixMax ? prefixMax[n] : tick; }
    uint32_t FirstKey() const { return track->First()->tick; }
    uint32_t LastKey() const { return prefixMax ? prefixMax[count - 1] : last->tick; }

private:
    const Track* track = nullptr;
    uint32_t* prefixMax = nullptr;  // per event, for a track whose ticks go down; else null
    uint32_t count = 0;
    const MidiEvent* last = nullptr;
};

// The song model's walk over the kept events of each track (see MergeOrder.h).
class SongWalk {
public:
    struct Cursor {
        MidiEvent* event;  // the track's next event
        uint32_t handle;   // its handle
        uint32_t key;      // its key
        uint32_t left;     // events still to come, that one included
        uint32_t index;    // of that event in its track
    };

    SongWalk(const TrackKeys* tracks, const EventPool& pool) : tracks(tracks), pool(pool) {}

    void Start(uint32_t t, Cursor& c) const {
        const TrackKeys& track = tracks[t];
        MidiEvent* first = track.Empty() ? nullptr : track.Of().First();
        c = {first, first ? EventPool::HandleOf(first) : EventPool::NoHandle,
             first ? track.FirstKey() : 0, track.Count(), 0};
    }
    bool Advance(uint32_t t, Cursor& c) const {
        if (--c.left == 0) return false;
        const uint32_t next = EventLinks::Next(*c.event);
        c.event = EventLinks::After(pool, c.event, c.handle, next);
        c.handle = next;
        c.key = tracks[t].Key(++c.index, c.event->tick);
        return true;
    }
    void Emit(const Cursor& c, MergedEvent& merged) const { EventLinks::Merge(merged, *c.event); }
    void Prefetch(const Cursor& c) const { PrefetchRunAhead(c.event); }
    uint32_t Kept(uint32_t t) const { return tracks[t].Count(); }
    uint32_t FirstKey(uint32_t t) const { return tracks[t].FirstKey(); }
    uint32_t LastKey(uint32_t t) const { return tracks[t].LastKey(); }

private:
    const TrackKeys* tracks;
    const EventPool& pool;
};

// The bookkeeping of a k-way merge, taken whole before anything happens, so that running out of
// memory changes nothing.
struct MergePlan {
    MergePlan(uint32_t k, const EventPool& pool)
        : k(k),
          tracks(new (std::nothrow) TrackKeys[k]),
          cursors(new (std::nothrow) SongWalk::Cursor[k]),
          walk(tracks.get(), pool) {}
    // The keys of every track and the End of Track events that the merge drops; false when
    // memory runs out.
    bool Take(const Track* first) {
        if (!tracks || !cursors || !lastEvents.Reserve(k) || !tree.Reserve(k)) return false;
        uint32_t i = 0;
        for (const Track* t = first; t; t = t->Next(), ++i)
            if (!tracks[i].Take(*t, t->TicksMayFall())) return false;
        DropEndsOfTrack(tracks.get(), k, lastEvents);
        // The windows are only an offer: without memory for them the tree merges.
        byWindows = windows.Take(walk, k);
        return true;
    }
    // Hands sink(events, count) the kept events in merged order; false when sink stopped it.
    template <class Sink>
    bool Run(Sink&& sink) {
        if (byWindows) return windows.Run(walk, k, cursors.get(), sink);
        return EmitByTree(walk, k, tree, cursors.get(), sink);
    }

    const uint32_t k;
    std::unique_ptr<TrackKeys[]> tracks;
    std::unique_ptr<SongWalk::Cursor[]> cursors;
    const SongWalk walk;
    LastEventHeap lastEvents;
    LoserTree tree;
    WindowMerge<SongWalk> windows;
    bool byWindows = false;
};

}  // namespace

bool Song::MergeToSingleTrack() {
    if (format != 1) return false;
    // Without memory for its bookkeeping the merge changes nothing and says so: a fallback to the
    // pairwise merge would cost tracks x events, minutes for a song of thousands of tracks.
    if (trackCount >= 2 && !MergeByKeys()) return false;
    format = 0;
    return true;
}

bool Song::MergeToSingleTrackPairwise() {
    if (format != 1) return false;
    while (trackCount >= 2) {
        Track* other = firstTrack->Next();
        MergeTracks(*firstTrack, *other);
        RemoveTrack(other);
    }
    format = 0;
    return true;
}

bool Song::MergeByKeys() {
    const uint32_t k = trackCount;
    MergePlan plan(k, *pool);
    if (!plan.Take(firstTrack)) return false;
    bool anyFall = false;
    uint32_t i = 0, total = 0;
    for (Track* t = firstTrack; t; t = t->Next(), ++i) {
        anyFall = anyFall || t->ticksMayFall;
        while (t->Count() > plan.tracks[i].Count()) t->RemoveLast();
        total += t->Count();
    }
    // The events relinked into one list in the order of (key, track).
    MidiEvent* head = nullptr;
    MidiEvent* tail = nullptr;
    uint32_t tailHandle = EventPool::NoHandle;
    plan.Run([&](const MergedEvent* events, uint32_t count) {
        for (uint32_t n = 0; n < count; ++n) {
            MidiEvent& e = *static_cast<MidiEvent*>(
                const_cast<void*>(events[n].source));  // the song is ours here
            const uint32_t handle = EventPool::HandleOf(&e);
            EventLinks::Prev(e) = tailHandle;
            if (tail)
                EventLinks::Next(*tail) = handle;
            else
                head = &e;
            tail = &e;
            tailHandle = handle;
        }
        return true;
    });
    if (tail) EventLinks::Next(*tail) = EventPool::NoHandle;
    Track& dest = *firstTrack;
    for (Track* t = dest.Next(); t; t = t->Next()) t->head = t->tail = nullptr, t->count = 0;
    dest.head = head;
    dest.tail = tail;
    dest.count = total;
    dest.ticksMayFall = anyFall;  // merged by running maximum, sorted tracks stay sorted
    while (trackCount >= 2) RemoveTrack(dest.Next());
    return true;
}

bool Song::VisitMerged(MergedEventVisitor& visitor) const {
    if (trackCount == 0) return true;
    MergePlan plan(trackCount, *pool);
    if (!plan.Take(firstTrack)) return false;
    plan.Run(
        [&](const MergedEvent* events, uint32_t count) { return visitor.Events(events, count); });
    return true;
}
