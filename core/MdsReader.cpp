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
    MdsFault Chunks(uint32_t from, uint32_t end);
    MdsFault Format(uint32_t at, uint32_t length);
    MdsFault Data(uint32_t at, uint32_t length);
    MdsFault Events(uint32_t at, uint32_t length, uint32_t block, uint32_t& events);
    MdsFault Short(uint32_t word, MdsEvent& event);
    MdsFault List(uint32_t at, uint32_t length);
    MdsFault Fail(MdsFault fault, uint32_t at) {
        faultOffset = at;
        return fault;
    }

    const uint8_t* image;
    uint32_t size;
    MdsVisitor& visitor;
    MdsHeader header;
    bool haveFormat = false;
    bool haveData = false;
    bool haveList = false;
    uint32_t tick = 0;
    uint8_t lastStatus = 0;
    uint32_t faultOffset = 0;
};

MdsCheck Decoder::Run() {
    MdsCheck check;
    header.fileBytes = size;
    if (size < 12 || !IsId(image, "RIFF") || !IsId(image + 8, "MIDS")) {
        check.fault = MdsFault::NotRiff;
        return check;
    }
    header.riffBytes = GetLe32(image + 4);
    const uint32_t room = size - 8;
    // The RIFF chunk must be the whole file, its fill byte included when its size is odd.
    if (header.riffBytes < 4 || header.riffBytes > room ||
        room - header.riffBytes != (header.riffBytes & 1)) {
        check.fault = MdsFault::RiffSize;
        check.offset = 4;
        return check;
    }
    MdsFault fault = Chunks(12, 8 + header.riffBytes);
    if (fault == MdsFault::None && !haveData) fault = Fail(MdsFault::MissingFormat, size);
    check.fault = fault;
    check.offset = fault == MdsFault::None ? 0 : faultOffset;
    return check;
}

MdsFault Decoder::Chunks(uint32_t at, uint32_t end) {
    while (at < end) {
        if (end - at < 8) return Fail(MdsFault::ChunkOverrun, at);
        const uint8_t* id = image + at;
        const uint32_t length = GetLe32(image + at + 4);
        const uint32_t data = at + 8;
        if (length > end - data) return Fail(MdsFault::ChunkOverrun, at);
        MdsFault fault = MdsFault::None;
        if (IsId(id, "fmt "))
            fault = Format(data, length);
        else if (IsId(id, "data"))
            fault = Data(data, length);
        else if (IsId(id, "LIST"))
            fault = List(data, length);
        if (fault != MdsFault::None) return fault;
        at = data + length;
        if (length & 1) {
            if (at == end) return Fail(MdsFault::ChunkOverrun, at);
            ++at;
        }
    }
    return MdsFault::None;
}

MdsFault Decoder::Format(uint32_t at, uint32_t length) {
    if (haveFormat || length < 12) return Fail(MdsFault::FormatChunk, at - 8);
    header.timeFormat = GetLe32(image + at);
    header.maxBufferBytes = GetLe32(image + at + 4);
    header.flags = GetLe32(image + at + 8);
    if (header.flags > 1) return Fail(MdsFault::FormatChunk, at + 8);
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
        if (block.length % 4) return Fail(MdsFault::BlockAlignment, pos + 4);
        if (i == 0)
            tick = block.tickStart;
        else if (block.tickStart != tick)
            return Fail(MdsFault::TickStart, pos);
        visitor.Block(block);
        uint32_t events = 0;
        const MdsFault fault = Events(block.offset, block.length, i, events);
        if (fault != MdsFault::None) return fault;
        // Without identifiers each event must leave 4 bytes free, so that the block still fits
        // when a player puts the identifiers back.
        const uint64_t counted = block.length + (header.flags ? uint64_t(events) * 4 : 0);
        if (counted > header.maxBufferBytes) return Fail(MdsFault::BlockTooLarge, pos + 4);
        pos = block.offset + block.length;
    }
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
            if (event.streamId != 0) return Fail(MdsFault::StreamId, at + 4);
        }
        event.word = GetLe32(image + at + head - 4);
        at += head;
        tick += event.delta;  // wraps at 2^32 as the song's ticks do
        event.tick = tick;
        switch (event.word >> 24) {
            case 0x00: {
                const MdsFault fault = Short(event.word, event);
                if (fault != MdsFault::None) return Fail(fault, at - 4);
                break;
            }
            case 0x01:
                event.kind = MdsEventKind::Tempo;
                event.tempo = event.word & 0xFFFFFF;
                lastStatus = 0;
                break;
            case 0x80: {
                event.kind = MdsEventKind::Long;
                event.paramLength = event.word & 0xFFFFFF;
                const uint32_t fill = (4 - event.paramLength % 4) % 4;
                if (event.paramLength > end - at || fill > end - at - event.paramLength)
                    return Fail(MdsFault::EventOverrun, at - 4);
                event.params = image + at;
                at += event.paramLength;
                for (uint32_t i = 0; i < fill; ++i, ++at)
                    if (image[at] != 0) return Fail(MdsFault::NonZeroFill, at);
                lastStatus = 0;
                break;
            }
            default:
                return Fail(MdsFault::UnknownEventType, at - 4);
        }
        ++events;
        visitor.Event(event);
    }
    return MdsFault::None;
}

MdsFault Decoder::Short(uint32_t word, MdsEvent& event) {
    const uint8_t b0 = uint8_t(word), b1 = uint8_t(word >> 8), b2 = uint8_t(word >> 16);
    uint8_t status, data1, data2, unused;
    if (b0 < 0x80) {
        if (!lastStatus) return MdsFault::BadShortMessage;
        status = lastStatus;
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
    if (unused || (twoBytes && data2)) return MdsFault::BadShortMessage;
    event.kind = MdsEventKind::Short;
    event.message[0] = status;
    event.message[1] = data1;
    event.message[2] = twoBytes ? 0 : data2;
    event.messageLength = twoBytes ? 2 : 3;
    lastStatus = status;
    return MdsFault::None;
}

MdsFault Decoder::List(uint32_t at, uint32_t length) {
    if (haveList || length < 4 || !IsId(image + at, "INFO"))
        return Fail(MdsFault::ListChunk, at - 8);
    haveList = true;
    const uint32_t end = at + length;
    for (uint32_t pos = at + 4; pos < end;) {
        if (end - pos < 8) return Fail(MdsFault::ChunkOverrun, pos);
        const uint32_t textLength = GetLe32(image + pos + 4);
        const uint32_t data = pos + 8;
        if (textLength > end - data) return Fail(MdsFault::ChunkOverrun, pos);
        if (IsId(image + pos, "INAM")) visitor.Text("INAM", image + data, textLength);
        if (IsId(image + pos, "ICOP")) visitor.Text("ICOP", image + data, textLength);
        pos = data + textLength;
        if (textLength & 1) {
            if (pos == end) return Fail(MdsFault::ChunkOverrun, pos);
            ++pos;
        }
    }
    return MdsFault::None;
}

}  // namespace

MdsCheck DecodeMds(const uint8_t* image, uint32_t size, MdsVisitor& visitor) {
    if (!image) size = 0;
    return Decoder(image, size, visitor).Run();
}
