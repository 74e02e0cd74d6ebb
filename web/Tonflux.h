/* Tonflux.h: the whole converter behind one C interface, for the WebAssembly module (the page and
   the npm package) and for any C or C++ caller. Images in memory only: no file is read or
   written. Nothing here aborts or throws; running out of memory is a status like any refusal.
   Every field is 32 bits wide (pointers too, in the WebAssembly module), so a caller without C,
   such as the module's JavaScript loader, reads a result as an array of 32-bit words in the
   order declared. */
#ifndef TONFLUX_H
#define TONFLUX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum TonfluxStatus {
    TonfluxOk = 0,
    TonfluxNotSmf = 1,        /* fault: a TonfluxSmfFault; chunk, track, offset say where */
    TonfluxEventTooLarge = 2, /* a system exclusive message larger than an empty block */
    TonfluxNotMds = 3,        /* not a RIFF file of form MIDS */
    TonfluxMdsMalformed = 4,  /* fault: a TonfluxMdsFault; offset says where */
    TonfluxDeltaTooLarge = 5, /* a delta above 0x0FFFFFFF, which no SMF holds; at offset */
    TonfluxTextTooLong = 6,   /* a title or copyright of 256 MB or more; at offset */
    TonfluxOutOfMemory = 7,
    TonfluxBadOptions = 8 /* a buffer size outside 1 to 63 KB */
} TonfluxStatus;

typedef enum TonfluxDirection {
    TonfluxMidToMds = 1,
    TonfluxMdsToMid = 2 /* chosen whenever the image is a RIFF file of form MIDS */
} TonfluxDirection;

/* Why a Standard MIDI File was refused, as its reader says. */
typedef enum TonfluxSmfFault {
    TonfluxSmfNone = 0,
    TonfluxSmfNotSmf = 1, /* neither an SMF, a MacBinary SMF nor (lenient) an RMID file */
    TonfluxSmfCutShort = 2,
    TonfluxSmfHeaderLength = 3,
    TonfluxSmfFormat = 4,
    TonfluxSmfDivision = 5,
    TonfluxSmfMissingChunks = 6,
    TonfluxSmfSecondHeader = 7,
    TonfluxSmfChunkPastEnd = 8,
    TonfluxSmfEmptyTrack = 9,
    TonfluxSmfLongNumber = 10,
    TonfluxSmfDataWithoutStatus = 11,
    TonfluxSmfBadStatus = 12,
    TonfluxSmfMetaType = 13,
    TonfluxSmfMetaLength = 14,
    TonfluxSmfEndOfTrackNotAtEnd = 15,
    TonfluxSmfNoEndOfTrack = 16,
    TonfluxSmfNoTrack = 17
} TonfluxSmfFault;

/* Why a MIDI stream file cannot be decoded. */
typedef enum TonfluxMdsFault {
    TonfluxMdsNone = 0,
    TonfluxMdsNotRiff = 1,
    TonfluxMdsChunkOverrun = 2,
    TonfluxMdsMissingFormat = 3,
    TonfluxMdsFormatChunk = 4,
    TonfluxMdsTimeFormat = 5, /* an SMPTE time format whose frame rate does not exist */
    TonfluxMdsDataSize = 6,
    TonfluxMdsBlockOverrun = 7,
    TonfluxMdsEventOverrun = 8,
    TonfluxMdsBadShortMessage = 9
} TonfluxMdsFault;

/* The steps a progress callback hears, in this order (a refusal ends them early). */
typedef enum TonfluxStep {
    TonfluxStepRead = 1,     /* the input is read (the SMF parsed, or the MDS decoded) */
    TonfluxStepEncoded = 2,  /* the stream blocks are made (forward only) */
    TonfluxStepWritten = 3,  /* the output image is complete */
    TonfluxStepDescribed = 4 /* the stream's blocks and events are tabled */
} TonfluxStep;

typedef void (*TonfluxProgress)(void* context, uint32_t step);

/* Takes the MIDI stream file of a conversion in pieces as it is made, instead of the result's
   output. First called once with data null and length the bytes the file is expected to take (it
   may turn out a little larger); then with the pieces in order; last with a few bytes of the
   header again, at their offsets (its sizes, known only at the end). After a refusal what it took
   is no file. Returns nonzero, or 0 when it cannot take them: the conversion then ends in
   TonfluxOutOfMemory. */
typedef uint32_t (*TonfluxWrite)(void* context, uint32_t offset, const uint8_t* data,
                                 uint32_t length);

