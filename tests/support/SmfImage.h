// SmfImage.h: builds Standard MIDI File images for tests from readable byte lists.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Chunks are laid out in the order added; the header's chunk count follows them unless set.
class SmfImage {
public:
    SmfImage& HeaderId(const char* id);
    SmfImage& HeaderLength(uint32_t length);  // the bytes beyond 6 are zeros unless HeaderExtra
    SmfImage& HeaderExtra(const Bytes& bytes);
    SmfImage& Format(uint16_t format);
    SmfImage& ChunkCount(uint16_t count);
    SmfImage& Division(uint16_t division);
    SmfImage& Track(const Bytes& events);                   // an MTrk with its true length
    SmfImage& Track(const Bytes& events, uint32_t length);  // an MTrk whose length lies
    SmfImage& Chunk(const char* id, const Bytes& data);
    SmfImage& Chunk(const char* id, const Bytes& data, uint32_t length);
    SmfImage& Trailing(const Bytes& bytes);  // after the last chunk
    SmfImage& MacBinary(const Bytes& header128);

    Bytes Build() const;
    operator Bytes() const { return Build(); }

private:
    std::string headerId = "MThd";
    uint32_t headerLength = 6;
    Bytes headerExtra;
    uint16_t format = 1;
    int chunkCount = -1;
    uint16_t division = 96;
    std::vector<Bytes> chunks;
    Bytes trailing;
    Bytes macBinary;
};

// A 128-byte MacBinary header whose bytes 0, 74 and 82 are 0 and the rest arbitrary.
Bytes MacBinaryHeader();
// A RIFF file of form RMID holding smf in its data chunk (padded to an even length), with an INFO
// list after it, as Windows writes one.
Bytes Rmid(const Bytes& smf);
// A variable-length quantity as the SMF writes it.
Bytes VarLen(uint32_t value);
// Nine notes, the last eight each 0x0FFFFFFF ticks after the one before, then one 0x20 later:
// the tick wraps past 2^32 on the way (running status after the first; no End of Track).
Bytes WrappingNotes();
// Concatenation, so a track reads as a list of events.
Bytes Cat(std::initializer_list<Bytes> parts);
// An exact-size heap copy, so AddressSanitizer sees a one-byte over-read.
struct HeapImage {
    explicit HeapImage(const Bytes& bytes);
    ~HeapImage();
    HeapImage(const HeapImage&) = delete;
    HeapImage& operator=(const HeapImage&) = delete;
    uint8_t* data;
    uint32_t size;
};
