#include "core/StreamBlocks.h"

#include <gtest/gtest.h>

#include "tests/support/Packed.h"

namespace {

Bytes Contents(const MemoryFile& file) {
    return Bytes(file.Data(), file.Data() + file.GetLength());
}

struct Block {
    uint32_t tickStart;
    Bytes bytes;
};

std::vector<Block> Blocks(const StreamBlockList& list) {
    std::vector<Block> out;
    for (const StreamBlock* b = list.First(); b; b = b->next)
        out.push_back({b->tickStart, Contents(b->buffer)});
    return out;
}

ConversionOptions Options(uint32_t maxBufferBytes, bool useRunningStatus, bool omitStreamIds) {
    ConversionOptions options;
    options.maxBufferBytes = maxBufferBytes;
    options.useRunningStatus = useRunningStatus;
    options.omitStreamIds = omitStreamIds;
    return options;
}

// n data bytes 1, 2, 3, ...
Bytes Data(uint32_t n) {
    Bytes out;
    for (uint32_t i = 0; i < n; ++i) out.push_back(uint8_t(i + 1));
    return out;
}

Bytes Sysex(uint32_t dataBytes) {
    return Cat({{0xF0}, VarLen(dataBytes), Data(dataBytes)});
}

TEST(MemoryFile, GrowsInWholeStepsAndKeepsItsContent) {
    MemoryFile file(10);
    const uint8_t bytes[25] = {1, 2, 3};
    ASSERT_TRUE(file.Write(bytes, 0));
    EXPECT_EQ(file.Data(), nullptr);  // nothing written, nothing allocated
    ASSERT_TRUE(file.Write(bytes, 1));
    EXPECT_EQ(file.GetLength(), 1u);
    ASSERT_TRUE(file.Write(bytes + 1, 24));
    EXPECT_EQ(file.GetLength(), 25u);
    EXPECT_EQ(file.GetPosition(), 25u);
    EXPECT_EQ(file.Data()[2], 3);

    // Growth: old capacity 10 plus the fewest steps of 10 that reach 25, so 30 fits 30 bytes
    // without moving; the 31st byte moves the storage to a capacity of 40.
    const uint8_t* before = file.Data();
    ASSERT_TRUE(file.Write(bytes, 5));
    EXPECT_EQ(file.Data(), before);
    ASSERT_TRUE(file.Write(bytes, 1));
    EXPECT_NE(file.Data(), before);
    EXPECT_EQ(file.Data()[2], 3);
}

TEST(MemoryFile, SeekReadAndLengthFollowTheirRules) {
    MemoryFile file(8);
    const uint8_t bytes[6] = {10, 11, 12, 13, 14, 15};
    ASSERT_TRUE(file.Write(bytes, 6));
    struct Case {
        int64_t offset;
        int origin;
        int64_t expected;  // -1: refused, position unchanged
    };
    const Case cases[] = {
        {2, 0, 2},   {1, 1, 5},  {-1, 2, 5},  {-6, 2, 0},
        {-7, 2, -1}, {0, 3, -1}, {-1, 0, -1}, {100, 0, 100},  // beyond the end is allowed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        file.Seek(4, 0);
        EXPECT_EQ(file.Seek(c.offset, c.origin), c.expected);
        EXPECT_EQ(file.GetPosition(), c.expected < 0 ? 4u : uint32_t(c.expected));
    }

    uint8_t got[8] = {};
    file.Seek(4, 0);
    EXPECT_EQ(file.Read(got, 8), 2u);  // what remains, not what was asked
    EXPECT_EQ(got[0], 14);
    EXPECT_EQ(file.Read(got, 8), 0u);
    file.Seek(9, 0);
    EXPECT_EQ(file.Read(got, 1), 0u);  // beyond the end

    ASSERT_TRUE(file.SetLength(3));  // lowers the position with the length
    EXPECT_EQ(file.GetPosition(), 3u);
    EXPECT_EQ(file.GetLength(), 3u);
    ASSERT_TRUE(file.SetLength(5));  // grown bytes read back as zeros
    file.Seek(0, 0);
    EXPECT_EQ(file.Read(got, 8), 5u);
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{10, 11, 12, 0, 0}));

    file.Seek(7, 0);  // a write past the end zero-fills the gap
    ASSERT_TRUE(file.Write(bytes, 1));
    EXPECT_EQ(Contents(file), (Bytes{10, 11, 12, 0, 0, 0, 0, 10}));

    MemoryFile copy(file);
    EXPECT_EQ(Contents(copy), Contents(file));
    EXPECT_EQ(copy.GrowBy(), 8u);
    file.Close();
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.Data(), nullptr);
    EXPECT_EQ(Contents(copy).size(), 8u);
}

