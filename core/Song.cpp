#include "core/Song.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/EventPool.h"

// ---- EventPool

EventPool::~EventPool() { Clear(); }

MidiEvent* EventPool::Slots(Chunk* chunk) {
    return reinterpret_cast<MidiEvent*>(reinterpret_cast<char*>(chunk) + HeaderBytes);
}

void EventPool::Clear() {
    // Freed slots hold empty bytes, and the newest chunk's untouched tail was never constructed.
    size_t untouched = unusedCount;
    while (chunks) {
        Chunk* next = chunks->next;
        MidiEvent* slots = Slots(chunks);
        // Only buffers on the heap need a call; the slots are not written, as they are freed next.
        for (size_t i = 0, n = chunks->slots - untouched; i < n; ++i) slots[i].~MidiEvent();
        untouched = 0;
        ::operator delete(chunks);
        chunks = next;
    }
    freeList = unused = nullptr;
    unusedCount = 0;
    nextChunkSlots = FirstChunkSlots;
}

MidiEvent* EventPool::New() {
    MidiEvent* slot = freeList;
    if (slot) {
        freeList = slot->next;
    } else {
        if (unusedCount == 0) {
            void* raw =
                ::operator new(HeaderBytes + nextChunkSlots * sizeof(MidiEvent), std::nothrow);
            if (!raw) return nullptr;
            Chunk* chunk = static_cast<Chunk*>(raw);
            chunk->next = chunks;
            chunk->slots = nextChunkSlots;
            chunks = chunk;
            unused = Slots(chunk);
            unusedCount = nextChunkSlots;
            if (nextChunkSlots < LargestChunkSlots) nextChunkSlots *= 2;
        }
        slot = unused++;
        --unusedCount;
    }
    return new (slot) MidiEvent();
}

void EventPool::Delete(MidiEvent* event) {
    event->bytes.Clear();  // the slot stays a valid, empty event for Clear to pass over
    event->next = freeList;
    freeList = event;
}

// ---- Track

Track::~Track() {
    for (MidiEvent* e = head; e;) {
        MidiEvent* next = e->next;
        pool.Delete(e);
        e = next;
    }
}

void Track::Link(MidiEvent* event, MidiEvent* before) {
    event->next = before;
    event->prev = before ? before->prev : tail;
    if (event->prev)
        event->prev->next = event;
    else
        head = event;
    if (before)
        before->prev = event;
    else
        tail = event;
}

bool Track::Append(const MidiEvent& event) {
    MidiEvent* copy = pool.New();
    if (!copy) return false;
    if (!copy->bytes.Assign(event.bytes.Data(), event.bytes.Size())) {
        pool.Delete(copy);
        return false;
    }
    copy->tick = event.tick;
    if (tail && event.tick < tail->tick) ticksMayFall = true;
    Link(copy, nullptr);
    ++count;
    return true;
}

bool Track::Append(uint8_t status, const uint8_t* following, uint32_t n, uint32_t tick) {
    MidiEvent* event = pool.New();
    if (!event) return false;
    if (!event->bytes.AssignEvent(status, following, n)) {
        pool.Delete(event);
        return false;
    }
    event->tick = tick;
    if (tail && tick < tail->tick) ticksMayFall = true;
    event->prev = tail;
    (tail ? tail->next : head) = event;
    tail = event;
    ++count;
    return true;
}

void Track::RemoveLast() {
    MidiEvent* last = tail;
    if (!last) return;
    tail = last->prev;
    if (tail)
        tail->next = nullptr;
    else
        head = nullptr;
    --count;
    pool.Delete(last);
}

void Track::MoveBefore(MidiEvent* before, Track& other, MidiEvent* first, MidiEvent* last,
                       uint32_t moved) {
    // Cut first..last out of other.
    if (first->prev)
        first->prev->next = last->next;
    else
        other.head = last->next;
    if (last->next)
        last->next->prev = first->prev;
    else
        other.tail = first->prev;
    other.count -= moved;
    // Splice it in front of before.
    first->prev = before ? before->prev : tail;
    last->next = before;
    if (first->prev)
        first->prev->next = first;
    else
        head = first;
    if (before)
        before->prev = last;
    else
        tail = last;
    count += moved;
    ticksMayFall = true;
}

// ---- Song

Song::Song() : pool(new (std::nothrow) EventPool) {}

Song::~Song() {
    Reset();
    delete pool;
}

void Song::Reset() {
    for (Track* t = firstTrack; t;) {
        Track* next = t->next;
        t->head = t->tail = nullptr;  // the pool releases the events below, all at once
        delete t;
        t = next;
    }
    firstTrack = lastTrack = nullptr;
    trackCount = 0;
    if (pool) pool->Clear();
    format = 0;
    division = 0;
}

bool Song::SetFormat(uint16_t value) {
    if (value > 2) return false;
    format = value;
    return true;
}

