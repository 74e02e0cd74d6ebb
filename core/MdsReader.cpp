#include "core/MdsReader.h"

#include <cstring>

#include "core/Bytes.h"

namespace {

// Every byte is read through a ByteReader over the part of the image it belongs to (the file, a
// chunk, a block), so no size from the file can lead a read outside it; offsets in reports count
// from the start of the image.
class Decoder {
public:
    Decoder(const uint8_t* image, uint32_t size, MdsVisitor& visitor)
        : image(image), size(size), visitor(visitor) {}

    MdsCheck Run();

private:
    uint32_t Offset(const uint8_t* p) const { return uint32_t(p - image); }
    uint32_t Offset(const ByteReader& r) const { return Offset(r.Position()); }
    static bool NextChunk(ByteReader& r, ByteReader& data);
    MdsFault Chunks(uint32_t riffEnd);
    MdsFault Format(ByteReader data);
    MdsFault Data(ByteReader data);
    MdsFault Events(ByteReader r, uint32_t block, uint32_t& events);
    MdsFault Short(uint32_t word, uint32_t wordAt, MdsEvent& event);
    MdsFault List(ByteReader data);
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
    ByteReader riff(image + 4, 4);
    header.riffBytes = riff.Le32();
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

// The chunk at r's position: data becomes its data, and r moves past it and the fill byte of an
// odd length. False, with r unmoved, when its header, its data or its fill byte runs past r's end.
bool Decoder::NextChunk(ByteReader& r, ByteReader& data) {
    ByteReader chunk = r;
    if (!chunk.Skip(4)) return false;
    const uint32_t length = chunk.Le32();
    if (!chunk.Ok() || length > chunk.Left() || ((length & 1) && length == chunk.Left()))
        return false;
    data = chunk.Take(length);
    chunk.Skip(length & 1);
    r = chunk;
    return true;
}

MdsFault Decoder::Chunks(uint32_t riffEnd) {
    ByteReader r(image, size);
    r.Skip(12);
    while (!r.AtEnd()) {
        const uint8_t* const id = r.Position();
        ByteReader data;
        if (!NextChunk(r, data))
            // Past the end of the RIFF chunk a fragment is no chunk of the file, only what came
            // after it (zeros a copy program padded with, say); inside, the file is damaged.
            return Offset(id) >= riffEnd ? MdsFault::None
                                         : Fail(MdsFault::ChunkOverrun, Offset(id));
        MdsFault fault = MdsFault::None;
        if (std::memcmp(id, "fmt ", 4) == 0)
            fault = Format(data);
        else if (std::memcmp(id, "data", 4) == 0)
            fault = Data(data);
        else if (std::memcmp(id, "LIST", 4) == 0)
            fault = List(data);
        if (fault != MdsFault::None) return fault;
    }
    return MdsFault::None;
}

MdsFault Decoder::Format(ByteReader data) {
    const uint32_t chunk = Offset(data) - 8;
    if (haveFormat || data.Left() < 12) return Fail(MdsFault::FormatChunk, chunk);
    header.timeFormat = data.Le32();
    header.maxBufferBytes = data.Le32();
    header.flags = data.Le32();
    if (header.flags > 1) return Fail(MdsFault::FormatChunk, chunk + 16);
    // No player can time such a file, and the way back would write the rate into an SMF that no
    // reader takes.
    if (!IsValidDivision(uint16_t(header.timeFormat))) return Fail(MdsFault::TimeFormat, chunk + 8);
    haveFormat = true;
    return MdsFault::None;
}

MdsFault Decoder::Data(ByteReader data) {
    const uint32_t chunk = Offset(data) - 8;
    if (!haveFormat) return Fail(MdsFault::MissingFormat, chunk);
    if (haveData || data.Left() < 4) return Fail(MdsFault::DataSize, chunk);
    haveData = true;
    header.blockCount = data.Le32();
    visitor.Header(header);
    for (uint32_t i = 0; i < header.blockCount; ++i) {
        const uint32_t at = Offset(data);
        if (data.Left() < 8) return Fail(MdsFault::DataSize, at);
        MdsBlock block;
        block.index = i;
        block.tickStart = data.Le32();
        block.length = data.Le32();
        block.offset = at + 8;
        if (block.length > data.Left()) return Fail(MdsFault::BlockOverrun, at + 4);
        if (block.length % 4) Deviate(MdsFault::BlockAlignment, at + 4);
        // A player starts each block where the deltas reached; a tickStart that says otherwise
        // changes nothing it plays.
        if (i == 0)
            tick = block.tickStart;
        else if (block.tickStart != tick)
            Deviate(MdsFault::TickStart, at);
        visitor.Block(block);
        uint32_t events = 0;
        const MdsFault fault = Events(data.Take(block.length), i, events);
        if (fault != MdsFault::None) return fault;
        // Without identifiers each event must leave 4 bytes free, so that the block still fits
        // when a player puts the identifiers back.
        const uint64_t counted = block.length + (header.flags ? uint64_t(events) * 4 : 0);
        if (counted > header.maxBufferBytes) Deviate(MdsFault::BlockTooLarge, at + 4);
    }
    // Bytes after the last block may be blocks the count left out: refused rather than dropped.
    if (!data.AtEnd()) return Fail(MdsFault::DataSize, Offset(data));
    return MdsFault::None;
}

MdsFault Decoder::Events(ByteReader r, uint32_t block, uint32_t& events) {
    const uint32_t head = header.flags ? 8 : 12;
    while (!r.AtEnd()) {
        const uint32_t at = Offset(r);
        if (r.Left() < head) return Fail(MdsFault::EventOverrun, at);
        MdsEvent event;
        event.offset = at;
        event.block = block;
        event.delta = r.Le32();
        if (!header.flags) {
            event.streamId = r.Le32();
            if (event.streamId != 0) Deviate(MdsFault::StreamId, at + 4);
        }
        const uint32_t wordAt = Offset(r);
        event.word = r.Le32();
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
            event.params = r.Bytes(event.paramLength);
            if (!event.params) return Fail(MdsFault::EventOverrun, wordAt);
            // The fill up to a multiple of 4; a block whose length is no multiple of 4 may end
            // before it.
            for (uint32_t i = event.paramLength % 4; i % 4 && !r.AtEnd(); ++i) {
                const uint32_t fillAt = Offset(r);
                if (r.Byte() != 0) Deviate(MdsFault::NonZeroFill, fillAt);
            }
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
    const bool twoBytes = ChannelDataBytes(status) == 1;
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

MdsFault Decoder::List(ByteReader data) {
    const uint32_t chunk = Offset(data) - 8;
    // Other lists (adtl, a writer's own) hold nothing a song needs.
    if (!data.Is("INFO")) {
        Deviate(MdsFault::ListChunk, chunk);
        return MdsFault::None;
    }
    if (haveList) Deviate(MdsFault::ListChunk, chunk);
    haveList = true;
    data.Skip(4);
    while (!data.AtEnd()) {
        const uint8_t* const id = data.Position();
        ByteReader text;
        if (!NextChunk(data, text)) return Fail(MdsFault::ChunkOverrun, Offset(id));
        if (std::memcmp(id, "INAM", 4) == 0) visitor.Text("INAM", text.Position(), text.Left());
        if (std::memcmp(id, "ICOP", 4) == 0) visitor.Text("ICOP", text.Position(), text.Left());
    }
    return MdsFault::None;
}

}  // namespace

bool IsMdsImage(const uint8_t* image, uint32_t size) {
    if (!image) return false;
    ByteReader r(image, size);
    return r.Is("RIFF") && r.Skip(8) && r.Is("MIDS");
}

MdsCheck DecodeMds(const uint8_t* image, uint32_t size, MdsVisitor& visitor) {
    if (!image) size = 0;
    return Decoder(image, size, visitor).Run();
}
