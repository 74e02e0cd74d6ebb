// SmfReader.h: reads a Standard MIDI File image into a Song. No file I/O, no windows.
#pragma once
#include <cstdint>

#include "core/Song.h"

// A forward reader over a byte image it does not own; it knows nothing of chunks.
class ByteCursor {
public:
    virtual ~ByteCursor() {}

    void Attach(const uint8_t* image, uint32_t length) {
        base = image;
        size = length;
        position = 0;
    }
    // Copies up to n bytes and advances by as many; 0 at the end of the image.
    uint32_t ReadBytes(uint8_t* destination, uint32_t n);
    // The byte at the position, without moving; false at the end of the image.
    bool PeekByte(uint8_t& out) const {
        if (position >= size) return false;
        out = base[position];
        return true;
    }
    // Advances by up to n bytes; true only if all n were skipped (always true for n = 0).
    bool SkipBytes(uint32_t n);

    const uint8_t* Base() const { return base; }
    uint32_t Position() const { return position; }
    uint32_t Size() const { return size; }

private:
    const uint8_t* base = nullptr;
    uint32_t position = 0;
    uint32_t size = 0;
};

// How the reader takes what the SMF rules forbid. Strict: every fault ends the parse. Lenient:
// the faults that real files commonly have and every player plays through are mended by the
// SmfMend rules below; every other fault still ends the parse. A file the strict mode reads, the
// lenient mode reads into exactly the same song.
enum class SmfReadMode { Strict, Lenient };

// The rules of the lenient mode, as bits of SmfReader::Mends().
namespace SmfMend {
// Running status survives meta and system exclusive events within a track chunk (it is still
// none at the start of every chunk).
constexpr uint32_t RunningStatusAfterMeta = 1u << 0;
// A chunk whose length runs past the end of the file is cut to the end of the file.
constexpr uint32_t ChunkCut = 1u << 1;
// A track chunk is read until an End of Track or the chunk's end, whichever comes first: what
// follows an End of Track is skipped; an event that runs past the end is dropped; a track that
// ends without End of Track gets one, at the tick of its last event (0 when it has none).
constexpr uint32_t TrackEnd = 1u << 2;
// A meta event of a type with a fixed length but another length is kept as it stands.
constexpr uint32_t MetaLength = 1u << 3;
// The file ends at or inside the identifier and length of an announced chunk: the song is the
// chunks read before it.
constexpr uint32_t MissingChunks = 1u << 4;
// A RIFF file of form RMID: the SMF held in its data chunk (no MacBinary header looked for).
constexpr uint32_t Rmid = 1u << 5;
}  // namespace SmfMend

enum class SmfFaultKind : uint8_t {
    None,
    NotSmf,              // neither an SMF, a MacBinary SMF nor (lenient) an RMID file
    CutShort,            // the file ends inside the header or an event
    HeaderLength,        // a header chunk shorter than 6 bytes
    Format,              // a format above 2 (the conversion also refuses 2)
    Division,            // an SMPTE division of an unknown frame rate
    MissingChunks,       // the file ends before every announced chunk
    SecondHeader,        // an MThd chunk after the header
    ChunkPastEnd,        // a chunk other than a track whose length runs past the end of the file
    EmptyTrack,          // a track chunk of length 0
    LongNumber,          // a delta time or length of more than 4 bytes
    DataWithoutStatus,   // a data byte where an event begins, with no running status
    BadStatus,           // a status byte F1-F6 or F8-FE where an event begins
    MetaType,            // a meta type of 0x80 or above
    MetaLength,          // a meta event of a fixed-length type with another length
    EndOfTrackNotAtEnd,  // an End of Track that does not end exactly at its chunk's last byte
    NoEndOfTrack,        // a track chunk whose events reach or pass its end without End of Track
    NoTrack,             // no track chunk at all (found by the conversion, not the reader)
};

// Where a parse failed. offset counts from the start of the file (a MacBinary or RIFF header
// included) and points at the byte or field found wrong: the data byte, the status byte, the meta
// type, the length field, the delta time; at the event itself (its delta time) when the event as
// a whole is wrong (cut short by the end of the file, an End of Track out of place, the event
// that reached its chunk's end); at the chunk's identifier for a chunk found wrong or missing;
// at the start of the SMF data (0, or an RMID file's data chunk) for a file that holds no SMF.
struct SmfFault {
    SmfFaultKind kind = SmfFaultKind::None;
    uint32_t chunk = 0;       // 1-based, counted as the header counts chunks; 0: the header
    bool trackChunk = false;  // the chunk is a track chunk
    uint32_t offset = 0;
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
    bool ReadImage(bool allowMacBinary);
    bool EnterRmid();
    bool ReadHeader(bool allowMacBinary);
    template <bool Lenient>
    bool ReadChunk(uint32_t number);
    // One event of a track chunk, read from p (which moves past it) without passing end.
    template <bool Lenient>
    bool ReadEvent(const uint8_t*& p, const uint8_t* end, Track& track, uint32_t& tick,
                   uint8_t& runningStatus, bool& endOfTrack);
    bool ReadUInt16(uint16_t& out);
    bool ReadUInt32(uint32_t& out);
    uint32_t ReadScratch(uint32_t n);
    bool Store(Track& track, uint8_t status, const uint8_t* from, const uint8_t* to, uint32_t tick);
    // Each records the fault and returns false.
    bool Fail(SmfFaultKind kind, uint32_t position);
    bool Fail(SmfFaultKind kind, const uint8_t* at) {
        return Fail(kind, uint32_t(at - cursor.Base()));
    }
    // An event that the end cuts short: a fault, or in the lenient mode the end of the track.
    template <bool Lenient>
    bool CutShort(const uint8_t* event);
    // A variable-length number at at that did not decode: too long, or cut short.
    template <bool Lenient>
    bool BadNumber(const uint8_t* event, const uint8_t* at, const uint8_t* end);

    ByteCursor cursor;
    Song* song = nullptr;  // not owned
    uint8_t* scratch = nullptr;
    uint32_t scratchCapacity = 0;
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
