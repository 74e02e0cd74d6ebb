// Tonflux.cpp: the C interface over the core's conversion entries. The one place where the
// WebAssembly module (and so the page and the npm package) calls the core.
#include "web/Tonflux.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "core/Bytes.h"
#include "core/Conversion.h"
#include "core/MdsReader.h"

namespace {

// The JavaScript loader reads these structures as arrays of 32-bit words.
static_assert(sizeof(TonfluxOptions) == 9 * sizeof(uint32_t) || sizeof(void*) != 4, "options");
static_assert(sizeof(TonfluxResult) == 25 * sizeof(uint32_t) || sizeof(void*) != 4, "result");
static_assert(offsetof(TonfluxResult, owned) == 24 * sizeof(uint32_t) || sizeof(void*) != 4,
              "result");

// The numbers of the interface are the core's own: a new fault must be added to both.
static_assert(uint32_t(SmfFaultKind::NoTrack) == TonfluxSmfNoTrack, "SMF faults");
static_assert(uint32_t(SmfFaultKind::EndOfTrackNotAtEnd) == TonfluxSmfEndOfTrackNotAtEnd,
              "SMF faults");
static_assert(uint32_t(SmfFaultKind::DataWithoutStatus) == TonfluxSmfDataWithoutStatus,
              "SMF faults");
static_assert(uint32_t(SmfFaultKind::CutShort) == TonfluxSmfCutShort, "SMF faults");
static_assert(uint32_t(MdsFault::BadShortMessage) == TonfluxMdsBadShortMessage, "MDS faults");
static_assert(uint32_t(MdsFault::ChunkOverrun) == TonfluxMdsChunkOverrun, "MDS faults");
static_assert(uint32_t(MdsFault::TimeFormat) == TonfluxMdsTimeFormat, "MDS faults");

// A stream file written into memory as it is made. The room is taken in one piece for what the
// song's events are known to need, with a little over for the blocks' unused ends, and the
// blocks are encoded straight into it: the file is neither copied nor moved. Should a song need
// more (long messages leave blocks partly empty), the room doubles.
class ImageOutput final : public MdsOutput {
public:
    ImageOutput() {}
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;
    ~ImageOutput() override { delete[] data; }

    void Expect(uint64_t leastBytes) override { Fit(leastBytes + leastBytes / 64 + 4096); }
    uint8_t* Room(uint32_t n) override { return Fit(n) ? data + size : nullptr; }
    bool Write(const uint8_t* bytes, uint32_t n) override {
        if (bytes != data + size) {  // else Room's memory, filled in place
            if (!Fit(n)) return false;
            std::memcpy(data + size, bytes, n);
        }
        size += n;
        return true;
    }
    bool WriteAt(uint32_t offset, const uint8_t* bytes, uint32_t n) override {
        std::memcpy(data + offset, bytes, n);
        return true;
    }

    uint8_t* Data() const { return data; }
    uint32_t Size() const { return size; }

private:
    bool Fit(uint64_t n) {  // room for n more bytes
        if (n <= capacity - size) return true;
        const uint64_t need = size + n;
        if (need > UINT32_MAX) return false;
        uint64_t room = need > 2 * uint64_t(capacity) ? need : 2 * uint64_t(capacity);
        if (room > UINT32_MAX) room = UINT32_MAX;
        uint8_t* grown = new (std::nothrow) uint8_t[size_t(room)];
        if (!grown && room > need) grown = new (std::nothrow) uint8_t[size_t(room = need)];
        if (!grown) return false;
        if (size) std::memcpy(grown, data, size);
        delete[] data;
        data = grown;
        capacity = uint32_t(room);
        return true;
    }

    uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t capacity = 0;
};

// A stream file handed to the caller's write in pieces as it is made. The blocks are encoded
// straight into one piece's memory, used again for the next: a file of any size passes through
// the same few hundred kilobytes, which stay in the processor's cache.
class PieceOutput final : public MdsOutput {
public:
    PieceOutput(TonfluxWrite write, void* context) : write(write), context(context) {}
    PieceOutput(const PieceOutput&) = delete;
    PieceOutput& operator=(const PieceOutput&) = delete;
    ~PieceOutput() override { delete[] piece; }