// Single-block encodings, expected bytes written out by hand from the event layout.
TEST(BuildStreamBlocks, PacksEveryKindOfEvent) {
    struct Case {
        const char* what;
        ConversionOptions options;
        std::vector<Ev> events;
        Bytes expected;
    };
    const Bytes noteOn{0x90, 0x30, 0x40};
    const Bytes tempo{0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    const Bytes endOfTrack{0xFF, 0x2F, 0x00};
    const Case cases[] = {
        {"running status drops the repeated status byte",
         Options(1024, true, false),
         {{0, noteOn}, {10, noteOn}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(10), Le32(0), Le32(0x00004030)})},
        {"without running status every word carries its status",
         Options(1024, false, false),
         {{0, noteOn}, {10, noteOn}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(10), Le32(0), Le32(0x00403090)})},
        {"a tempo between breaks the running status",
         Options(1024, true, false),
         {{0, noteOn}, {0, tempo}, {5, noteOn}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(0), Le32(0), Le32(0x0107A120), Le32(5),
              Le32(0), Le32(0x00403090)})},
        {"a tempo whose length field is padded (80 03) is still a tempo",
         Options(1024, true, false),
         {{0, noteOn}, {0, {0xFF, 0x51, 0x80, 0x03, 0x07, 0xA1, 0x20}}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(0), Le32(0), Le32(0x0107A120)})},
        {"another channel breaks it, a later one on the first does not restore it",
         Options(1024, true, false),
         {{0, noteOn}, {0, {0x91, 0x30, 0x40}}, {0, noteOn}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(0), Le32(0), Le32(0x00403091), Le32(0),
              Le32(0), Le32(0x00403090)})},
        {"a first data byte of 0x80 or more keeps its status, so it cannot pass for one",
         Options(1024, true, false),
         {{0, noteOn}, {1, {0x90, 0x85, 0x40}}, {2, {0x90, 0x30, 0x85}}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(1), Le32(0), Le32(0x00408590), Le32(1),
              Le32(0), Le32(0x00008530)})},
        {"a two-byte program change, channel 6",
         Options(1024, false, false),
         {{0, {0xC5, 0x10}}},
         Cat({Le32(0), Le32(0), Le32(0x000010C5)})},
        {"a two-byte message under running status",
         Options(1024, true, false),
         {{0, {0xC5, 0x10}}, {1, {0xC5, 0x11}}},
         Cat({Le32(0), Le32(0), Le32(0x000010C5), Le32(1), Le32(0), Le32(0x00000011)})},
        {"system exclusive F0: F0 and the data, length dropped, two fill bytes",
         Options(1024, true, false),
         {{0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}},
         Cat({Le32(0), Le32(0), Le32(0x80000006), {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0, 0}})},
        {"the same with stream identifiers omitted is 16 bytes",
         Options(1024, true, true),
         {{0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}},
         Cat({Le32(0), Le32(0x80000006), {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0, 0}})},
        {"escape F7: the data alone, one fill byte",
         Options(1024, true, false),
         {{3, {0xF7, 0x03, 0xF3, 0x01, 0x02}}},
         Cat({Le32(3), Le32(0), Le32(0x80000003), {0xF3, 0x01, 0x02, 0}})},
        {"a sysex whose parameters fill whole words gets no fill",
         Options(1024, true, false),
         {{0, Sysex(3)}},
         Cat({Le32(0), Le32(0), Le32(0x80000004), {0xF0, 1, 2, 3}})},
        {"a sysex after a note breaks running status",
         Options(1024, true, false),
         {{0, noteOn}, {0, Sysex(3)}, {0, noteOn}},
         Cat({Le32(0),
              Le32(0),
              Le32(0x00403090),
              Le32(0),
              Le32(0),
              Le32(0x80000004),
              {0xF0, 1, 2, 3},
              Le32(0),
              Le32(0),
              Le32(0x00403090)})},
        {"skipped metas carry their time into the next delta, running status kept",
         Options(1024, true, false),
         {{0, noteOn},
          {4, {0xFF, 0x01, 0x01, 'x'}},
          {6, {0xFF, 0x58, 0x04, 4, 2, 24, 8}},
          {9, noteOn},
          {12, endOfTrack}},
         Cat({Le32(0), Le32(0), Le32(0x00403090), Le32(9), Le32(0), Le32(0x00004030)})},
        {"a track of other metas only gives one empty block",
         Options(1024, true, false),
         {{0, {0xFF, 0x03, 0x01, 'T'}}, {7, endOfTrack}},
         {}},
        {"stream identifiers omitted",
         Options(1024, true, true),
         {{2, noteOn}, {3, tempo}},
         Cat({Le32(2), Le32(0x00403090), Le32(1), Le32(0x0107A120)})},
        {"the first delta counts from tick 0",
         Options(1024, true, true),
         {{500, noteOn}},
         Cat({Le32(500), Le32(0x00403090)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        StreamBlockList blocks;
        ASSERT_EQ(BuildStreamBlocks(MakeTrack(song, c.events), c.options, blocks), BuildResult::Ok);
        const auto got = Blocks(blocks);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].tickStart, 0u);
        EXPECT_EQ(got[0].bytes, c.expected);
    }
}

