#include "core/MdsReader.h"

#include <cstring>

#include "core/Bytes.h"

namespace {

bool IsId(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// All offsets are checked against the image before a byte is read; sizes from the file are
// compared by subtraction so that no sum of them can wrap.
class Decoder {
public:
    Decoder(const uint8_t* image, uint32_t size, MdsVisitor& visitor)
        : image(image), size(size), visitor(visitor) {}

    MdsCheck Run();

private:
    bool NextChunk(uint32_t at, uint32_t end, uint32_t& length, uint32_t& next) const;
    MdsFault Chunks(uint32_t riffEnd);
    MdsFault Format(uint32_t at, uint32_t length);
    MdsFault Data(uint32_t at, uint32_t length);
    MdsFault Events(uint32_t at, uint32_t length, uint32_t block, uint32_t& events);
    MdsFault Short(uint32_t word, uint32_t wordAt, MdsEvent& event);
    MdsFault List(uint32_t at, uint32_t length);
    MdsFault Fail(MdsFault fault, uint32_t at) {
        faultOffset = at;
        return fault;
    }
    void Deviate(MdsFault deviation, uint32_t at) {
        MdsCheck check;
        check.fault = deviation;
        check.offset = at;
        visitor.Deviation(check);
    }

    const uint8_t* image;
    uint32_t size;
    MdsVisitor& visitor;
    MdsHeader header;
    bool haveFormat = false;
    bool haveData = false;
    bool haveList = false;
    uint32_t tick = 0;
    // A short message without its status takes the previous short message's. Our writer leaves
    // the status out only while no tempo or long message came between (runningStatusAllowed).
    uint8_t runningStatus = 0;
    bool runningStatusAllowed = false;
    uint32_t faultOffset = 0;
};

MdsCheck Decoder::Run() {
    MdsCheck check;
    header.fileBytes = size;
    if (!IsMdsImage(image, size)) {
        check.fault = MdsFault::NotRiff;
        return check;
    }
    header.riffBytes = GetLe32(image + 4);
    const uint32_t room = size - 8;
    // Our RIFF chunk is the whole file, its fill byte included when its size is odd. Other
    // writers leave the size at 0, count the header in it, or the file was cut or added to: the
    // chunks themselves tell where the song is.
    if (header.riffBytes < 4 || header.riffBytes > room ||
        room - header.riffBytes != (header.riffBytes & 1))
        Deviate(MdsFault::RiffSize, 4);
    const uint32_t riffEnd = header.riffBytes > room ? size : 8 + header.riffBytes;
    MdsFault fault = Chunks(riffEnd);
    if (fault == MdsFault::None && !haveData) fault = Fail(MdsFault::MissingFormat, size);
    check.fault = fault;
    check.offset = fault == MdsFault::None ? 0 : faultOffset;
    return check;
}

// The chunk at `at`, inside [at, end): its length, and where the next one starts, after the fill
// byte of an odd length. False when its header, its data or its fill byte runs past end.
bool Decoder::NextChunk(uint32_t at, uint32_t end, uint32_t& length, uint32_t& next) const {
    if (end - at < 8) return false;
    length = GetLe32(image + at + 4);
    if (length > end - at - 8) return false;
    next = at + 8 + length;
    if (length & 1) {
        if (next == end) return false;
        ++next;
    }
    return true;
}

MdsFault Decoder::Chunks(uint32_t riffEnd) {
    for (uint32_t at = 12, next = 0; at < size; at = next) {
        uint32_t length = 0;
        if (!NextChunk(at, size, length, next))
            // Past the end of the RIFF chunk a fragment is no chunk of the file, only what came
            // after it (zeros a copy program padded with, say); inside, the file is damaged.
            return at >= riffEnd ? MdsFault::None : Fail(MdsFault::ChunkOverrun, at);
        const uint8_t* id = image + at;
        MdsFault fault = MdsFault::None;
        if (IsId(id, "fmt "))
            fault = Format(at + 8, length);
        else if (IsId(id, "data"))
            fault = Data(at + 8, length);
        else if (IsId(id, "LIST"))
            fault = List(at + 8, length);
        if (fault != MdsFault::None) return fault;
    }
    return MdsFault::None;
}

MdsFault Decoder::Format(uint32_t at, uint32_t length) {
    if (haveFormat || length < 12) return Fail(MdsFault::FormatChunk, at - 8);
    header.timeFormat = GetLe32(image + at);
    header.maxBufferBytes = GetLe32(image + at + 4);
    header.flags = GetLe32(image + at + 8);
    if (header.flags > 1) return Fail(MdsFault::FormatChunk, at + 8);
    // No player can time such a file, and the way back would write the rate into an SMF that no
    // reader takes.
    if (!IsValidDivision(uint16_t(header.timeFormat))) return Fail(MdsFault::TimeFormat, at);
    haveFormat = true;
    return MdsFault::None;
}

MdsFault Decoder::Data(uint32_t at, uint32_t length) {
    if (!haveFormat) return Fail(MdsFault::MissingFormat, at - 8);
    if (haveData || length < 4) return Fail(MdsFault::DataSize, at - 8);
    haveData = true;
    header.blockCount = GetLe32(image + at);
    visitor.Header(header);
    const uint32_t end = at + length;
    uint32_t pos = at + 4;
    for (uint32_t i = 0; i < header.blockCount; ++i) {
        if (end - pos < 8) return Fail(MdsFault::DataSize, pos);
        MdsBlock block;
        block.index = i;
        block.tickStart = GetLe32(image + pos);
        block.length = GetLe32(image + pos + 4);
        block.offset = pos + 8;
        if (block.length > end - block.offset) return Fail(MdsFault::BlockOverrun, pos + 4);
        if (block.length % 4) Deviate(MdsFault::BlockAlignment, pos + 4);
        // A player starts each block where the deltas reached; a tickStart that says otherwise
        // changes nothing it plays.
        if (i == 0)
            tick = block.tickStart;
        else if (block.tickStart != tick)
            Deviate(MdsFault::TickStart, pos);
        visitor.Block(block);
        uint32_t events = 0;
        const MdsFault fault = Events(block.offset, block.length, i, events);
        if (fault != MdsFault::None) return fault;
        // Without identifiers each event must leave 4 bytes free, so that the block still fits
        // when a player puts the identifiers back.
        const uint64_t counted = block.length + (header.flags ? uint64_t(events) * 4 : 0);
        if (counted > header.maxBufferBytes) Deviate(MdsFault::BlockTooLarge, pos + 4);
        pos = block.offset + block.length;
    }
    // Bytes after the last block may be blocks the count left out: refused rather than dropped.
    if (pos != end) return Fail(MdsFault::DataSize, pos);
    return MdsFault::None;
}

MdsFault Decoder::Events(uint32_t at, uint32_t length, uint32_t block, uint32_t& events) {
    const uint32_t end = at + length;
    const uint32_t head = header.flags ? 8 : 12;
    while (at < end) {
        if (end - at < head) return Fail(MdsFault::EventOverrun, at);
        MdsEvent event;
        event.offset = at;
        event.block = block;
        event.delta = GetLe32(image + at);
        if (!header.flags) {
            event.streamId = GetLe32(image + at + 4);
            if (event.streamId != 0) Deviate(MdsFault::StreamId, at + 4);
        }
        const uint32_t wordAt = at + head - 4;
        event.word = GetLe32(image + wordAt);
        at += head;
        tick += event.delta;  // wraps at 2^32 as the song's ticks do
        event.tick = tick;
        uint8_t type = uint8_t(event.word >> 24);
        if (type & 0x40) {  // MEVT_F_CALLBACK: asks the player to report the event, nothing more
            Deviate(MdsFault::UnknownEventType, wordAt);
            type &= 0xBF;
        }
        if (type & 0x80) {  // MEVT_F_LONG: parameters follow, whatever the type
            event.kind = type == 0x80 ? MdsEventKind::Long : MdsEventKind::Skipped;
            event.paramLength = event.word & 0xFFFFFF;
            if (event.paramLength > end - at) return Fail(MdsFault::EventOverrun, wordAt);
            event.params = image + at;
            at += event.paramLength;
            // The fill up to a multiple of 4; a block whose length is no multiple of 4 may end
            // before it.
            for (uint32_t i = event.paramLength % 4; i % 4 && at < end; ++i, ++at)
                if (image[at] != 0) Deviate(MdsFault::NonZeroFill, at);
            if (event.kind == MdsEventKind::Long) runningStatusAllowed = false;
        } else if (type == 0x00) {
            const MdsFault fault = Short(event.word, wordAt, event);
            if (fault != MdsFault::None) return Fail(fault, wordAt);
        } else if (type == 0x01) {
            event.kind = MdsEventKind::Tempo;
            event.tempo = event.word & 0xFFFFFF;
            runningStatusAllowed = false;
        } else {
            event.kind = MdsEventKind::Skipped;
        }
        if (event.kind == MdsEventKind::Skipped) Deviate(MdsFault::UnknownEventType, wordAt);
        ++events;
        visitor.Event(event);
    }
    return MdsFault::None;
}

MdsFault Decoder::Short(uint32_t word, uint32_t wordAt, MdsEvent& event) {
    const uint8_t b0 = uint8_t(word), b1 = uint8_t(word >> 8), b2 = uint8_t(word >> 16);
    uint8_t status, data1, data2, unused;
    if (b0 < 0x80) {
        if (!runningStatus) return MdsFault::BadShortMessage;
        if (!runningStatusAllowed) Deviate(MdsFault::RunningStatusReset, wordAt);
        status = runningStatus;
        data1 = b0;
        data2 = b1;
        unused = b2;
        event.runningStatus = true;
    } else {
        if (b0 >= 0xF0) return MdsFault::BadShortMessage;
        status = b0;
        data1 = b1;
        data2 = b2;
        unused = 0;
    }
    const bool twoBytes = (status & 0xE0) == 0xC0;
    if (unused || (twoBytes && data2)) Deviate(MdsFault::ShortMessageBytes, wordAt);
    event.kind = MdsEventKind::Short;
    event.message[0] = status;
    event.message[1] = data1;
    event.message[2] = twoBytes ? 0 : data2;
    event.messageLength = twoBytes ? 2 : 3;
    runningStatus = status;
    runningStatusAllowed = true;
    return MdsFault::None;
}

MdsFault Decoder::List(uint32_t at, uint32_t length) {
    // Other lists (adtl, a writer's own) hold nothing a song needs.
    if (length < 4 || !IsId(image + at, "INFO")) {
        Deviate(MdsFault::ListChunk, at - 8);
        return MdsFault::None;
    }
    if (haveList) Deviate(MdsFault::ListChunk, at - 8);
    haveList = true;
    const uint32_t end = at + length;
    for (uint32_t pos = at + 4, next = 0; pos < end; pos = next) {
        uint32_t textLength = 0;
        if (!NextChunk(pos, end, textLength, next)) return Fail(MdsFault::ChunkOverrun, pos);
        if (IsId(image + pos, "INAM")) visitor.Text("INAM", image + pos + 8, textLength);
        if (IsId(image + pos, "ICOP")) visitor.Text("ICOP", image + pos + 8, textLength);
    }
    return MdsFault::None;
}

}  // namespace

bool IsMdsImage(const uint8_t* image, uint32_t size) {
    return image && size >= 12 && IsId(image, "RIFF") && IsId(image + 8, "MIDS");
}

MdsCheck DecodeMds(const uint8_t* image, uint32_t size, MdsVisitor& visitor) {
    if (!image) size = 0;
    return Decoder(image, size, visitor).Run();
}
