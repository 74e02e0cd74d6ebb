#include "core/MdsReader.h"

#include <gtest/gtest.h>

#include "tests/support/MdsImage.h"
#include "tests/support/StreamEvents.h"

namespace {

DecodedMds Decode(const Bytes& image) {
    HeapImage heap(image);
    return DecodeMdsImage(heap.data, heap.size);
}

TEST(DecodeMds, GivesBackEventsWithAbsoluteTicksAndTheTexts) {
    const Bytes image =
        MdsFile({FmtChunk(),
                 DataChunk({{0, Cat({PackedEvent(0, 0x00403090), PackedEvent(5, 0x00004030),
                                     PackedEvent(0, 0x000010C5)})},
                            {5, Cat({PackedEvent(2, 0x00000011),
                                     PackedEvent(1, 0x0107A120),
                                     PackedEvent(0, 0x80000003),
                                     {0xF0, 0x01, 0x02, 0x00}})}}),
                 RiffChunk("LIST", Cat({Id("INFO"), RiffChunk("INAM", {'A', 'b', 'c'}),
                                        RiffChunk("ICOP", {'C'})}))});
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
        MdsFile({FmtChunk(24, 1),
                 DataChunk({{0, Cat({Le32(7), Le32(0x00403090), Le32(1), Le32(0x00004030)})}}),
                 RiffChunk("LIST", Cat({Id("INFO"), RiffChunk("ICOP", {'(', 'c', ')'})}))});
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

// Each case is one way a file goes wrong or departs from our own writer's layout. Expected: the
// fault that stops the decoder, or else the first departure, where decoding goes on (None: the
// file is read as if ours).
TEST(DecodeMds, RefusesDamagedFiles) {
    struct Case {
        const char* fault;
        Bytes image;
        MdsFault expected;
        uint32_t offset;
    };
    const Bytes note = PackedEvent(0, 0x00403090);  // at 52, its word at 60, in a file of one
    const Bytes good = MdsFile({FmtChunk(), DataChunk({{0, note}})});
    Bytes truncated(good.begin(), good.end() - 4);
    Bytes bigRiff = good;
    bigRiff[4] += 4;
    Bytes noRiffSize = good;
    noRiffSize[4] = 0;
    const Bytes tempo = PackedEvent(0, 0x0107A120);
    const Bytes title = InfoList({RiffChunk("INAM", {'T'})});
    const Case cases[] = {
        // Faults: the way back refuses these.
        {"empty", {}, MdsFault::NotRiff, 0},
        {"another form", Cat({Id("RIFF"), Le32(4), Id("WAVE")}), MdsFault::NotRiff, 0},
        {"cut short", truncated, MdsFault::ChunkOverrun, 32},
        {"a chunk past its parent", MdsFile({FmtChunk(), Cat({Id("data"), Le32(100), Le32(0)})}),
         MdsFault::ChunkOverrun, 32},
        {"an odd chunk without its fill byte at the end",
         MdsFile({FmtChunk(), DataChunk({{0, note}}), Cat({Id("JUNK"), Le32(1), {7}})}),
         MdsFault::ChunkOverrun, 64},
        {"data before fmt", MdsFile({DataChunk({{0, note}}), FmtChunk()}), MdsFault::MissingFormat,
         12},
        {"no data", MdsFile({FmtChunk()}), MdsFault::MissingFormat, 32},
        {"a short fmt", MdsFile({RiffChunk("fmt ", Le32(96)), DataChunk({{0, note}})}),
         MdsFault::FormatChunk, 12},
        {"unknown flags", MdsFile({FmtChunk(1024, 2), DataChunk({{0, note}})}),
         MdsFault::FormatChunk, 28},
        {"an SMPTE frame rate that does not exist",
         MdsFile({FmtChunk(1024, 0, 0x8123), DataChunk({{0, note}})}), MdsFault::TimeFormat, 20},
        {"two fmt chunks", MdsFile({FmtChunk(), FmtChunk(), DataChunk({{0, note}})}),
         MdsFault::FormatChunk, 32},
        {"two data chunks", MdsFile({FmtChunk(), DataChunk({{0, note}}), DataChunk({{0, note}})}),
         MdsFault::DataSize, 64},
        {"more blocks counted than stored",
         MdsFile({FmtChunk(), RiffChunk("data", Cat({Le32(2), Le32(0), Le32(12), note}))}),
         MdsFault::DataSize, 64},
        {"bytes after the last block",
         MdsFile({FmtChunk(), RiffChunk("data", Cat({Le32(1), Le32(0), Le32(12), note, Le32(0)}))}),
         MdsFault::DataSize, 64},
        {"a block length past the data",
         MdsFile({FmtChunk(), RiffChunk("data", Cat({Le32(1), Le32(0), Le32(16), note}))}),
         MdsFault::BlockOverrun, 48},
        {"an event cut by its block",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({Le32(0), Le32(0)})}})}), MdsFault::EventOverrun,
         52},
        {"long parameters past the block",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x80000008)}})}),
         MdsFault::EventOverrun, 60},
        {"running status with nothing to run on",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x4030)}})}), MdsFault::BadShortMessage,
         60},
        {"running status after a tempo, no short message before",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({tempo, PackedEvent(0, 0x4030)})}})}),
         MdsFault::BadShortMessage, 72},
        {"a system message as a short event",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0xF8)}})}), MdsFault::BadShortMessage,
         60},
        {"a text past its list",
         MdsFile({FmtChunk(), DataChunk({{0, note}}),
                  RiffChunk("LIST", Cat({Id("INFO"), Id("INAM"), Le32(9)}))}),
         MdsFault::ChunkOverrun, 76},
        // Departures from our layout: the way back takes these.
        {"a RIFF size past the end", bigRiff, MdsFault::RiffSize, 4},
        {"a RIFF size of 0", noRiffSize, MdsFault::RiffSize, 4},
        {"trailing garbage", Cat({good, {0, 0, 0, 0}}), MdsFault::RiffSize, 4},
        {"a block length not a multiple of 4, its last fill left out",
         MdsFile(
             {FmtChunk(),
              RiffChunk("data",
                        Cat({Le32(1), Le32(0), Le32(13), PackedEvent(0, 0x80000001), {0xF0}}))}),
         MdsFault::BlockAlignment, 48},
        {"a block over the maximum", MdsFile({FmtChunk(8), DataChunk({{0, note}})}),
         MdsFault::BlockTooLarge, 48},
        {"no room for identifiers",
         MdsFile({FmtChunk(11, 1), DataChunk({{0, Cat({Le32(0), Le32(0x00403090)})}})}),
         MdsFault::BlockTooLarge, 48},
        {"a tickStart that is not the tick reached",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(5, 0x00403090)}, {7, note}})}),
         MdsFault::TickStart, 64},
        {"an event type we never write (NOP)",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x02000000)}})}),
         MdsFault::UnknownEventType, 60},
        {"a long event type we never write (comment)",
         MdsFile(
             {FmtChunk(), DataChunk({{0, Cat({PackedEvent(0, 0x82000002), {'h', 'i', 0, 0}})}})}),
         MdsFault::UnknownEventType, 60},
        {"the callback flag", MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x40403090)}})}),
         MdsFault::UnknownEventType, 60},
        {"a third byte on a program change",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0, 0x004010C5)}})}),
         MdsFault::ShortMessageBytes, 60},
        {"running status after a tempo",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({note, tempo, PackedEvent(0, 0x4030)})}})}),
         MdsFault::RunningStatusReset, 84},
        {"fill that is not zero",
         MdsFile(
             {FmtChunk(), DataChunk({{0, Cat({PackedEvent(0, 0x80000003), {0xF0, 1, 2, 9}})}})}),
         MdsFault::NonZeroFill, 67},
        {"a stream identifier of 1",
         MdsFile({FmtChunk(), DataChunk({{0, Cat({Le32(0), Le32(1), Le32(0x00403090)})}})}),
         MdsFault::StreamId, 56},
        {"a LIST that is not INFO",
         MdsFile({FmtChunk(), DataChunk({{0, note}}), RiffChunk("LIST", Id("adtl"))}),
         MdsFault::ListChunk, 64},
        {"two INFO lists", MdsFile({FmtChunk(), DataChunk({{0, note}}), title, title}),
         MdsFault::ListChunk, 86},
        // What other writers do and ours might as well have done.
        {"a longer fmt",
         MdsFile({RiffChunk("fmt ", Cat({Le32(96), Le32(1024), Le32(0), Le32(7)})),
                  DataChunk({{0, note}})}),
         MdsFault::None, 0},
        {"other chunks and the INFO list before data",
         MdsFile({RiffChunk("JUNK", {1, 2, 3}), FmtChunk(), title, DataChunk({{0, note}}),
                  RiffChunk("DISP", {1})}),
         MdsFault::None, 0},
        {"every event kind without identifiers",
         MdsFile({FmtChunk(1024, 1), DataChunk({{0, Cat({Le32(0),
                                                         Le32(0x00403090),
                                                         Le32(0),
                                                         Le32(0x0107A120),
                                                         Le32(0),
                                                         Le32(0x80000003),
                                                         {0xF0, 1, 2, 0}})}})}),
         MdsFault::None, 0},
        {"ours", good, MdsFault::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const DecodedMds got = Decode(c.image);
        const MdsCheck found = got.check.fault != MdsFault::None ? got.check
                               : got.deviations.empty()          ? MdsCheck()
                                                                 : got.deviations[0];
        EXPECT_EQ(found.fault, c.expected);
        EXPECT_EQ(found.offset, c.offset);
    }
}

}  // namespace
