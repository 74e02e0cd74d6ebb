// MergeOrder.h: the order in which a format 1 song's tracks merge into one, for any way of
// walking the tracks' events (the song model's lists, or a reading straight from the file).
//
// A pairwise merge of sequences that need not be sorted (ticks wrap at 2^32) behaves exactly like
// a merge of sorted sequences in which every event's key is the largest tick of its own track up
// to and including it. So the whole chain of pairwise merges is one stable k-way merge by
// (key, track number), once the End of Track removals of every step have been played out
// (DropEndsOfTrack); then a loser tree (EmitByTree) or counting a window of keys at a time
// (WindowMerge) gives the order.
//
// A Walk steps through the kept events of each track: its Cursor has the current event's key
// and left (0 once the track has no more); Start(t, cursor) sets it on track t's first kept event,
// Advance(t, cursor) on the next one (false when there is none), Emit(cursor, merged) hands the
// event on, Prefetch(cursor) asks for the memory ahead; Kept(t), FirstKey(t) and LastKey(t)
// describe the kept events of track t.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "core/MergedEvent.h"

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
    template <class Ends>
    int64_t Top(const Ends* tracks) {
        while (size) {
            const Ends& t = tracks[track[0]];
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
// Ends is a track's end as the merge keeps it: Empty(), LastTick() and LastKey() of its last
// kept event, and DropLast().
template <class Ends>
void DropEndsOfTrack(Ends* tracks, uint32_t k, LastEventHeap& lastEvents) {
    if (!tracks[0].Empty()) lastEvents.Push(0, tracks[0].LastKey());
    for (uint32_t s = 1; s < k; ++s) {
        Ends& src = tracks[s];
        const int64_t d = lastEvents.Top(tracks);
        if (d >= 0 && !src.Empty()) {
            Ends& destLast = tracks[d];
            if (src.LastTick() < destLast.LastTick()) {
                src.DropLast();
            } else {
                destLast.DropLast();
                if (!destLast.Empty()) lastEvents.Push(uint32_t(d), destLast.LastKey());
            }
        }
        if (!src.Empty()) lastEvents.Push(s, src.LastKey());
    }
}

// Collects events into batches for a sink that takes them in arrays.
template <class Walk, class Sink>
class Batches {
public:
    Batches(const Walk& walk, Sink& sink) : walk(walk), sink(sink) {}
    bool Add(const typename Walk::Cursor& c) {
        walk.Emit(c, items[n++]);
        if (n < Size) return true;
        n = 0;
        return sink(items, Size);
    }
    bool Flush() { return n == 0 || sink(items, n); }

private:
    static constexpr uint32_t Size = 256;
    const Walk& walk;
    Sink& sink;
    MergedEvent items[Size];
    uint32_t n = 0;
};

// Hands sink(events, count) the kept events in the order of (key, track) from a loser tree: about
// log2(k) steps per change of key. Stops when sink is false.
template <class Walk, class Sink>
bool EmitByTree(const Walk& walk, uint32_t k, LoserTree& tree, typename Walk::Cursor* cursors,
                Sink& sink) {
    for (uint32_t t = 0; t < k; ++t) {
        walk.Start(t, cursors[t]);
        tree.SetLeaf(t,
                     cursors[t].left ? LoserTree::Entry(cursors[t].key, t) : LoserTree::Exhausted);
    }
    Batches<Walk, Sink> out(walk, sink);
    uint64_t winner = tree.Build();
    while (winner != LoserTree::Exhausted) {
        const uint32_t t = uint32_t(winner);
        typename Walk::Cursor& c = cursors[t];
        if (!out.Add(c)) return false;
        const uint32_t key = c.key;
        uint64_t entry = LoserTree::Exhausted;
        if (walk.Advance(t, c)) {
            // A track's events mostly lie one after another in memory, and the track comes
            // round again only after the others have given theirs: fetch well ahead along it.
            walk.Prefetch(c);
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
template <class Walk>
class WindowMerge {
public:
    using Cursor = typename Walk::Cursor;

    // Whether the kept events of the walk's tracks suit it, and then its memory; false otherwise.
    bool Take(const Walk& walk, uint32_t k) {
        uint64_t events = 0;
        for (uint32_t t = 0; t < k; ++t) {
            if (walk.Kept(t) == 0) continue;
            events += walk.Kept(t);
            if (walk.FirstKey(t) < lowest) lowest = walk.FirstKey(t);
            if (walk.LastKey(t) > highest) highest = walk.LastKey(t);
        }
        if (events == 0) return false;
        const uint64_t keys = uint64_t(highest) - lowest + 1;
        if (keys > events) return false;
        // About half a window's room is filled on average: as much as a level-2 cache holds, or
        // with many tracks a few dozen events of each, since every track visited costs a little
        // whatever it gives (up to 128 K events, a few MB), but never fewer than 2 events of
        // each; never more than the whole song.
        const uint64_t perTrack = 64 * uint64_t(k) < 131072 ? 64 * uint64_t(k) : 131072;
        uint64_t room = perTrack > 16384 ? perTrack : 16384;
        if (room < 2 * uint64_t(k)) room = 2 * uint64_t(k);
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
    bool Run(const Walk& walk, uint32_t k, Cursor* cursors, Sink& sink) {
        for (uint32_t t = 0; t < k; ++t) walk.Start(t, cursors[t]);
        for (uint64_t low = lowest; low <= highest;)
            if (!Window(walk, k, cursors, low, sink)) return false;
        return true;
    }

private:
    // One window, gathered (or, when it overflows, narrowed) and handed on; low moves past what
    // was handed on. A call of its own, not inlined: a JIT that compiles a function better only
    // once it has run a while (WebAssembly's engines) takes the better code at the next call,
    // which the whole song in one call would never reach.
    template <class Sink>
    [[gnu::noinline]] bool Window(const Walk& walk, uint32_t k, Cursor* cursors, uint64_t& low,
                                  Sink& sink) {
        const uint64_t high = low + span;  // the window is [low, high)
        std::memcpy(saved.get(), cursors, k * sizeof(Cursor));
        uint32_t n = 0;
        bool full = false;
        for (uint32_t t = 0; t < k && !full; ++t) {
            // A copy, so that the stores of the gathered events cannot make the loop fetch it
            // again.
            Cursor c = cursors[t];
            while (c.left && c.key < high) {
                if (n == capacity) {
                    full = true;
                    break;
                }
                // The track's run is read in memory order, a few lines per window: the lines of
                // its next window are on their way before it comes round again.
                walk.Prefetch(c);
                walk.Emit(c, gathered[n]);
                offsets[n++] = uint32_t(c.key - low);
                if (!walk.Advance(t, c)) c.left = 0;
            }
            cursors[t] = c;
        }
        if (full) {
            // More events than room: the window shrinks and is gathered again, down to a single
            // key, whose events need no sorting at all.
            std::memcpy(cursors, saved.get(), k * sizeof(Cursor));
            if (span > 1) {
                span /= 2;
                return true;
            }
            if (!EmitOneKey(walk, k, cursors, uint32_t(low), sink)) return false;
            low = high;
            return true;
        }
        std::memset(counts.get(), 0, (size_t(span) + 1) * sizeof(uint32_t));
        for (uint32_t i = 0; i < n; ++i) ++counts[offsets[i] + 1];
        for (uint32_t key = 1; key <= span; ++key) counts[key] += counts[key - 1];
        for (uint32_t i = 0; i < n; ++i) sorted[counts[offsets[i]]++] = gathered[i];
        if (n && !sink(sorted.get(), n)) return false;
        low = high;
        // A sparse stretch of the song: wider windows, as long as they fill half the room.
        if (n < capacity / 4 && span <= capacity / 2) span *= 2;
        return true;
    }

    template <class Sink>
    static bool EmitOneKey(const Walk& walk, uint32_t k, Cursor* cursors, uint32_t key,
                           Sink& sink) {
        Batches<Walk, Sink> out(walk, sink);
        for (uint32_t t = 0; t < k; ++t) {
            Cursor& c = cursors[t];
            while (c.left && c.key == key) {
                if (!out.Add(c)) return false;
                if (!walk.Advance(t, c)) c.left = 0;
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
