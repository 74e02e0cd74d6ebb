// SmfFault.h: how a reading takes what the SMF rules forbid, and what it reports: the mode, the
// rules of the lenient mode, and the fault that refused a file with its place.
#pragma once
#include <cstdint>

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

// The formats a reading takes: 0 to 2 (the division's rule is IsValidDivision, core/Bytes.h).
inline bool IsSmfFormat(uint16_t format) {
    return format <= 2;
}

// Only a song of format 0 or 1 with at least one track converts, whatever the reading.
inline bool IsConvertible(uint16_t format, uint32_t tracks) {
    return format <= 1 && tracks > 0;
}
// Why a song that read well does not convert: its format field (format 2), or the header's chunk
// count, which announced no track chunk; headerOffset is where its "MThd" stands.
inline SmfFault UnconvertibleFault(uint16_t format, uint32_t headerOffset) {
    SmfFault fault;
    fault.kind = format > 1 ? SmfFaultKind::Format : SmfFaultKind::NoTrack;
    fault.offset = headerOffset + (format > 1 ? 8 : 10);
    return fault;
}