    void Expect(uint64_t leastBytes) override {
        const uint64_t expected = leastBytes + leastBytes / 64 + 4096;
        taken = write(context, 0, nullptr, expected > UINT32_MAX ? UINT32_MAX : uint32_t(expected));
        piece = new (std::nothrow) uint8_t[PieceBytes];  // without it, every write goes through
    }
    uint8_t* Room(uint32_t n) override {
        if (!piece || n > PieceBytes || (n > PieceBytes - used && !Flush())) return nullptr;
        return piece + used;
    }
    bool Write(const uint8_t* data, uint32_t n) override {
        if (piece && data == piece + used) {  // Room's memory, filled in place
            used += n;
            return true;
        }
        if (piece && n <= PieceBytes - used) {
            std::memcpy(piece + used, data, n);
            used += n;
            return true;
        }
        if (!Flush()) return false;
        taken = taken && write(context, flushed, data, n);
        flushed += n;
        return taken;
    }
    bool WriteAt(uint32_t offset, const uint8_t* data, uint32_t n) override {
        if (offset < flushed) {  // in a piece handed over already
            const uint32_t over = n < flushed - offset ? n : flushed - offset;
            taken = taken && write(context, offset, data, over);
            offset += over;
            data += over;
            n -= over;
        }
        if (n) std::memcpy(piece + (offset - flushed), data, n);
        return taken;
    }
    uint32_t Size() const { return flushed + used; }
    // Hands over what is left; true when write took everything.
    bool Flush() {
        if (used) taken = taken && write(context, flushed, piece, used);
        flushed += used;
        used = 0;
        return taken;
    }

private:
    static constexpr uint32_t PieceBytes = 256 * 1024;
    const TonfluxWrite write;
    void* const context;
    uint8_t* piece = nullptr;
    uint32_t used = 0;
    uint32_t flushed = 0;  // bytes handed over before the piece's
    bool taken = true;
};

// What a result owns: the output (a stream file, or an SMF on the way back) and the tables.
struct Owned {
    explicit Owned(uint32_t midiBytes) : midi(midiBytes) {}
    ImageOutput mds;
    MemoryFile midi;
    TonfluxBlock* blocks = nullptr;
    uint32_t* events = nullptr;  // ticks, then words, then offsets
    ~Owned() {
        delete[] blocks;
        delete[] events;
    }
};

ConversionOptions MakeOptions(const TonfluxOptions& options) {
    return MakeConversionOptions(options.bufferKb, options.runningStatus != 0, !options.streamIds);
}

void Step(const TonfluxOptions& options, TonfluxStep step) {
    if (options.progress) options.progress(options.context, step);
}

// A text as the way back takes it: most writers end it with a NUL.
uint32_t TextLength(const uint8_t* text, uint32_t length) {
    return length > 0 && text[length - 1] == 0 ? length - 1 : length;
}

uint32_t Finish(TonfluxResult& result, TonfluxStatus status) {
    result.status = status;
    return status;
}

// Tables the stream of a MIDI stream file. Without tables it only counts; with them it fills
// tables of that size, and never past them should the file hold more.
class StreamTable final : public MdsVisitor {
public:
    StreamTable(TonfluxBlock* blocks, uint32_t blockRoom, uint32_t* events, uint32_t eventRoom)
        : blocks(blocks), blockRoom(blockRoom), events(events), eventRoom(eventRoom) {}

    void Header(const MdsHeader& h) override { header = h; }
    void Block(const MdsBlock& b) override {
        if (blocks && blockCount < blockRoom)
            blocks[blockCount] = TonfluxBlock{b.tickStart, b.offset, b.length, eventCount};
        ++blockCount;
    }
    void Event(const MdsEvent& e) override {
        if (e.kind == MdsEventKind::Skipped) return;
        if (events && eventCount < eventRoom) {
            uint32_t word = 0;
            if (e.kind == MdsEventKind::Short)
                word = e.message[0] | uint32_t(e.message[1]) << 8 | uint32_t(e.message[2]) << 16;
            else if (e.kind == MdsEventKind::Tempo)
                word = 0x01000000u | e.tempo;
            else
                word = 0x80000000u | e.paramLength;
            events[eventCount] = e.tick;
            events[eventRoom + eventCount] = word;
            events[2 * size_t(eventRoom) + eventCount] = e.offset;
        }
        ++eventCount;
    }
    // The first of each, as the way back takes them.
    void Text(const char (&id)[5], const uint8_t* text, uint32_t length) override {
        const uint8_t*& data = id[1] == 'N' ? title : copyright;  // INAM or ICOP
        uint32_t& size = id[1] == 'N' ? titleLength : copyrightLength;
        if (data) return;
        data = text;
        size = TextLength(text, length);
    }

    bool Fits() const { return blockCount == blockRoom && eventCount == eventRoom; }

