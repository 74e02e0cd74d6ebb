// Merge.cpp: merging a format 1 song into one track, by the pairwise definition and, for songs of
// any number of tracks, by one stable k-way merge with the same result.
#include <cstring>
#include <memory>
#include <new>

#include "core/EventPool.h"
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

// A pairwise merge of sequences that need not be sorted (ticks wrap at 2^32) behaves exactly like
// a merge of sorted sequences in which every event's key is the largest tick of its own track up
// to and including it. So the whole chain of pairwise merges is one stable k-way merge by
// (key, track number), once the End of Track removals of every step have been played out.
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
    const MidiEvent* Last() const { return last; }
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

// Which track holds the merged track's last event: a lazy max-heap of (key of its last event,
// track), the later track first on equal keys. An entry whose track lost its last event since it
// was pushed is stale and skipped. Each track enters once and again after each of fewer than k
// removals, so 2k entries suffice.
class LastEventHeap {
public:
    bool Reserve(uint32_t tracks) {
        track.reset(new (std::nothrow) uint32_t[2 * size_t(tracks)]);
        key.reset(new (std::nothrow) uint32_t[2 * size_t(tracks)]);
        return track && key;
    }

    void Push(uint32_t t, uint32_t k) {
        uint32_t pos = size++;
        while (pos > 0) {
            const uint32_t parent = (pos - 1) / 2;
            if (!Later(k, t, key[parent], track[parent])) break;
            Put(pos, track[parent], key[parent]);
            pos = parent;
        }
        Put(pos, t, k);
    }

    // The track holding the merged last event, or -1 when every track is empty.
    int64_t Top(const TrackKeys* tracks) {
        while (size) {
            const TrackKeys& t = tracks[track[0]];
            if (!t.Empty() && t.LastKey() == key[0]) return track[0];
            Pop();
        }
        return -1;
    }

private:
    static bool Later(uint32_t keyA, uint32_t a, uint32_t keyB, uint32_t b) {
        return keyA != keyB ? keyA > keyB : a > b;
    }
    void Put(uint32_t pos, uint32_t t, uint32_t k) {
        track[pos] = t;
        key[pos] = k;
    }
    void Pop() {
        const uint32_t t = track[--size], k = key[size];
        uint32_t pos = 0;
        for (;;) {
            uint32_t child = 2 * pos + 1;
            if (child >= size) break;
            if (child + 1 < size &&
                Later(key[child + 1], track[child + 1], key[child], track[child]))
                ++child;
            if (!Later(key[child], track[child], k, t)) break;
            Put(pos, track[child], key[child]);
            pos = child;
        }
        if (size) Put(pos, t, k);
    }

    std::unique_ptr<uint32_t[]> track;
    std::unique_ptr<uint32_t[]> key;
    uint32_t size = 0;
};

// A loser tree over k tracks whose entries are (running maximum tick << 32 | track): one integer
// comparison orders by key and then by track, and a replay is branch-free. Keys only grow along a
// track, so a track's new entry is replayed up from its leaf.
class LoserTree {
public:
    static constexpr uint64_t Exhausted = ~uint64_t(0);
    static uint64_t Entry(uint32_t key, uint32_t track) { return uint64_t(key) << 32 | track; }

