#include "core/MdsReader.h"

#include <gtest/gtest.h>

#include "tests/support/Packed.h"
#include "tests/support/StreamEvents.h"

namespace {

Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out = Cat({Id(id), Le32(uint32_t(body.size())), body});
    if (body.size() & 1) out.push_back(0);
    return out;
}

Bytes Riff(std::initializer_list<Bytes> chunks) {
    const Bytes body = Cat(chunks);
    return Cat({Id("RIFF"), Le32(uint32_t(body.size() + 4)), Id("MIDS"), body});
}

Bytes Fmt(uint32_t maxBufferBytes = 1024, uint32_t flags = 0) {
    return Chunk("fmt ", Cat({Le32(96), Le32(maxBufferBytes), Le32(flags)}));
}

// A data chunk of blocks given as (tickStart, events).
Bytes Data(std::initializer_list<std::pair<uint32_t, Bytes>> blocks) {
    Bytes body = Le32(uint32_t(blocks.size()));
    for (const auto& b : blocks)
        body = Cat({body, Le32(b.first), Le32(uint32_t(b.second.size())), b.second});
    return Chunk("data", body);
}

Bytes Event(uint32_t delta, uint32_t word) {
    return Cat({Le32(delta), Le32(0), Le32(word)});
}

DecodedMds Decode(const Bytes& image) {
    HeapImage heap(image);
    return DecodeMdsImage(heap.data, heap.size);
}

TEST(DecodeMds, GivesBackEventsWithAbsoluteTicksAndTheTexts) {
    const Bytes image = Riff(
        {Fmt(),
         Data({{0, Cat({Event(0, 0x00403090), Event(5, 0x00004030), Event(0, 0x000010C5)})},
               {5, Cat({Event(2, 0x00000011),
                        Event(1, 0x0107A120),
                        Event(0, 0x80000003),
                        {0xF0, 0x01, 0x02, 0x00}})}}),
         Chunk("LIST", Cat({Id("INFO"), Chunk("INAM", {'A', 'b', 'c'}), Chunk("ICOP", {'C'})}))});
    const DecodedMds got = Decode(image);
    ASSERT_EQ(got.check.fault, MdsFault::None);
    EXPECT_EQ(got.header.blockCount, 2u);
    EXPECT_EQ(got.header.maxBufferBytes, 1024u);
    ASSERT_EQ(got.blocks.size(), 2u);
    EXPECT_EQ(got.blocks[1].tickStart, 5u);
    const std::vector<StreamEventRecord> expected = {
        {0, MdsEventKind::Short, {0x90, 0x30, 0x40}},
        {5, MdsEventKind::Short, {0x90, 0x30, 0x40}},  // running status restored
        {5, MdsEventKind::Short, {0xC5, 0x10}},
        {7, MdsEventKind::Short, {0xC5, 0x11}},  // running status across a block boundary
        {8, MdsEventKind::Tempo, {0x07, 0xA1, 0x20}},
        {8, MdsEventKind::Long, {0xF0, 0x01, 0x02}},
    };
    EXPECT_EQ(got.events, expected);
    EXPECT_EQ(got.title, (Bytes{'A', 'b', 'c'}));
    EXPECT_EQ(got.copyright, (Bytes{'C'}));
}

TEST(DecodeMds, ReadsOmittedIdentifiersAndACopyrightAlone) {
    const Bytes image =
        Riff({Fmt(24, 1), Data({{0, Cat({Le32(7), Le32(0x00403090), Le32(1), Le32(0x00004030)})}}),
              Chunk("LIST", Cat({Id("INFO"), Chunk("ICOP", {'(', 'c', ')'})}))});
    const DecodedMds got = Decode(image);
    ASSERT_EQ(got.check.fault, MdsFault::None);
    const std::vector<StreamEventRecord> expected = {
        {7, MdsEventKind::Short, {0x90, 0x30, 0x40}},
        {8, MdsEventKind::Short, {0x90, 0x30, 0x40}},
    };
    EXPECT_EQ(got.events, expected);
    EXPECT_EQ(got.title, (Bytes{}));
    EXPECT_EQ(got.copyright, (Bytes{'(', 'c', ')'}));
}

