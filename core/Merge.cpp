// Merge.cpp: merging a format 1 song into one track, by the pairwise definition and, for songs of
// any number of tracks, by one stable k-way merge with the same result.
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
    bool Take(Track& t, bool ticksMayFall) {
        track = &t;
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
    Track& Of() const { return *track; }
    uint32_t LastKey() const {
        return prefixMax ? prefixMax[track->Count() - 1] : track->Last()->tick;
    }

private:
    Track* track = nullptr;
    uint32_t* prefixMax = nullptr;  // per event, for a track whose ticks go down; else null
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
            if (!t.Of().Empty() && t.LastKey() == key[0]) return track[0];
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
    // All the bookkeeping is taken before the first event moves, so running out of memory leaves
    // the song as it was.
    std::unique_ptr<TrackKeys[]> tracks(new (std::nothrow) TrackKeys[k]);
    struct Cursor {
        MidiEvent* next;
        uint32_t key;
    };
    std::unique_ptr<Cursor[]> cursors(new (std::nothrow) Cursor[k]);
    LastEventHeap lastEvents;
    LoserTree tree;
    if (!tracks || !cursors || !lastEvents.Reserve(k) || !tree.Reserve(k)) return false;
    bool anyFall = false;
    uint32_t i = 0;
    for (Track* t = firstTrack; t; t = t->Next(), ++i) {
        anyFall = anyFall || t->ticksMayFall;
        if (!tracks[i].Take(*t, t->ticksMayFall)) return false;
    }

    // Removal phase: play out, step by step, which End of Track each pairwise merge would drop.
    if (!tracks[0].Of().Empty()) lastEvents.Push(0, tracks[0].LastKey());
    for (uint32_t s = 1; s < k; ++s) {
        Track& src = tracks[s].Of();
        const int64_t d = lastEvents.Top(tracks.get());
        if (d >= 0 && !src.Empty()) {
            Track& destLast = tracks[d].Of();
            if (src.Last()->tick < destLast.Last()->tick) {
                src.RemoveLast();
            } else {
                destLast.RemoveLast();
                if (!destLast.Empty()) lastEvents.Push(uint32_t(d), tracks[d].LastKey());
            }
        }
        if (!src.Empty()) lastEvents.Push(s, tracks[s].LastKey());
    }

    // Merge phase: the events, relinked in the loser tree's order into one list.
    uint32_t total = 0;
    for (uint32_t t = 0; t < k; ++t) {
        Track& track = tracks[t].Of();
        total += track.Count();
        cursors[t] = {track.First(), track.Empty() ? 0 : track.First()->tick};
        tree.SetLeaf(t, track.Empty() ? LoserTree::Exhausted : LoserTree::Entry(cursors[t].key, t));
    }
    uint64_t winner = tree.Build();
    MidiEvent* head = nullptr;
    MidiEvent* tail = nullptr;
    while (winner != LoserTree::Exhausted) {
        const uint32_t t = uint32_t(winner);
        Cursor& c = cursors[t];
        MidiEvent* e = c.next;
        MidiEvent* next = e->next;
        e->prev = tail;
        e->next = nullptr;
        (tail ? tail->next : head) = e;
        tail = e;
        c.next = next;
        uint64_t entry = LoserTree::Exhausted;
        if (next) {
            // A track's events mostly lie one after another in the pool, and the track comes
            // round again only after the others have given theirs: fetch well ahead along it.
            PrefetchRunAhead(next);
            // A chord or a burst of controllers: the same key from the same track still beats
            // every other entry, so it needs no replay.
            if (next->tick <= c.key) continue;
            c.key = next->tick;
            entry = LoserTree::Entry(c.key, t);
        }
        winner = tree.Replay(t, entry);
    }
    Track& dest = *firstTrack;
    for (Track* t = dest.Next(); t; t = t->Next()) t->head = t->tail = nullptr, t->count = 0;
    dest.head = head;
    dest.tail = tail;
    dest.count = total;
    dest.ticksMayFall = anyFall;  // merged by running maximum, sorted tracks stay sorted
    while (trackCount >= 2) RemoveTrack(dest.Next());
    return true;
}