// With maxBufferBytes 1024 an ordinary event costs 12 bytes (8 + 4 allowance without identifiers).
TEST(BuildStreamBlocks, CutsBlocksStrictlyAtTheLimit) {
    struct Case {
        const char* what;
        bool omitStreamIds;
        uint32_t notes;         // 12-byte notes first (8 bytes when identifiers are omitted)
        uint32_t sysexData;     // then one sysex of this many data bytes at tick 1000, if any
        uint32_t firstLength;   // expected length of the first block
        uint32_t secondLength;  // of the second block, 0 when there is only one
    };
    const Case cases[] = {
        {"85 notes fill 1020 bytes", false, 85, 0, 1020, 0},
        {"the 86th note starts a second block", false, 86, 0, 1020, 12},
        {"the same cut without identifiers", true, 85, 0, 680, 0},
        {"the 86th again, counting its allowance", true, 86, 0, 680, 8},
        {"84 notes and a 16-byte sysex fill exactly 1024", false, 84, 3, 1024, 0},
        {"a 20-byte sysex is 4 over and moves", false, 84, 4, 1008, 20},
        // 84 x (8 + 4) + (12 + 4) = 1024 exactly, allowance included
        {"exactly 1024 with the allowance", true, 84, 3, 84 * 8 + 12, 0},
        {"one word over with the allowance", true, 84, 4, 84 * 8, 16},
        {"a lone sysex that fills a block exactly", false, 0, 1011, 1024, 0},
        {"the same without identifiers", true, 0, 1011, 1020, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Ev> events;
        for (uint32_t i = 0; i < c.notes; ++i) events.push_back({i * 10, {0x90, 0x30, 0x40}});
        if (c.sysexData) events.push_back({1000, Sysex(c.sysexData)});
        Song song;
        StreamBlockList blocks;
        ASSERT_EQ(BuildStreamBlocks(MakeTrack(song, events), Options(1024, false, c.omitStreamIds),
                                    blocks),
                  BuildResult::Ok);
        const auto got = Blocks(blocks);
        ASSERT_EQ(got.size(), c.secondLength ? 2u : 1u);
        EXPECT_EQ(got[0].bytes.size(), c.firstLength);
        if (c.secondLength) {
            EXPECT_EQ(got[1].bytes.size(), c.secondLength);
        }
    }
}

TEST(BuildStreamBlocks, ANewBlockStartsAtTheLastEncodedTick) {
    // 86 notes 10 ticks apart; a skipped meta between the 85th and 86th must not move tickStart.
    std::vector<Ev> events;
    for (uint32_t i = 0; i < 85; ++i) events.push_back({i * 10, {0x90, 0x30, 0x40}});
    events.push_back({845, {0xFF, 0x06, 0x01, 'M'}});
    events.push_back({853, {0x90, 0x31, 0x40}});
    Song song;
    StreamBlockList blocks;
    ASSERT_EQ(BuildStreamBlocks(MakeTrack(song, events), Options(1024, true, false), blocks),
              BuildResult::Ok);
    const auto got = Blocks(blocks);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].tickStart, 840u);  // the 85th note's tick
    // delta 13 from that tick; running status survives the cut
    EXPECT_EQ(got[1].bytes, Cat({Le32(13), Le32(0), Le32(0x00004031)}));
    // The block buffers grow in whole steps of maxBufferBytes, like the template they copy.
    EXPECT_EQ(blocks.First()->buffer.GrowBy(), 1024u);
}