    bool Reserve(uint32_t k) {
        leaves = k;
        losers.reset(new (std::nothrow) uint64_t[k]);
        winners.reset(new (std::nothrow) uint64_t[2 * size_t(k)]);
        return losers && winners;
    }
    void SetLeaf(uint32_t track, uint64_t entry) { winners[leaves + track] = entry; }
    // Plays every match once the leaves are set; returns the overall winner.
    uint64_t Build() {
        for (uint32_t node = leaves - 1; node >= 1; --node) {
            const uint64_t a = winners[2 * node], b = winners[2 * node + 1];
            losers[node] = a < b ? b : a;
            winners[node] = a < b ? a : b;
        }
        return winners[1];
    }
    // The track's next entry after its last one won; returns the new overall winner.
    uint64_t Replay(uint32_t track, uint64_t entry) {
        for (uint32_t node = (leaves + track) / 2; node >= 1; node /= 2) {
            const uint64_t l = losers[node];
            losers[node] = l < entry ? entry : l;
            entry = l < entry ? l : entry;
        }
        return entry;
    }

private:
    uint32_t leaves = 0;
    std::unique_ptr<uint64_t[]> losers;   // [1, k): the loser of each match
    std::unique_ptr<uint64_t[]> winners;  // [1, 2k): each match's winner, the leaves at [k, 2k)
};

// Plays out, step by step, which End of Track each pairwise merge would drop; the tracks' keys
// are left without them, the tracks themselves untouched.
void DropEndsOfTrack(TrackKeys* tracks, uint32_t k, LastEventHeap& lastEvents) {
    if (!tracks[0].Empty()) lastEvents.Push(0, tracks[0].LastKey());
    for (uint32_t s = 1; s < k; ++s) {
        TrackKeys& src = tracks[s];
        const int64_t d = lastEvents.Top(tracks);
        if (d >= 0 && !src.Empty()) {
            TrackKeys& destLast = tracks[d];
            if (src.Last()->tick < destLast.Last()->tick) {
                src.DropLast();
            } else {
                destLast.DropLast();
                if (!destLast.Empty()) lastEvents.Push(uint32_t(d), destLast.LastKey());
            }
        }
        if (!src.Empty()) lastEvents.Push(s, src.LastKey());
    }
}

struct Cursor {
    MidiEvent* event;  // the track's next event
    uint32_t handle;   // its handle
    uint32_t key;      // its key
    uint32_t left;     // events still to come, that one included
    uint32_t index;    // of that event in its track
};

// Sets every track's cursor on its first kept event.
void StartCursors(const TrackKeys* tracks, uint32_t k, Cursor* cursors) {
    for (uint32_t t = 0; t < k; ++t) {
        const TrackKeys& track = tracks[t];
        MidiEvent* first = track.Empty() ? nullptr : track.Of().First();
        cursors[t] = {first, first ? EventPool::HandleOf(first) : EventPool::NoHandle,
                      first ? track.FirstKey() : 0, track.Count(), 0};
    }
}

// Moves a cursor on to its track's next event; false when the track has no more.
inline bool Advance(const TrackKeys& track, Cursor& c, const EventPool& pool) {
    if (--c.left == 0) return false;
    const uint32_t next = EventLinks::Next(*c.event);
    c.event = EventLinks::After(pool, c.event, c.handle, next);
    c.handle = next;
    c.key = track.Key(++c.index, c.event->tick);
    return true;
}

// Collects events into batches for a sink that takes them in arrays.
template <class Sink>
class Batches {
public:
    explicit Batches(Sink& sink) : sink(sink) {}
    bool Add(const MidiEvent& e) {
        EventLinks::Merge(items[n++], e);
        if (n < Size) return true;
        n = 0;
        return sink(items, Size);
    }
    bool Flush() { return n == 0 || sink(items, n); }

private:
    static constexpr uint32_t Size = 256;
    Sink& sink;
    MergedEvent items[Size];
    uint32_t n = 0;
};