/* The options of tonflux-convert; TonfluxDefaultOptions gives its defaults. */
typedef struct TonfluxOptions {
    uint32_t bufferKb;        /* the largest stream buffer, 1 to 63 KB (default 4); forward only */
    uint32_t runningStatus;   /* nonzero: use running status (default); both directions */
    uint32_t streamIds;       /* nonzero: keep stream identifiers (default); forward only */
    uint32_t lenient;         /* nonzero: read SMF files that break the rules as real files do */
    uint32_t describe;        /* nonzero: also table the stream's blocks and events (default) */
    TonfluxProgress progress; /* may be null */
    void* context;            /* passed to progress */
    /* May be null. When set and describe is not, the way there gives its output to write (the
       tables are read from an output kept in the result). */
    TonfluxWrite write;
    void* writeContext; /* passed to write */
} TonfluxOptions;

/* A block of the stream: its start tick, where its first event is in the file, its length in
   bytes and the index of its first event in the event tables. */
typedef struct TonfluxBlock {
    uint32_t tickStart;
    uint32_t offset;
    uint32_t length;
    uint32_t firstEvent;
} TonfluxBlock;

typedef struct TonfluxResult {
    uint32_t status;    /* a TonfluxStatus */
    uint32_t direction; /* a TonfluxDirection; 0 for TonfluxDescribe of a MIDI stream file */
    /* A refusal: the reader's fault, the chunk (counted from 1 as the header counts them; 0 for
       the header) and whether it is a track chunk, the byte offset in the file, and whether the
       lenient reading converts the file with the same options (tonflux-convert's --lenient
       hint). */
    uint32_t fault;
    uint32_t chunk;
    uint32_t track;
    uint32_t offset;
    uint32_t lenientConverts;
    uint32_t mends; /* the lenient reading's rules that the file needed, as bits */
    /* The converted file, owned by the result; null when it went to the options' write, with
       outputLength its size. */
    uint8_t* output;
    uint32_t outputLength;
    /* As tonflux-convert reports them: stream blocks and stream events (for TonfluxDescribe,
       those of the file). */
    uint32_t blocks;
    uint32_t events;
    /* The stream (the file written, or the MIDI stream file read): its fmt chunk, and its title and
       copyright (the first INAM and ICOP, one terminating NUL left off; null when absent), which
       point into the image converted or described. */
    uint32_t timeFormat;
    uint32_t maxBufferBytes;
    uint32_t flags; /* 1: the events carry no stream identifiers */
    const uint8_t* title;
    uint32_t titleLength;
    const uint8_t* copyright;
    uint32_t copyrightLength;
    /* The tables, filled when asked for and memory allowed (described nonzero). Each event: its
       absolute tick, its word (type << 24 | parameter: a short message with its status restored,
       status | data1 << 8 | data2 << 16; a tempo in microseconds per quarter note; the length of a
       long message) and its byte offset in the file. Events that a player skips (MEVT_NOP and
       other types) are left out. */
    uint32_t described;
    const TonfluxBlock* blockTable;
    const uint32_t* ticks;
    const uint32_t* words;
    const uint32_t* offsets;
    void* owned; /* private */
} TonfluxResult;

void TonfluxDefaultOptions(TonfluxOptions* options);

/* Converts image, either way as its content says: a RIFF file of form MIDS becomes a format 0
   SMF, anything else is read as an SMF and becomes a MIDI stream file. options may be null for
   the defaults. result is overwritten; release it with TonfluxRelease whatever the status. The
   image may be released as soon as this returns, except that the result's title and copyright
   point into it. Returns result->status. */
uint32_t TonfluxConvert(const uint8_t* image, uint32_t size, const TonfluxOptions* options,
                        TonfluxResult* result);

/* Tables the stream of image into the result's stream fields and tables. A MIDI stream file of
   any writer is decoded, its fields pointing into image, with direction and output empty; it is
   refused with TonfluxMdsMalformed where the decoder stops. Anything else is converted as
   TonfluxConvert converts it with options (null for the defaults; the tables are made whatever
   describe says), and the stream it converts to is described: the result is that conversion's,
   refusals included. TonfluxOutOfMemory when the tables find no memory. */
uint32_t TonfluxDescribe(const uint8_t* image, uint32_t size, const TonfluxOptions* options,
                         TonfluxResult* result);

/* Frees what result owns and empties it. */
void TonfluxRelease(TonfluxResult* result);

#ifdef __cplusplus
}
#endif

#endif