TEST(BuildStreamBlocks, FailsOnlyForAnEventLargerThanAnEmptyBlock) {
    struct Case {
        const char* what;
        bool omitStreamIds;
        uint32_t sysexData;
        BuildResult expected;
    };
    const Case cases[] = {
        {"2000 data bytes in 1024", false, 2000, BuildResult::EventTooLarge},
        {"one word too many", false, 1012, BuildResult::EventTooLarge},
        {"one word too many without identifiers", true, 1012, BuildResult::EventTooLarge},
        {"exactly full", true, 1011, BuildResult::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        StreamBlockList blocks;
        const auto& track = MakeTrack(song, {{0, {0x90, 0x30, 0x40}}, {5, Sysex(c.sysexData)}});
        EXPECT_EQ(BuildStreamBlocks(track, Options(1024, true, c.omitStreamIds), blocks),
                  c.expected);
    }
}

TEST(BuildStreamBlocks, LeavesOutEventsThatLieAboutTheirLength) {
    // Not produced by the reader, but a track built by other code must not make it read too far.
    Song song;
    StreamBlockList blocks;
    const auto& track = MakeTrack(
        song, {{0, {0xF0, 0x20, 0x01}}, {0, {}}, {2, {0xFF, 0x51, 0x03}}, {4, {0x90, 0x30, 0x40}}});
    ASSERT_EQ(BuildStreamBlocks(track, Options(1024, true, false), blocks), BuildResult::Ok);
    EXPECT_EQ(Blocks(blocks)[0].bytes, Cat({Le32(4), Le32(0), Le32(0x00403090)}));
}

}  // namespace

namespace {

// Blocks larger than the encoder's staging area (64 KB) reach their buffers in several writes;
// the bytes must still be every packed event in order, whether a long message falls at the seam
// or not.
TEST(BuildStreamBlocks, BlocksLargerThanTheStageKeepEveryEventInOrder) {
    for (uint32_t sysexAt : {0u, 5460u, 5461u}) {  // 5461 x 12 bytes first passes 65536
        SCOPED_TRACE(sysexAt);
        std::vector<Ev> events;
        Bytes expected;
        for (uint32_t i = 0; i < 9000; ++i) {
            if (i == sysexAt) {
                events.push_back({i, Sysex(5)});
                expected = Cat({expected,
                                Le32(i ? 1 : 0),
                                Le32(0),
                                Le32(0x80000006),
                                {0xF0, 1, 2, 3, 4, 5, 0, 0}});
            }
            const uint8_t note = uint8_t(i & 0x7F);
            events.push_back({i, {0x90, note, 0x40}});
            const bool afterSysex = i == sysexAt;
            expected = Cat({expected, Le32(i && !afterSysex ? 1 : 0), Le32(0),
                            Le32(0x00400090u | uint32_t(note) << 8)});
        }
        Song song;
        StreamBlockList blocks;
        ASSERT_EQ(
            BuildStreamBlocks(MakeTrack(song, events), Options(200 * 1024, false, false), blocks),
            BuildResult::Ok);
        const auto got = Blocks(blocks);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].bytes, expected);
        EXPECT_EQ(blocks.EventCount(), 9001u);
    }
}

}  // namespace
