// Bytes.h: the byte layer. Variable-length quantities, fixed-size numbers in both byte orders,
// and an event taken apart as the song stores it; every reader and writer of these layouts
// comes here rather than decoding bytes on its own.
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

// False for an empty event, and for a system exclusive or meta event whose length field is cut
// short or promises more bytes than the event holds (an event built by hand; the reader never
// stores one).
inline bool ViewEvent(const uint8_t* bytes, uint32_t size, EventView& view) {
    if (size == 0) return false;
    view.status = bytes[0];
    view.type = 0;
    if (view.status < 0xF0) {
        view.data = bytes + 1;
        view.length = size - 1;
        view.spare = 0;
        return true;
    }
    uint32_t at = 1;
    if (view.status == 0xFF) {
        if (size < 2) return false;
        view.type = bytes[1];
        at = 2;
    }
    const uint32_t lengthBytes = DecodeVarLen(bytes + at, size - at, view.length);
    if (lengthBytes == 0 || view.length > size - at - lengthBytes) return false;
    view.data = bytes + at + lengthBytes;
    view.spare = size - at - lengthBytes - view.length;
    return true;
}