    TonfluxBlock* blocks;
    uint32_t blockRoom;
    uint32_t* events;
    uint32_t eventRoom;
    MdsHeader header;
    uint32_t blockCount = 0;
    uint32_t eventCount = 0;
    const uint8_t* title = nullptr;
    uint32_t titleLength = 0;
    const uint8_t* copyright = nullptr;
    uint32_t copyrightLength = 0;
};

void DropTables(Owned& owned) {
    delete[] owned.blocks;
    delete[] owned.events;
    owned.blocks = nullptr;
    owned.events = nullptr;
}

// Decodes image into the result's stream fields and, with tables, into owned's tables when
// memory allows. Counts the caller knows already (counted) spare a measuring pass. Returns where
// the decoder stopped.
MdsCheck Describe(const uint8_t* image, uint32_t size, bool tables, bool counted, uint32_t blocks,
                  uint32_t events, Owned& owned, TonfluxResult& result) {
    StreamTable table(nullptr, 0, nullptr, 0);
    MdsCheck check;
    if (!counted) {
        check = DecodeMds(image, size, table);
        if (check.fault != MdsFault::None) return check;
        blocks = result.blocks = table.blockCount;
        events = result.events = table.eventCount;
    }
    if (tables) {
        owned.blocks = new (std::nothrow) TonfluxBlock[blocks ? blocks : 1];
        owned.events = new (std::nothrow) uint32_t[3 * size_t(events ? events : 1)];
    }
    if (owned.blocks && owned.events) {
        StreamTable filled(owned.blocks, blocks, owned.events, events);
        check = DecodeMds(image, size, filled);
        if (check.fault != MdsFault::None) return check;
        if (!filled.Fits()) {  // counts that were wrong: never the case for a conversion's own
            DropTables(owned);
            return Describe(image, size, tables, false, 0, 0, owned, result);
        }
        table = filled;
        result.described = 1;
        result.blockTable = owned.blocks;
        result.ticks = owned.events;
        result.words = owned.events + events;
        result.offsets = owned.events + 2 * size_t(events);
    } else {
        DropTables(owned);
        if (counted) check = DecodeMds(image, size, table);  // for the header and the texts
    }
    result.timeFormat = table.header.timeFormat;
    result.maxBufferBytes = table.header.maxBufferBytes;
    result.flags = table.header.flags;
    result.title = table.title;
    result.titleLength = table.titleLength;
    result.copyright = table.copyright;
    result.copyrightLength = table.copyrightLength;
    return check;
}

uint32_t ConvertToMds(const uint8_t* image, uint32_t size, const TonfluxOptions& options,
                      TonfluxResult& result) {
    result.direction = TonfluxMidToMds;
    Owned* owned = new (std::nothrow) Owned(1);
    if (!owned) return Finish(result, TonfluxOutOfMemory);
    result.owned = owned;
    class Steps final : public ConversionObserver {
    public:
        explicit Steps(const TonfluxOptions& options) : options(options) {}
        void StepDone(ConversionStep step) override {
            if (step == ConversionStep::Parsed) Step(options, TonfluxStepRead);
            if (step == ConversionStep::Encoded) Step(options, TonfluxStepEncoded);
        }
        const TonfluxOptions& options;
    } steps(options);
    const ConversionRequest request(image, size, MakeOptions(options),
                                    options.lenient ? SmfReadMode::Lenient : SmfReadMode::Strict,
                                    &steps);
    PieceOutput pieces(options.write, options.writeContext);
    const bool handOver = options.write && !options.describe;
    ConversionResult converted =
        ConvertSmfToOutput(request, handOver ? static_cast<MdsOutput&>(pieces) : owned->mds);
    if (handOver && converted.status == ConversionStatus::Ok && !pieces.Flush())
        converted.status = ConversionStatus::WriteFailed;
    const SmfReading& reading = converted.reading;
    result.mends = reading.mends;
    switch (converted.status) {
        case ConversionStatus::Ok:
            break;
        case ConversionStatus::NotSmf:
            result.fault = uint32_t(reading.fault.kind);
            result.chunk = reading.fault.chunk;
            result.track = reading.fault.trackChunk;
            result.offset = reading.fault.offset;
            result.lenientConverts = reading.lenientConverts;
            return Finish(result, TonfluxNotSmf);
        case ConversionStatus::EventTooLarge:
            return Finish(result, TonfluxEventTooLarge);
        case ConversionStatus::OutputTooLarge:  // no module's memory holds such a file anyway
        case ConversionStatus::OutOfMemory:
        case ConversionStatus::WriteFailed:  // the output fails only for want of memory
            return Finish(result, TonfluxOutOfMemory);
    }
    result.blocks = converted.blocks;
    result.events = converted.events;
    result.output = handOver ? nullptr : owned->mds.Data();
    result.outputLength = handOver ? pieces.Size() : owned->mds.Size();
    Step(options, TonfluxStepWritten);
    if (options.describe) {
        Describe(result.output, result.outputLength, true, true, result.blocks, result.events,
                 *owned, result);
        if (result.described) Step(options, TonfluxStepDescribed);
    }
    // The stream's fields as they were written, without decoding it.
    const ConversionOptions& written = request.options;
    result.timeFormat = converted.division;
    result.maxBufferBytes = written.maxBufferBytes;
    result.flags = written.omitStreamIds ? 1 : 0;
    result.title = converted.title;
    result.titleLength = TextLength(converted.title, converted.titleLength);
    result.copyright = converted.copyright;
    result.copyrightLength = TextLength(converted.copyright, converted.copyrightLength);
    return Finish(result, TonfluxOk);
}

uint32_t ConvertToMidi(const uint8_t* image, uint32_t size, const TonfluxOptions& options,
                       TonfluxResult& result) {
    result.direction = TonfluxMdsToMid;
    ConvertedMidi midi;
    const MdsConversionStatus status = ConvertMds(image, size, options.runningStatus != 0, midi);
    Step(options, TonfluxStepRead);
    result.fault = uint32_t(midi.fault.fault);
    result.offset = midi.fault.offset;
    switch (status) {
        case MdsConversionStatus::Ok:
            break;
        case MdsConversionStatus::NotMds:
            return Finish(result, TonfluxNotMds);
        case MdsConversionStatus::Malformed:
            return Finish(result, TonfluxMdsMalformed);
        case MdsConversionStatus::DeltaTooLarge:
            result.fault = 0;
            return Finish(result, TonfluxDeltaTooLarge);
        case MdsConversionStatus::TextTooLong:
            result.fault = 0;
            return Finish(result, TonfluxTextTooLong);
    }
    result.blocks = midi.blocks;
    result.events = midi.events;
    Owned* owned = new (std::nothrow) Owned(uint32_t(22 + midi.trackBytes));
    if (!owned) return Finish(result, TonfluxOutOfMemory);
    result.owned = owned;
    if (!WriteConvertedMidiImage(midi, owned->midi)) return Finish(result, TonfluxOutOfMemory);
    result.output = const_cast<uint8_t*>(owned->midi.Data());
    result.outputLength = owned->midi.GetLength();
    Step(options, TonfluxStepWritten);
    Describe(image, size, options.describe != 0, true, result.blocks, result.events, *owned,
             result);
    if (result.described) Step(options, TonfluxStepDescribed);
    return Finish(result, TonfluxOk);
}

}  // namespace

