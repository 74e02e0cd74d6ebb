// StreamEncoder.h: the encoder of stream events and the cutting of blocks, for events that come
// in batches from wherever they are read (a track or a merge of the song model, or a merge
// straight from the file's image), and blocks that go wherever they are kept (memory, a file).
#pragma once
#include <cstdint>

#include "core/Bytes.h"
#include "core/ConversionOptions.h"
#include "core/MergedEvent.h"
#include "core/StreamBlocks.h"

// Takes apart an event whose bytes the encoder needs (size 0); false when they are no event's.
class EventViewer {
public:
    virtual ~EventViewer() {}
    virtual bool View(const MergedEvent& event, EventView& view) const = 0;
};

// Where the encoder's blocks go as they are cut.
class BlockSink {
public:
    virtual ~BlockSink() {}
    // Memory for the bytes of the next block, which starts at tickStart: room for maxBufferBytes
    // of the options. Null when it cannot be had (memory runs out, the output failed).
    virtual uint8_t* StartBlock(uint32_t tickStart) = 0;
    // The block started last is complete with its first length bytes; false when it cannot be
    // kept.
    virtual bool EndBlock(uint32_t length) = 0;
};

// The walk of BuildStreamBlocks over events that come in batches: each event is encoded in
// place into the current block, and a block that its next event would overfill is handed on.
// A failed block (BlockSink) gives OutOfMemory; the sink knows better.
class StreamEncoder {
public:
    StreamEncoder(const ConversionOptions& options, BlockSink& sink, const EventViewer& viewer);
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // The first block, at tick 0.
    BuildResult Start();
    // Ok to go on.
    BuildResult Add(const MergedEvent* events, uint32_t count);
    // The last block, however short: every conversion has at least one.
    BuildResult Finish();
    // Stream events encoded so far.
    uint32_t Events() const { return encoded; }

private:
    // The walk, with or without the 4 bytes of stream identifiers.
    template <uint32_t IdBytes>
    BuildResult AddEvents(const MergedEvent* events, uint32_t count);
    // Any event, the walk's state in the members.
    BuildResult AddOne(const MergedEvent& event);
    // Keeps room for length more bytes in the current block, starting a new one when they would
    // pass the limit; false when the next block cannot be had.
    bool Room(uint32_t length);

    const ConversionOptions options;
    BlockSink& sink;
    const EventViewer& viewer;
    const uint32_t maxBytes;
    const uint32_t idBytes;
    const uint32_t shortLength;
    // With stream identifiers omitted, 4 bytes per event in the block are kept free, so a block
    // still fits its limit if a player puts the identifiers back.
    const uint32_t allowanceStep;
    uint8_t* out = nullptr;  // the current block's bytes
    uint32_t prevTick = 0;
    uint32_t used = 0;       // the current block's length
    uint32_t allowance = 0;  // at most 4 bytes per event of a block: never near 4 GB
    uint32_t lastStatus = 0;
    uint32_t encoded = 0;
};

// The blocks of a StreamBlockList, taken from its memory: the list is cleared first (ClearBlocks).
class BlockListSink : public BlockSink {
public:
    BlockListSink(StreamBlockList& blocks, const ConversionOptions& options)
        : blocks(blocks), model(options.maxBufferBytes) {
        blocks.ClearBlocks();
    }
    uint8_t* StartBlock(uint32_t tickStart) override;
    bool EndBlock(uint32_t length) override;

private:
    StreamBlockList& blocks;
    // Every block is a copy of this empty one, so each buffer grows in whole maxBufferBytes steps.
    const StreamBlock model;
    StreamBlock* current = nullptr;
};
