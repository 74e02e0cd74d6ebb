// Bytes.h: the byte layer. Variable-length quantities, fixed-size numbers in both byte orders,
// the bounds-checked ByteReader through which every reader of a file goes, and an event taken
// apart as the song stores it; every reader and writer of these layouts comes here rather than
// decoding bytes on its own.
#pragma once
#include <cstdint>
#include <cstring>

// Decodes the variable-length quantity at data (at most 4 bytes, at most available bytes).
// Returns the number of bytes it took, or 0 when it is cut short or a fourth byte still
// announces more; the value is then below 0x10000000.
inline uint32_t DecodeVarLen(const uint8_t* data, uint32_t available, uint32_t& value) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4 && i < available; ++i) {
        v = v << 7 | (data[i] & 0x7F);
        if (!(data[i] & 0x80)) {
            value = v;
            return i + 1;
        }
    }
    return 0;
}

// Writes value (below 0x10000000) as the SMF writes it, the shortest form; returns its length.
inline uint32_t EncodeVarLen(uint32_t value, uint8_t (&out)[4]) {
    uint8_t groups[4];
    uint32_t n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value && n < 4);
    for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(groups[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
    return n;
}

// MDS numbers are little-endian.
inline void PutLe32(uint8_t* at, uint32_t value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(at, &value, 4);  // one store: the encoder writes three per event
#else
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
#endif
}
inline uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Whether an SMF division word (and so the low 16 bits of an MDS time format) is one a player
// can time: ticks per quarter note, or SMPTE time whose high byte is the negated frame rate, of
// which only -24, -25, -29 and -30 exist.
inline bool IsValidDivision(uint16_t division) {
    const uint8_t rate = uint8_t(division >> 8);
    return !(division & 0x8000) || rate == 0xE8 || rate == 0xE7 || rate == 0xE3 || rate == 0xE2;
}

// SMF numbers are big-endian.
inline uint16_t GetBe16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t GetBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void PutBe16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}
inline void PutBe32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

// The one way this program reads the bytes of a file: forward, from a pointer to an end it never
// passes. A read that cannot be served takes nothing and gives 0, and the reader stays failed
// (later reads are checked as before), so a run of reads needs one look at Ok() after it.
class ByteReader {
public:
    ByteReader() {}
    ByteReader(const uint8_t* data, uint32_t size) : at(data), end(data + size) {}

    bool Ok() const { return !failed; }
    const uint8_t* Position() const { return at; }
    const uint8_t* End() const { return end; }
    uint32_t Left() const { return uint32_t(end - at); }
    bool AtEnd() const { return at == end; }

    // The next byte, without taking it; false at the end (not a failure).
    bool PeekByte(uint8_t& out) const {
        if (at == end) return false;
        out = *at;
        return true;
    }
    // The next n bytes, to look at before taking them (Skip); null when fewer are left.
    const uint8_t* Peek(uint32_t n) const { return Left() >= n ? at : nullptr; }
    // Whether the next four bytes are id (a chunk's identifier); takes nothing.
    bool Is(const char (&id)[5]) const { return Left() >= 4 && std::memcmp(at, id, 4) == 0; }

    uint8_t Byte() {
        if (at == end) return Fail();
        return *at++;
    }
    uint16_t Be16() {
        if (Left() < 2) return Fail();
        const uint16_t value = GetBe16(at);
        at += 2;
        return value;
    }
    uint32_t Be32() {
        if (Left() < 4) return Fail();
        const uint32_t value = GetBe32(at);
        at += 4;
        return value;
    }
    uint32_t Le32() {
        if (Left() < 4) return Fail();
        const uint32_t value = GetLe32(at);
        at += 4;
        return value;
    }
    // A variable-length quantity (DecodeVarLen): fails when it is cut short or a fourth byte
    // still announces more, which Left() >= 4 afterwards tells apart.
    uint32_t VarLen() {
        if (at != end && *at < 0x80) return *at++;  // most deltas and lengths: one byte
        uint32_t value = 0;
        const uint32_t taken = DecodeVarLen(at, Left(), value);
        if (taken == 0) return Fail();
        at += taken;
        return value;
    }
    bool Skip(uint32_t n) {
        if (Left() < n) return Fail();
        at += n;
        return true;
    }
    // The next n bytes, taken; null when fewer are left.
    const uint8_t* Bytes(uint32_t n) {
        const uint8_t* const from = at;
        return Skip(n) ? from : nullptr;
    }
    // The next n bytes as a reader of their own, taken; a failed empty reader when fewer are left.
    ByteReader Take(uint32_t n) {
        const uint8_t* const from = at;
        if (Skip(n)) return ByteReader(from, n);
        ByteReader none(at, 0);
        none.failed = true;
        return none;
    }

private:
    uint8_t Fail() {
        failed = true;
        return 0;
    }

    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    bool failed = false;
};