void TonfluxDefaultOptions(TonfluxOptions* options) {
    *options =
        TonfluxOptions{DefaultBufferKilobytes, 1, 1, 0, 1, nullptr, nullptr, nullptr, nullptr};
}

uint32_t TonfluxConvert(const uint8_t* image, uint32_t size, const TonfluxOptions* options,
                        TonfluxResult* result) {
    *result = TonfluxResult();
    TonfluxOptions defaults;
    TonfluxDefaultOptions(&defaults);
    const TonfluxOptions& o = options ? *options : defaults;
    if (!IsValidBufferKilobytes(o.bufferKb)) return Finish(*result, TonfluxBadOptions);
    if (IsMdsImage(image, size)) return ConvertToMidi(image, size, o, *result);
    return ConvertToMds(image, size, o, *result);
}

uint32_t TonfluxDescribe(const uint8_t* image, uint32_t size, const TonfluxOptions* options,
                         TonfluxResult* result) {
    *result = TonfluxResult();
    if (!IsMdsImage(image, size)) {  // the stream it converts to
        TonfluxOptions o;
        TonfluxDefaultOptions(&o);
        if (options) o = *options;
        o.describe = 1;
        const uint32_t status = TonfluxConvert(image, size, &o, result);
        if (status != TonfluxOk || result->described) return status;
        return Finish(*result, TonfluxOutOfMemory);
    }
    Owned* owned = new (std::nothrow) Owned(1);
    if (!owned) return Finish(*result, TonfluxOutOfMemory);
    result->owned = owned;
    const MdsCheck check = Describe(image, size, true, false, 0, 0, *owned, *result);
    if (check.fault != MdsFault::None) {
        result->fault = uint32_t(check.fault);
        result->offset = check.offset;
        return Finish(*result, TonfluxMdsMalformed);
    }
    return Finish(*result, result->described ? TonfluxOk : TonfluxOutOfMemory);
}

void TonfluxRelease(TonfluxResult* result) {
    delete static_cast<Owned*>(result->owned);
    *result = TonfluxResult();
}
