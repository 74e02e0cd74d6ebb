// MdsReader.h: decodes a MIDI stream file back into its events and checks its structure. Works on
// a memory image it never trusts; allocates nothing. It reads the files of any writer; where a
// file departs from the layout our own writer produces, it says so and goes on.
#pragma once
#include <cstdint>

struct MdsHeader {
    uint32_t fileBytes = 0;  // the image's size
    uint32_t riffBytes = 0;  // the RIFF chunk's size field
    uint32_t timeFormat = 0;
    uint32_t maxBufferBytes = 0;
    uint32_t flags = 0;  // 1: no stream identifiers in the events
    uint32_t blockCount = 0;
};

struct MdsBlock {
    uint32_t index = 0;
    uint32_t offset = 0;  // of the block's first event in the file
    uint32_t tickStart = 0;
    uint32_t length = 0;
};

// Skipped: every event type but these three (MEVT_NOP, MEVT_COMMENT, MEVT_VERSION, ...); a player
// sends nothing for it.
enum class MdsEventKind { Short, Tempo, Long, Skipped };

struct MdsEvent {
    uint32_t offset = 0;  // in the file
    uint32_t block = 0;
    uint32_t tick = 0;  // absolute: the deltas summed from the first block's tickStart
    uint32_t delta = 0;
    uint32_t streamId = 0;
    uint32_t word = 0;
    MdsEventKind kind = MdsEventKind::Short;
    // Short: the complete message, status restored where running status left it out.
    uint8_t message[3] = {};
    uint8_t messageLength = 0;
    bool runningStatus = false;       // the word left the status out
    uint32_t tempo = 0;               // Tempo: microseconds per quarter note
    const uint8_t* params = nullptr;  // Long (and a skipped long type): the parameter bytes,
    uint32_t paramLength = 0;         // inside the image
};

enum class MdsFault {
    None,
    // Faults: the file cannot be decoded; DecodeMds stops at the first.
    NotRiff,          // no RIFF header of form MIDS
    ChunkOverrun,     // a chunk runs past its parent (the file, or its LIST)
    MissingFormat,    // no fmt chunk before data, or no data chunk
    FormatChunk,      // fmt shorter than 12 bytes, flags other than 0 or 1, or a second fmt
    TimeFormat,       // an SMPTE time format whose frame rate does not exist
    DataSize,         // the data chunk disagrees with its block count and lengths, or a second one
    BlockOverrun,     // a block runs past the data chunk
    EventOverrun,     // an event runs past its block
    BadShortMessage,  // a status of 0xF0 or above, or running status before any short message
    // Deviations from our own writer's layout: reported to the visitor, decoding goes on.
    RiffSize,            // the RIFF size disagrees with the file's size
    BlockAlignment,      // a block length not a multiple of 4
    BlockTooLarge,       // a block (with 4 bytes per event when identifiers are omitted) over
                         // the maximum buffer size
    TickStart,           // a block's tickStart is not the tick reached before it
    UnknownEventType,    // an event type other than short, tempo or long, or the callback flag
    NonZeroFill,         // the fill after a long message's parameters is not zero
    StreamId,            // a stream identifier other than 0
    ListChunk,           // a LIST chunk that is not INFO, or a second one
    ShortMessageBytes,   // bytes in a short event's word beyond its message
    RunningStatusReset,  // running status right after a tempo or long message
};

struct MdsCheck {
    MdsFault fault = MdsFault::None;
    uint32_t offset = 0;  // where it was found
};

// Receives what the decoder finds, in file order. Texts come where their LIST stands, usually
// after the events.
class MdsVisitor {
public:
    virtual ~MdsVisitor() {}
    virtual void Header(const MdsHeader&) {}
    virtual void Block(const MdsBlock&) {}
    virtual void Event(const MdsEvent&) {}
    virtual void Text(const char (&)[5], const uint8_t*, uint32_t) {}  // INAM, ICOP of INFO lists
    virtual void Deviation(const MdsCheck&) {}
};

// True when the image begins as a MIDI stream file does: a RIFF header of form MIDS.
bool IsMdsImage(const uint8_t* image, uint32_t size);

// Decodes the image, reporting to visitor as it goes. Accepts both event sizes, any buffer and
// block sizes, a longer fmt chunk, other chunks anywhere, and a RIFF size that disagrees with the
// file (bytes past the RIFF chunk that are no whole chunk are left alone). Returns the fault at
// which it stopped, or None; deviations reach only the visitor.
MdsCheck DecodeMds(const uint8_t* image, uint32_t size, MdsVisitor& visitor);
