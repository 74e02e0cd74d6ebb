#include "core/Song.h"

#include <new>

#include "core/EventPool.h"
#include "core/SmfFault.h"

// ---- EventBytes

EventBytes::EventBytes(const EventBytes& other) {
    Assign(other.Data(), other.Size());
}

EventBytes& EventBytes::operator=(const EventBytes& other) {
    if (this != &other) Assign(other.Data(), other.Size());
    return *this;
}

void EventBytes::Release() {
    if (tag & Long) {
        if (tag & Pooled) {
            EventPool::Of(this).DeleteRecord(RecordHandle());
        } else {
            delete HeapBuffer();
            link[0] = link[1] = 0;
        }
    }
    word[0] = word[1] = word[2] = 0;
    tag &= Pooled;
}

bool EventBytes::Resize(uint32_t n) {
    if (n == 0) {
        Release();
        return true;
    }
    if (tag & Long) return LongBytes().Resize(n);
    const uint32_t capacity = Capacity();
    if (n <= capacity) {
        SetInline(n, capacity);
        return true;
    }
    if (n <= InlineBytes) {  // inline before and after: the bytes are already in place
        SetInline(n, n);
        return true;
    }
    // Into a buffer of exactly n bytes, which takes the inline bytes along.
    const uint32_t size = Size();
    if (tag & Pooled) {
        EventPool& pool = EventPool::Of(this);
        const uint32_t handle = pool.NewRecord();
        if (handle == EventPool::NoHandle) return false;
        ByteBuffer& record = pool.Record(handle);
        if (!record.Resize(n)) {
            pool.DeleteRecord(handle);
            return false;
        }
        std::memcpy(record.Data(), word, size);
        word[0] = uint8_t(handle);
        word[1] = uint8_t(handle >> 8);
        word[2] = uint8_t(handle >> 16);
        tag = uint8_t(Long | Pooled | handle >> 24);
        return true;
    }
    ByteBuffer* buffer = new (std::nothrow) ByteBuffer;
    if (!buffer || !buffer->Resize(n)) {
        delete buffer;
        return false;
    }
    std::memcpy(buffer->Data(), word, size);
    std::memcpy(link, &buffer, sizeof buffer);
    tag = Long;
    return true;
}

bool EventBytes::Assign(const uint8_t* src, uint32_t n) {
    return AssignExactly(*this, src, n);
}

bool EventBytes::AssignEventSlowly(uint8_t status, const uint8_t* following, uint32_t n) {
    return AssignEventExactly(*this, status, following, n);
}

// ---- Track

Track::~Track() {
    for (MidiEvent* e = head; e;) {
        MidiEvent* next = e->Next();
        Discard(e, EventPool::HandleOf(e));
        e = next;
    }
}

void Track::Discard(MidiEvent* event, uint32_t handle) {
    event->~MidiEvent();
    pool.DeleteEventSlot(handle);
}

void Track::SetNext(MidiEvent* event, const MidiEvent* next) {
    event->bytes.link[EventBytes::NextLink] =
        next ? EventPool::HandleOf(next) : EventPool::NoHandle;
}

void Track::SetPrev(MidiEvent* event, const MidiEvent* prev) {
    event->bytes.link[EventBytes::PrevLink] =
        prev ? EventPool::HandleOf(prev) : EventPool::NoHandle;
}

bool Track::Append(const MidiEvent& event) {
    const uint32_t handle = pool.NewEventSlot();
    if (handle == EventPool::NoHandle) return false;
    MidiEvent* copy = new (pool.Slot(handle)) MidiEvent(EventBytes::PooledNode());
    if (!copy->bytes.Assign(event.bytes.Data(), event.bytes.Size())) {
        Discard(copy, handle);
        return false;
    }
    copy->tick = event.tick;
    LinkLast(copy, handle);
    return true;
}

void Track::RemoveLast() {
    MidiEvent* last = tail;
    if (!last) return;
    tail = last->Prev();
    if (tail)
        SetNext(tail, nullptr);
    else
        head = nullptr;
    --count;
    Discard(last, EventPool::HandleOf(last));
}

void Track::MoveBefore(MidiEvent* before, Track& other, MidiEvent* first, MidiEvent* last,
                       uint32_t moved) {
    // Cut first..last out of other.
    MidiEvent* const ahead = first->Prev();
    MidiEvent* const behind = last->Next();
    if (ahead)
        SetNext(ahead, behind);
    else
        other.head = behind;
    if (behind)
        SetPrev(behind, ahead);
    else
        other.tail = ahead;
    other.count -= moved;
    // Splice it in front of before.
    MidiEvent* const after = before ? before->Prev() : tail;
    SetPrev(first, after);
    SetNext(last, before);
    if (after)
        SetNext(after, first);
    else
        head = first;
    if (before)
        SetPrev(before, last);
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
    if (!IsSmfFormat(value)) return false;
    format = value;
    return true;
}

bool Song::SetDivision(uint16_t value) {
    if (!IsValidDivision(value)) return false;
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
