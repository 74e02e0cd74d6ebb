#include "core/Song.h"

#include <new>

#include "core/EventPool.h"

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
        EventView view;
        // The reader guarantees the layout; a hand-built event that lies is not a match.
        if (!e->View(view) || !view.IsMeta(type)) continue;
        ByteBuffer text;
        if (!text.Assign(view.data, view.length)) return false;
        out = static_cast<ByteBuffer&&>(text);
        return true;
    }
    return false;
}

bool Song::GetTitle(ByteBuffer& out) const {
    return FindFirstTrackMeta(0x03, out) || FindFirstTrackMeta(0x01, out);
}

bool Song::GetCopyright(ByteBuffer& out) const {
    return FindFirstTrackMeta(0x02, out);
}