// Hands sink(events, count) the kept events in the order of (key, track) from a loser tree: about
// log2(k) steps per change of key. Stops when sink is false.
template <class Sink>
bool EmitByTree(const TrackKeys* tracks, uint32_t k, LoserTree& tree, Cursor* cursors,
                const EventPool& pool, Sink& sink) {
    StartCursors(tracks, k, cursors);
    for (uint32_t t = 0; t < k; ++t)
        tree.SetLeaf(
            t, tracks[t].Empty() ? LoserTree::Exhausted : LoserTree::Entry(cursors[t].key, t));
    Batches<Sink> out(sink);
    uint64_t winner = tree.Build();
    while (winner != LoserTree::Exhausted) {
        const uint32_t t = uint32_t(winner);
        Cursor& c = cursors[t];
        if (!out.Add(*c.event)) return false;
        const uint32_t key = c.key;
        uint64_t entry = LoserTree::Exhausted;
        if (Advance(tracks[t], c, pool)) {
            // A track's events mostly lie one after another in the pool, and the track comes
            // round again only after the others have given theirs: fetch well ahead along it.
            PrefetchRunAhead(c.event);
            // A chord or a burst of controllers: the same key from the same track still beats
            // every other entry, so it needs no replay.
            if (c.key == key) continue;
            entry = LoserTree::Entry(c.key, t);
        }
        winner = tree.Replay(t, entry);
    }
    return out.Flush();
}

// The same order by counting, a window of keys at a time: the events of every track whose keys
// fall into the window are gathered, track after track, each track's run read in memory order,
// and sorted by key stably, which keeps track order and file order within a key. A few steps per
// event whatever k is, and memory for one window; worth it while there are no more keys than
// events, so that the counting does not cost more than the events.
class WindowMerge {
public:
    // Whether the kept events of tracks suit it, and then its memory; false otherwise.
    bool Take(const TrackKeys* tracks, uint32_t k) {
        uint64_t events = 0;
        for (uint32_t t = 0; t < k; ++t) {
            if (tracks[t].Empty()) continue;
            events += tracks[t].Count();
            if (tracks[t].FirstKey() < lowest) lowest = tracks[t].FirstKey();
            if (tracks[t].LastKey() > highest) highest = tracks[t].LastKey();
        }
        if (events == 0) return false;
        const uint64_t keys = uint64_t(highest) - lowest + 1;
        if (keys > events) return false;
        // About half a window's room is filled on average: as much as a level-2 cache holds, or
        // a few events of every track when there are many; never more than the whole song.
        const uint64_t room = 2 * uint64_t(k) > 16384 ? 2 * uint64_t(k) : 16384;
        capacity = uint32_t(events < room ? events : room);
        span = uint32_t(uint64_t(capacity / 2) * keys / events);
        if (span == 0) span = 1;
        gathered.reset(new (std::nothrow) MergedEvent[capacity]);
        sorted.reset(new (std::nothrow) MergedEvent[capacity]);
        offsets.reset(new (std::nothrow) uint32_t[capacity]);
        counts.reset(new (std::nothrow) uint32_t[size_t(capacity) + 1]);
        saved.reset(new (std::nothrow) Cursor[k]);
        if (gathered && sorted && offsets && counts && saved) return true;
        gathered.reset(), sorted.reset(), offsets.reset(), counts.reset(), saved.reset();
        return false;
    }

