// SmfReader.h: reads a Standard MIDI File image into a Song. No file I/O, no windows.
#pragma once
#include <cstdint>

#include "core/Bytes.h"
#include "core/SmfFault.h"
#include "core/Song.h"

class SongScan;

// A forward reader over a byte image it does not own, counting positions from the image's start;
// it knows nothing of chunks. The ByteReader over the whole image, which the parse reads through.
class ByteCursor {
public:
    virtual ~ByteCursor() {}

    void Attach(const uint8_t* image, uint32_t length) {
        base = image;
        reader = ByteReader(image, length);
    }
    // Copies up to n bytes and advances by as many; 0 at the end of the image.
    uint32_t ReadBytes(uint8_t* destination, uint32_t n);
    // The byte at the position, without moving; false at the end of the image.
    bool PeekByte(uint8_t& out) const { return reader.PeekByte(out); }
    // Advances by up to n bytes; true only if all n were skipped (always true for n = 0).
    bool SkipBytes(uint32_t n);

    const uint8_t* Base() const { return base; }
    uint32_t Position() const { return uint32_t(reader.Position() - base); }
    uint32_t Size() const { return uint32_t(reader.End() - base); }
    ByteReader& Reader() { return reader; }

private:
    const uint8_t* base = nullptr;
    ByteReader reader;
};

// One reader serves any number of parses, one after another.
class SmfReader {
public:
    explicit SmfReader(SmfReadMode mode = SmfReadMode::Strict);
    SmfReader(const SmfReader&) = delete;
    SmfReader& operator=(const SmfReader&) = delete;
    virtual ~SmfReader();

    // True when the header and exactly as many chunks as it announces were read without a fault
    // (lenient: without a fault that no rule mends). image must stay valid for the call; song is
    // reset first and, after a fault, holds what was stored before it (the caller discards it).
    // allowMacBinary lets a 128-byte MacBinary header stand before the SMF data.
    bool Parse(const uint8_t* image, uint32_t size, Song& song, bool allowMacBinary);
    // The same reading, with the same result, fault and mends, into scan instead of a song: no
    // event is kept. The scan points into image.
    bool Scan(const uint8_t* image, uint32_t size, SongScan& scan, bool allowMacBinary);

    // After a failed Parse: true when it failed for lack of memory rather than a fault of the file.
    bool OutOfMemory() const { return outOfMemory; }
    // After a failed Parse: which fault, where; kind None when memory ran out.
    const SmfFault& Fault() const { return fault; }
    // After a lenient Parse: the SmfMend rules it needed (after a fault, those it needed before);
    // 0 for every file the strict mode reads.
    uint32_t Mends() const { return mends; }
    // After a Parse that read the header: the file offset of its "MThd" (0, 128 behind a MacBinary
    // header, or inside an RMID file).
    uint32_t HeaderOffset() const { return headerOffset; }

private:
    template <class Tracks>
    bool Read(const uint8_t* image, uint32_t size, Tracks& tracks, bool allowMacBinary);
    template <class Tracks>
    bool ReadImage(Tracks& tracks, bool allowMacBinary);
    bool EnterRmid();
    template <class Tracks>
    bool ReadHeader(Tracks& tracks, bool allowMacBinary);
    // One call per chunk, not inlined: WebAssembly's engines take their better code for a
    // function only at its next call, so the reading of a song must not be one call.
    template <bool Lenient, class Tracks>
    [[gnu::noinline]] bool ReadChunk(Tracks& tracks, uint32_t number);
    // One event of a track chunk, read from r, which moves past it.
    template <bool Lenient, class TrackSink>
    bool ReadEvent(ByteReader& r, TrackSink& track, uint32_t& tick, uint8_t& runningStatus,
                   bool& endOfTrack);
    template <class TrackSink>
    bool Store(TrackSink& track, uint8_t status, const uint8_t* from, const uint8_t* to,
               uint32_t tick);
    // Each records the fault and returns false.
    bool Fail(SmfFaultKind kind, uint32_t position);
    bool Fail(SmfFaultKind kind, const uint8_t* at) {
        return Fail(kind, uint32_t(at - cursor.Base()));
    }
    // The running status after a channel message of status, which carried its status byte or
    // not; notes the lenient rule it needed.
    template <bool Lenient>
    uint8_t ChannelStatus(uint8_t status, bool statusByte);
    // An event that the end cuts short: a fault, or in the lenient mode the end of the track.
    template <bool Lenient>
    bool CutShort(const uint8_t* event);
    // A variable-length number at at that did not decode: too long, or cut short.
    template <bool Lenient>
    bool BadNumber(const uint8_t* event, const uint8_t* at, const uint8_t* end);

    ByteCursor cursor;
    uint16_t chunkCount = 0;
    bool outOfMemory = false;
    const SmfReadMode mode;
    SmfFault fault;
    uint32_t mends = 0;
    uint32_t imageOffset = 0;  // of the cursor's image in the file (an RMID's data chunk)
    uint32_t headerOffset = 0;
    uint32_t chunkNumber = 0;  // of the chunk being read; 0 while the header is
    bool inTrackChunk = false;
    // Lenient: a running status kept across a meta or system exclusive event since it was set.
    bool statusCarried = false;
    // Lenient: the last event ran past its chunk's end, which ends the track.
    bool eventCut = false;
};