bool Song::SetDivision(uint16_t value) {
    if (value & 0x8000) {
        // SMPTE time: the high byte is the negated frame rate; only the four real rates exist.
        const uint8_t rate = uint8_t(value >> 8);
        if (rate != 0xE8 && rate != 0xE7 && rate != 0xE3 && rate != 0xE2) return false;
    }
    division = value;
    return true;
}

Track* Song::AppendTrack() {
    if (!pool) return nullptr;
    Track* track = new (std::nothrow) Track(*pool);
    if (!track) return nullptr;
    track->prev = lastTrack;
    if (lastTrack)
        lastTrack->next = track;
    else
        firstTrack = track;
    lastTrack = track;
    ++trackCount;
    return track;
}

void Song::RemoveTrack(Track* track) {
    if (track->prev)
        track->prev->next = track->next;
    else
        firstTrack = track->next;
    if (track->next)
        track->next->prev = track->prev;
    else
        lastTrack = track->prev;
    --trackCount;
    delete track;
}

bool Song::FindFirstTrackMeta(uint8_t type, ByteBuffer& out) const {
    if (!firstTrack) return false;
    for (const MidiEvent* e = firstTrack->First(); e; e = e->Next()) {
        const ByteBuffer& b = e->bytes;
        if (b.Size() < 3 || b[0] != 0xFF || b[1] != type) continue;
        uint32_t length = 0;
        const uint32_t lengthBytes = DecodeVarLen(b.Data() + 2, b.Size() - 2, length);
        // The reader guarantees the layout; a hand-built event that lies is not a match.
        if (lengthBytes == 0 || length > b.Size() - 2 - lengthBytes) continue;
        ByteBuffer text;
        if (!text.Assign(b.Data() + 2 + lengthBytes, length)) return false;
        out = static_cast<ByteBuffer&&>(text);
        return true;
    }
    return false;
}

bool Song::GetTitle(ByteBuffer& out) const {
    return FindFirstTrackMeta(0x03, out) || FindFirstTrackMeta(0x01, out);
}

bool Song::GetCopyright(ByteBuffer& out) const { return FindFirstTrackMeta(0x02, out); }

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
struct TrackKeys {
    Track* track;
    uint32_t* prefixMax;  // per event, only for tracks whose ticks ever go down; else null
};

uint32_t LastKey(const TrackKeys& t) {
    return t.prefixMax ? t.prefixMax[t.track->Count() - 1] : t.track->Last()->tick;
}

// Max-heap order of the track that holds the merged track's last event: greatest key, then the
// later track.
bool LaterLast(uint32_t keyA, uint32_t a, uint32_t keyB, uint32_t b) {
    return keyA != keyB ? keyA > keyB : a > b;
}

}  // namespace