    template <class Sink>
    bool Run(const TrackKeys* tracks, uint32_t k, Cursor* cursors, const EventPool& pool,
             Sink& sink) {
        StartCursors(tracks, k, cursors);
        uint64_t low = lowest;
        while (low <= highest) {
            const uint64_t high = low + span;  // the window is [low, high)
            std::memcpy(saved.get(), cursors, k * sizeof(Cursor));
            uint32_t n = 0;
            bool full = false;
            for (uint32_t t = 0; t < k && !full; ++t) {
                Cursor& c = cursors[t];
                while (c.left && c.key < high) {
                    if (n == capacity) {
                        full = true;
                        break;
                    }
                    // The track's run is read in memory order, a few lines per window: the
                    // lines of its next window are on their way before it comes round again.
                    PrefetchRunAhead(c.event);
                    EventLinks::Merge(gathered[n], *c.event);
                    offsets[n++] = uint32_t(c.key - low);
                    if (!Advance(tracks[t], c, pool)) c.left = 0;
                }
            }
            if (full) {
                // More events than room: the window shrinks and is gathered again, down to a
                // single key, whose events need no sorting at all.
                std::memcpy(cursors, saved.get(), k * sizeof(Cursor));
                if (span > 1) {
                    span /= 2;
                    continue;
                }
                if (!EmitOneKey(tracks, k, cursors, pool, uint32_t(low), sink)) return false;
                low = high;
                continue;
            }
            std::memset(counts.get(), 0, (size_t(span) + 1) * sizeof(uint32_t));
            for (uint32_t i = 0; i < n; ++i) ++counts[offsets[i] + 1];
            for (uint32_t key = 1; key <= span; ++key) counts[key] += counts[key - 1];
            for (uint32_t i = 0; i < n; ++i) sorted[counts[offsets[i]]++] = gathered[i];
            if (n && !sink(sorted.get(), n)) return false;
            low = high;
            // A sparse stretch of the song: wider windows, as long as they fill half the room.
            if (n < capacity / 4 && span <= capacity / 2) span *= 2;
        }
        return true;
    }

private:
    template <class Sink>
    static bool EmitOneKey(const TrackKeys* tracks, uint32_t k, Cursor* cursors,
                           const EventPool& pool, uint32_t key, Sink& sink) {
        Batches<Sink> out(sink);
        for (uint32_t t = 0; t < k; ++t) {
            Cursor& c = cursors[t];
            while (c.left && c.key == key) {
                if (!out.Add(*c.event)) return false;
                if (!Advance(tracks[t], c, pool)) c.left = 0;
            }
        }
        return out.Flush();
    }

    uint32_t lowest = UINT32_MAX;
    uint32_t highest = 0;
    uint32_t capacity = 0;
    uint32_t span = 1;
    std::unique_ptr<MergedEvent[]> gathered;
    std::unique_ptr<MergedEvent[]> sorted;
    std::unique_ptr<uint32_t[]> offsets;  // of each gathered event's key in the window
    std::unique_ptr<uint32_t[]> counts;
    std::unique_ptr<Cursor[]> saved;  // the cursors where the window began
};

// The bookkeeping of a k-way merge, taken whole before anything happens, so that running out of
// memory changes nothing.
struct MergePlan {
    explicit MergePlan(uint32_t k)
        : k(k), tracks(new (std::nothrow) TrackKeys[k]), cursors(new (std::nothrow) Cursor[k]) {}
    // The keys of every track and the End of Track events that the merge drops; false when
    // memory runs out.
    bool Take(const Track* first) {
        if (!tracks || !cursors || !lastEvents.Reserve(k) || !tree.Reserve(k)) return false;
        uint32_t i = 0;
        for (const Track* t = first; t; t = t->Next(), ++i)
            if (!tracks[i].Take(*t, t->TicksMayFall())) return false;
        DropEndsOfTrack(tracks.get(), k, lastEvents);
        // The windows are only an offer: without memory for them the tree merges.
        byWindows = windows.Take(tracks.get(), k);
        return true;
    }
    // Hands sink(events, count) the kept events in merged order; false when sink stopped it.
    template <class Sink>
    bool Run(const EventPool& pool, Sink&& sink) {
        if (byWindows) return windows.Run(tracks.get(), k, cursors.get(), pool, sink);
        return EmitByTree(tracks.get(), k, tree, cursors.get(), pool, sink);
    }

    const uint32_t k;
    std::unique_ptr<TrackKeys[]> tracks;
    std::unique_ptr<Cursor[]> cursors;
    LastEventHeap lastEvents;
    LoserTree tree;
    WindowMerge windows;
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
    MergePlan plan(k);
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
    plan.Run(*pool, [&](const MergedEvent* events, uint32_t count) {
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
    MergePlan plan(trackCount);
    if (!plan.Take(firstTrack)) return false;
    plan.Run(*pool, [&](const MergedEvent* events, uint32_t count) {
        return visitor.Events(events, count);
    });
    return true;
}
