// MdsReader.h: checks a MIDI stream file's structure and decodes its blocks back into events.
// Works on a memory image it never trusts; allocates nothing.
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

enum class MdsEventKind { Short, Tempo, Long };

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
    const uint8_t* params = nullptr;  // Long: the parameter bytes, inside the image
    uint32_t paramLength = 0;
};

// Receives what the decoder finds, in file order. The texts come after the events, as in the file.
class MdsVisitor {
public:
    virtual ~MdsVisitor() {}
    virtual void Header(const MdsHeader&) {}
    virtual void Block(const MdsBlock&) {}
    virtual void Event(const MdsEvent&) {}
    virtual void Text(const char (&)[5], const uint8_t*, uint32_t) {}  // INAM, ICOP
};

enum class MdsFault {
    None,
    NotRiff,           // no RIFF header of form MIDS
    RiffSize,          // the RIFF size disagrees with the file's size
    ChunkOverrun,      // a chunk runs past its parent
    MissingFormat,     // no fmt chunk before data, or no data chunk
    FormatChunk,       // fmt shorter than 12 bytes, flags other than 0 or 1, or a second fmt
    DataSize,          // the data chunk disagrees with its block count and lengths
    BlockOverrun,      // a block runs past the data chunk
    BlockAlignment,    // a block length not a multiple of 4
    BlockTooLarge,     // a block (with 4 bytes per event when identifiers are omitted) over
                       // the maximum buffer size
    TickStart,         // a block's tickStart is not the tick reached before it
    EventOverrun,      // an event runs past its block
    UnknownEventType,  // an event word whose type is not short, tempo or long
    BadShortMessage,   // a status outside 0x80-0xEF, or running status with none to run on
    NonZeroFill,       // the fill after a long message's parameters is not zero
    StreamId,          // a stream identifier other than 0
    ListChunk,         // a LIST chunk that is not INFO, or a second one
};

struct MdsCheck {
    MdsFault fault = MdsFault::None;
    uint32_t offset = 0;  // where the fault was found
};

// Decodes the image, reporting to visitor as it goes; stops at the first fault.
MdsCheck DecodeMds(const uint8_t* image, uint32_t size, MdsVisitor& visitor);