bool Song::MergeToSingleTrack() {
    if (format != 1) return false;
    if (trackCount >= 2 && !MergeByKeys()) return MergeToSingleTrackPairwise();
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
    std::unique_ptr<TrackKeys[]> tracks(new (std::nothrow) TrackKeys[k]);
    // Heap entries for the removal phase: each track enters once and again after each removal.
    std::unique_ptr<uint32_t[]> heap(new (std::nothrow) uint32_t[2 * size_t(k)]);
    std::unique_ptr<uint32_t[]> heapKey(new (std::nothrow) uint32_t[2 * size_t(k)]);
    struct Cursor {
        MidiEvent* next;
        uint32_t key;
    };
    std::unique_ptr<Cursor[]> cursors(new (std::nothrow) Cursor[k]);
    std::unique_ptr<uint64_t[]> loserTree(new (std::nothrow) uint64_t[k]);
    std::unique_ptr<uint64_t[]> winnerTree(new (std::nothrow) uint64_t[2 * size_t(k)]);
    if (!tracks || !heap || !heapKey || !cursors || !loserTree || !winnerTree) return false;

    bool ok = true;
    bool anyFall = false;
    uint32_t i = 0;
    for (Track* t = firstTrack; t; t = t->Next(), ++i) {
        tracks[i] = {t, nullptr};
        if (!t->ticksMayFall) continue;
        anyFall = true;
        bool sorted = true;
        for (const MidiEvent* e = t->First(); e && e->Next() && sorted; e = e->Next())
            sorted = e->Next()->tick >= e->tick;
        if (sorted || !ok) continue;
        uint32_t* keys = new (std::nothrow) uint32_t[t->Count()];
        if (!keys) {
            ok = false;
            continue;
        }
        uint32_t max = 0, n = 0;
        for (const MidiEvent* e = t->First(); e; e = e->Next(), ++n) {
            if (e->tick > max || n == 0) max = e->tick;
            keys[n] = max;
        }
        tracks[i].prefixMax = keys;
    }
    struct KeysRelease {
        TrackKeys* t;
        uint32_t k;
        ~KeysRelease() {
            for (uint32_t i = 0; i < k; ++i) delete[] t[i].prefixMax;
        }
    } release{tracks.get(), k};
    if (!ok) return false;

    // Removal phase: find, step by step, which track holds the last event of the merged track
    // (a lazy max-heap of (key of its last event, track); stale entries are skipped).
    uint32_t heapSize = 0;
    auto push = [&](uint32_t track) {
        uint32_t pos = heapSize++;
        const uint32_t key = LastKey(tracks[track]);
        while (pos > 0) {
            const uint32_t parent = (pos - 1) / 2;
            if (!LaterLast(key, track, heapKey[parent], heap[parent])) break;
            heap[pos] = heap[parent];
            heapKey[pos] = heapKey[parent];
            pos = parent;
        }
        heap[pos] = track;
        heapKey[pos] = key;
    };
    auto pop = [&]() {
        const uint32_t track = heap[--heapSize], key = heapKey[heapSize];
        uint32_t pos = 0;
        for (;;) {
            uint32_t child = 2 * pos + 1;
            if (child >= heapSize) break;
            if (child + 1 < heapSize &&
                LaterLast(heapKey[child + 1], heap[child + 1], heapKey[child], heap[child]))
                ++child;
            if (!LaterLast(heapKey[child], heap[child], key, track)) break;
            heap[pos] = heap[child];
            heapKey[pos] = heapKey[child];
            pos = child;
        }
        if (heapSize) {
            heap[pos] = track;
            heapKey[pos] = key;
        }
    };
    auto top = [&]() -> int64_t {  // the track holding the merged last event, -1 if none
        while (heapSize) {
            const TrackKeys& t = tracks[heap[0]];
            if (!t.track->Empty() && LastKey(t) == heapKey[0]) return heap[0];
            pop();
        }
        return -1;
    };
    // Every entry pushed beyond the first k stands for one removal, of which there are < k.
    if (!tracks[0].track->Empty()) push(0);
    for (uint32_t s = 1; s < k; ++s) {
        Track& src = *tracks[s].track;
        const int64_t d = top();
        if (d >= 0 && !src.Empty()) {
            Track& destLast = *tracks[d].track;
            if (src.Last()->tick < destLast.Last()->tick) {
                src.RemoveLast();
            } else {
                destLast.RemoveLast();
                if (!destLast.Empty()) push(uint32_t(d));
            }
        }
        if (!src.Empty()) push(s);
    }

    // Merge phase: a loser tree over the tracks, each entry (running maximum tick << 32 | track),
    // so one integer comparison orders by key and then by track, and a replay is branch-free.
    // Keys only grow along a track, so a track's new entry is replayed up from its leaf.
    constexpr uint64_t Exhausted = ~uint64_t(0);
    uint64_t* tree = loserTree.get();     // [1, k): the loser of each match
    uint64_t* winners = winnerTree.get();  // [1, 2k): the winner of each match, leaves at [k, 2k)
    uint32_t total = 0;
    for (uint32_t t = 0; t < k; ++t) {
        Track& track = *tracks[t].track;
        total += track.Count();
        cursors[t] = {track.First(), track.Empty() ? 0 : track.First()->tick};
        winners[k + t] = track.Empty() ? Exhausted : uint64_t(cursors[t].key) << 32 | t;
    }
    for (uint32_t node = k - 1; node >= 1; --node) {
        const uint64_t a = winners[2 * node], b = winners[2 * node + 1];
        tree[node] = a < b ? b : a;
        winners[node] = a < b ? a : b;
    }
    uint64_t winner = winners[1];
    MidiEvent* head = nullptr;
    MidiEvent* tail = nullptr;
    while (winner != Exhausted) {
        const uint32_t t = uint32_t(winner);
        Cursor& c = cursors[t];
        MidiEvent* e = c.next;
        MidiEvent* next = e->next;
        e->prev = tail;
        e->next = nullptr;
        (tail ? tail->next : head) = e;
        tail = e;
        c.next = next;
        uint64_t w = Exhausted;
        if (next) {
            // A track's events mostly lie one after another in the pool, and the track comes
            // round again only after the others have given theirs: fetch well ahead along it.
            __builtin_prefetch(reinterpret_cast<const char*>(next) + 512);
            // A chord or a burst of controllers: the same key from the same track still beats
            // every other entry, so it needs no replay.
            if (next->tick <= c.key) continue;
            c.key = next->tick;
            w = uint64_t(c.key) << 32 | t;
        }
        for (uint32_t node = (k + t) / 2; node >= 1; node /= 2) {
            const uint64_t l = tree[node];
            tree[node] = l < w ? w : l;
            w = l < w ? l : w;
        }
        winner = w;
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

uint32_t DecodeVarLen(const uint8_t* data, uint32_t available, uint32_t& value) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4 && i < available; ++i) {
        v = (v << 7) | (data[i] & 0x7F);
        if (!(data[i] & 0x80)) {
            value = v;
            return i + 1;
        }
    }
    return 0;
}