// The data bytes of a channel message: one for a program change or channel pressure (C0-DF), two
// for the others.
inline uint32_t ChannelDataBytes(uint32_t status) {
    return (status & 0xE0) == 0xC0 ? 1 : 2;
}

// A track's commonest event: a delta time of one byte, then a channel message, its status byte
// there or taken from runningStatus. Taken from r, all within the next 4 bytes, with one look at
// the bounds; false, taking nothing, for any other event or when fewer bytes are left.
struct ShortChannelEvent {
    uint32_t delta;
    uint8_t status;
    bool statusByte;      // the status byte stands in the file
    const uint8_t* data;  // ChannelDataBytes(status) data bytes, unexamined
};
inline bool TakeShortChannelEvent(ByteReader& r, uint8_t runningStatus, ShortChannelEvent& e) {
    const uint8_t* const p = r.Peek(4);
    if (!p || p[0] >= 0x80) return false;
    const uint8_t b = p[1];
    e.statusByte = b >= 0x80;
    if (e.statusByte ? b >= 0xF0 : !runningStatus) return false;
    e.delta = p[0];
    e.status = e.statusByte ? b : runningStatus;
    e.data = p + 1 + e.statusByte;
    r.Skip(1 + e.statusByte + ChannelDataBytes(e.status));
    return true;
}

// Running status: a channel message may leave out its status when the message before it had the
// same one, but not when its first data byte is 0x80 or above (a damaged file holds such bytes,
// and the reader takes them as data): left alone, that byte would read as a new status.
inline bool MayOmitStatus(uint32_t status, uint32_t lastStatus, uint32_t firstDataByte) {
    return status == lastStatus && firstDataByte < 0x80;
}

// An event as the song stores it (status byte first, see MidiEvent), taken apart.
struct EventView {
    uint8_t status = 0;
    uint8_t type = 0;               // meta events: the meta type
    const uint8_t* data = nullptr;  // channel messages: the data bytes; system exclusive and
                                    // meta events: the bytes after the length field
    uint32_t length = 0;            // of data: the count of data bytes, or the length field
    uint32_t spare = 0;             // bytes after data; none in what the reader stores

    bool IsChannel() const { return status >= 0x80 && status < 0xF0; }
    bool IsSysEx() const { return status == 0xF0 || status == 0xF7; }
    bool IsMeta(uint8_t metaType) const { return status == 0xFF && type == metaType; }
    bool IsEndOfTrack() const { return IsMeta(0x2F); }
    // A Set Tempo with exactly its three bytes, whatever the form of its length field: some
    // writers pad it (80 03), and the reader takes that.
    bool IsTempo() const { return IsMeta(0x51) && length == 3 && spare == 0; }
    uint32_t Tempo() const { return uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]; }
};

// Takes apart the system exclusive or meta event whose status byte is next in r, as far as its
// length field says, and moves r past it; false when it is cut short. spare is left 0.
inline bool ReadLongEvent(ByteReader& r, EventView& view) {
    view.status = r.Byte();
    view.type = view.status == 0xFF ? r.Byte() : 0;
    view.length = r.VarLen();
    view.data = r.Bytes(view.length);
    view.spare = 0;
    return r.Ok();
}

// False for an empty event, and for a system exclusive or meta event whose length field is cut
// short or promises more bytes than the event holds (an event built by hand; the reader never
// stores one).
inline bool ViewEvent(const uint8_t* bytes, uint32_t size, EventView& view) {
    if (size == 0) return false;
    if (bytes[0] < 0xF0) {
        view.status = bytes[0];
        view.type = 0;
        view.data = bytes + 1;
        view.length = size - 1;
        view.spare = 0;
        return true;
    }
    ByteReader r(bytes, size);
    if (!ReadLongEvent(r, view)) return false;
    view.spare = r.Left();
    return true;
}