TEST(DecodeMds, RefusesDamagedFiles) {
    struct Case {
        const char* fault;
        Bytes image;
        MdsFault expected;
    };
    const Bytes note = Event(0, 0x00403090);
    const Bytes good = Riff({Fmt(), Data({{0, note}})});
    Bytes truncated(good.begin(), good.end() - 4);
    Bytes bigRiff = good;
    bigRiff[4] += 4;
    const Case cases[] = {
        {"empty", {}, MdsFault::NotRiff},
        {"another form", Cat({Id("RIFF"), Le32(4), Id("WAVE")}), MdsFault::NotRiff},
        {"cut short", truncated, MdsFault::RiffSize},
        {"a RIFF size past the end", bigRiff, MdsFault::RiffSize},
        {"trailing garbage", Cat({good, {0, 0, 0, 0}}), MdsFault::RiffSize},
        {"a chunk past its parent", Riff({Fmt(), Cat({Id("data"), Le32(100), Le32(0)})}),
         MdsFault::ChunkOverrun},
        {"data before fmt", Riff({Data({{0, note}}), Fmt()}), MdsFault::MissingFormat},
        {"no data", Riff({Fmt()}), MdsFault::MissingFormat},
        {"a short fmt", Riff({Chunk("fmt ", Le32(96)), Data({{0, note}})}), MdsFault::FormatChunk},
        {"unknown flags", Riff({Fmt(1024, 2), Data({{0, note}})}), MdsFault::FormatChunk},
        {"two fmt chunks", Riff({Fmt(), Fmt(), Data({{0, note}})}), MdsFault::FormatChunk},
        {"more blocks counted than stored",
         Riff({Fmt(), Chunk("data", Cat({Le32(2), Le32(0), Le32(12), note}))}), MdsFault::DataSize},
        {"bytes after the last block",
         Riff({Fmt(), Chunk("data", Cat({Le32(1), Le32(0), Le32(12), note, Le32(0)}))}),
         MdsFault::DataSize},
        {"a block length past the data",
         Riff({Fmt(), Chunk("data", Cat({Le32(1), Le32(0), Le32(16), note}))}),
         MdsFault::BlockOverrun},
        {"a block length not a multiple of 4",
         Riff({Fmt(), Chunk("data", Cat({Le32(1), Le32(0), Le32(6), Bytes(6, 0)}))}),
         MdsFault::BlockAlignment},
        {"a block over the maximum", Riff({Fmt(8), Data({{0, note}})}), MdsFault::BlockTooLarge},
        {"no room for identifiers",
         Riff({Fmt(11, 1), Data({{0, Cat({Le32(0), Le32(0x00403090)})}})}),
         MdsFault::BlockTooLarge},
        {"a tickStart that is not the tick reached",
         Riff({Fmt(), Data({{0, Event(5, 0x00403090)}, {7, note}})}), MdsFault::TickStart},
        {"an event cut by its block", Riff({Fmt(), Data({{0, Cat({Le32(0), Le32(0)})}})}),
         MdsFault::EventOverrun},
        {"long parameters past the block", Riff({Fmt(), Data({{0, Event(0, 0x80000008)}})}),
         MdsFault::EventOverrun},
        {"an event type we never write", Riff({Fmt(), Data({{0, Event(0, 0x02000000)}})}),
         MdsFault::UnknownEventType},
        {"running status with nothing to run on", Riff({Fmt(), Data({{0, Event(0, 0x4030)}})}),
         MdsFault::BadShortMessage},
        {"a system message as a short event", Riff({Fmt(), Data({{0, Event(0, 0xF8)}})}),
         MdsFault::BadShortMessage},
        {"a third byte on a program change", Riff({Fmt(), Data({{0, Event(0, 0x004010C5)}})}),
         MdsFault::BadShortMessage},
        {"fill that is not zero",
         Riff({Fmt(), Data({{0, Cat({Event(0, 0x80000003), {0xF0, 1, 2, 9}})}})}),
         MdsFault::NonZeroFill},
        {"a stream identifier of 1",
         Riff({Fmt(), Data({{0, Cat({Le32(0), Le32(1), Le32(0x00403090)})}})}), MdsFault::StreamId},
        {"a LIST that is not INFO", Riff({Fmt(), Data({{0, note}}), Chunk("LIST", Id("adtl"))}),
         MdsFault::ListChunk},
        {"a text past its list",
         Riff({Fmt(), Data({{0, note}}), Chunk("LIST", Cat({Id("INFO"), Id("INAM"), Le32(9)}))}),
         MdsFault::ChunkOverrun},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Decode(c.image).check.fault, c.expected);
    }
    EXPECT_EQ(Decode(good).check.fault, MdsFault::None);
}

}  // namespace
