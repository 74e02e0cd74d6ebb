#include "tests/support/SmfImage.h"

#include <cstring>

namespace {
void Put32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}
void Put16(Bytes& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
Bytes MakeChunk(const char* id, const Bytes& data, uint32_t length) {
    Bytes c(id, id + 4);
    Put32(c, length);
    c.insert(c.end(), data.begin(), data.end());
    return c;
}
}  // namespace

SmfImage& SmfImage::HeaderId(const char* id) {
    return headerId = id, *this;
}
SmfImage& SmfImage::HeaderLength(uint32_t length) {
    return headerLength = length, *this;
}
SmfImage& SmfImage::HeaderExtra(const Bytes& bytes) {
    return headerExtra = bytes, *this;
}
SmfImage& SmfImage::Format(uint16_t value) {
    return format = value, *this;
}
SmfImage& SmfImage::ChunkCount(uint16_t count) {
    return chunkCount = count, *this;
}
SmfImage& SmfImage::Division(uint16_t value) {
    return division = value, *this;
}
SmfImage& SmfImage::Track(const Bytes& events) {
    return Track(events, uint32_t(events.size()));
}
SmfImage& SmfImage::Track(const Bytes& events, uint32_t length) {
    chunks.push_back(MakeChunk("MTrk", events, length));
    return *this;
}
SmfImage& SmfImage::Chunk(const char* id, const Bytes& data) {
    return Chunk(id, data, uint32_t(data.size()));
}
SmfImage& SmfImage::Chunk(const char* id, const Bytes& data, uint32_t length) {
    chunks.push_back(MakeChunk(id, data, length));
    return *this;
}
SmfImage& SmfImage::Trailing(const Bytes& bytes) {
    return trailing = bytes, *this;
}
SmfImage& SmfImage::MacBinary(const Bytes& header128) {
    return macBinary = header128, *this;
}

Bytes SmfImage::Build() const {
    Bytes out = macBinary;
    out.insert(out.end(), headerId.begin(), headerId.end());
    Put32(out, headerLength);
    Put16(out, format);
    Put16(out, uint16_t(chunkCount >= 0 ? chunkCount : int(chunks.size())));
    Put16(out, division);
    if (headerLength > 6) {
        Bytes extra = headerExtra;
        extra.resize(headerLength - 6);
        out.insert(out.end(), extra.begin(), extra.end());
    }
    for (const Bytes& c : chunks) out.insert(out.end(), c.begin(), c.end());
    out.insert(out.end(), trailing.begin(), trailing.end());
    return out;
}

Bytes MacBinaryHeader() {
    Bytes h(128);
    for (size_t i = 0; i < h.size(); ++i) h[i] = uint8_t(0x41 + i % 26);
    h[0] = h[74] = h[82] = 0;
    return h;
}

Bytes Rmid(const Bytes& smf) {
    auto le32 = [](uint32_t v) {
        return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    Bytes data = smf;
    if (data.size() % 2) data.push_back(0);
    const Bytes info =
        Cat({{'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M'}, le32(4), {'S', 'o', 'n', 'g'}});
    const Bytes chunks = Cat({{'d', 'a', 't', 'a'},
                              le32(uint32_t(smf.size())),
                              data,
                              {'L', 'I', 'S', 'T'},
                              le32(uint32_t(info.size())),
                              info});
    return Cat(
        {{'R', 'I', 'F', 'F'}, le32(uint32_t(chunks.size() + 4)), {'R', 'M', 'I', 'D'}, chunks});
}

Bytes VarLen(uint32_t value) {
    Bytes out{uint8_t(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), uint8_t(0x80 | (value & 0x7F)));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

HeapImage::HeapImage(const Bytes& bytes)
    : data(new uint8_t[bytes.size() ? bytes.size() : 1]), size(uint32_t(bytes.size())) {
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
}
HeapImage::~HeapImage() {
    delete[] data;
}

Bytes WrappingNotes() {
    Bytes notes = Cat({VarLen(0x0FFFFFFF), {0x90, 1, 1}});
    for (uint8_t n = 2; n <= 8; ++n) notes = Cat({notes, VarLen(0x0FFFFFFF), {n, n}});
    return Cat({notes, VarLen(0x20), {9, 9}});
}
