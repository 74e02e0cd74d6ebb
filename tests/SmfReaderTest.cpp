#include "core/SmfReader.h"

#include <gtest/gtest.h>

#include "tests/support/SmfImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

bool Parse(const Bytes& image, Song& song, bool allowMacBinary = false) {
    HeapImage heap(image);
    return SmfReader().Parse(heap.data, heap.size, song, allowMacBinary);
}

bool Parses(const Bytes& image, bool allowMacBinary = false) {
    Song song;
    return Parse(image, song, allowMacBinary);
}

struct Expected {
    uint32_t tick;
    Bytes bytes;
};

std::vector<Expected> Events(const Track& track) {
    std::vector<Expected> out;
    for (const MidiEvent* e = track.First(); e; e = e->Next())
        out.push_back({e->tick, Bytes(e->bytes.Data(), e->bytes.Data() + e->bytes.Size())});
    return out;
}

void ExpectEvents(const Track& track, const std::vector<Expected>& expected) {
    const auto got = Events(track);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(track.Count(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].tick, expected[i].tick);
        EXPECT_EQ(got[i].bytes, expected[i].bytes);
    }
}

// One track chunk of the given events, the End of Track appended.
Bytes OneTrack(const Bytes& events) {
    return SmfImage().Format(0).Track(Cat({events, EndOfTrack}));
}

TEST(SmfReader, ReadsTheSmallestFile) {
    Song song;
    ASSERT_TRUE(Parse(SmfImage().Format(0).Track(EndOfTrack), song));
    EXPECT_EQ(song.Format(), 0);
    EXPECT_EQ(song.Division(), 96);
    ASSERT_EQ(song.TrackCount(), 1u);
    ExpectEvents(*song.FirstTrack(), {{0, {0xFF, 0x2F, 0x00}}});
}

TEST(SmfReader, StoresEveryEventWithItsStatusAndAbsoluteTick) {
    struct Case {
        const char* what;
        Bytes events;  // before the End of Track
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"running status stores the status again",
         {0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00},
         {{0, {0x90, 0x3C, 0x40}}, {96, {0x90, 0x3C, 0x00}}}},
        {"program change takes one data byte",
         {0x00, 0xC0, 0x05, 0x00, 0xD1, 0x10},
         {{0, {0xC0, 0x05}}, {0, {0xD1, 0x10}}}},
        {"data bytes are not examined",
         {0x00, 0x90, 0x3C, 0x90, 0x00, 0xC0, 0x01},
         {{0, {0x90, 0x3C, 0x90}}, {0, {0xC0, 0x01}}}},
        {"system exclusive keeps its length field",
         {0x00, 0xF0, 0x03, 0x43, 0x10, 0xF7},
         {{0, {0xF0, 0x03, 0x43, 0x10, 0xF7}}}},
        {"escaped bytes may look like real-time status",
         {0x00, 0xF7, 0x02, 0xF8, 0xFA},
         {{0, {0xF7, 0x02, 0xF8, 0xFA}}}},
        {"empty system exclusive", {0x00, 0xF0, 0x00}, {{0, {0xF0, 0x00}}}},
        {"tempo",
         {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20},
         {{0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}}},
        {"empty name and a proprietary meta event",
         {0x00, 0xFF, 0x03, 0x00, 0x05, 0xFF, 0x7F, 0x01, 0x09},
         {{0, {0xFF, 0x03, 0x00}}, {5, {0xFF, 0x7F, 0x01, 0x09}}}},
        {"the largest delta time",
         {0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x3C, 0x40},
         {{0x0FFFFFFF, {0x90, 0x3C, 0x40}}}},
        {"a delta time with zero groups",
         {0x81, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40},
         {{0x200000, {0x90, 0x3C, 0x40}}}},
        {"ticks wrap at 2^32",
         WrappingNotes(),
         {{0x0FFFFFFF, {0x90, 1, 1}},
          {0x1FFFFFFE, {0x90, 2, 2}},
          {0x2FFFFFFD, {0x90, 3, 3}},
          {0x3FFFFFFC, {0x90, 4, 4}},
          {0x4FFFFFFB, {0x90, 5, 5}},
          {0x5FFFFFFA, {0x90, 6, 6}},
          {0x6FFFFFF9, {0x90, 7, 7}},
          {0x7FFFFFF8, {0x90, 8, 8}},
          {0x80000018u, {0x90, 9, 9}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        ASSERT_TRUE(Parse(OneTrack(c.events), song));
        auto expected = c.expected;
        const uint32_t end = expected.back().tick;
        expected.push_back({end, {0xFF, 0x2F, 0x00}});
        ExpectEvents(*song.FirstTrack(), expected);
    }
}

TEST(SmfReader, AcceptsWhatRealFilesHold) {
    struct Case {
        const char* what;
        Bytes image;
        uint32_t tracks;
    };
    const Case cases[] = {
        {"longer header, extra bytes skipped",
         SmfImage().HeaderLength(8).HeaderExtra({0xAB, 0xCD}).Track(EndOfTrack), 1},
        {"zero chunks announced, garbage after the header",
         SmfImage().ChunkCount(0).Trailing({1, 2, 3}), 0},
        {"format 0 with two track chunks", SmfImage().Format(0).Track(EndOfTrack).Track(EndOfTrack),
         2},
        {"format 2 is read", SmfImage().Format(2).Track(EndOfTrack), 1},
        {"foreign chunk counts as a chunk",
         SmfImage().ChunkCount(2).Track(EndOfTrack).Chunk("XFIH", {1, 2, 3}).Track(EndOfTrack), 1},
        {"foreign chunk, all three counted",
         SmfImage().ChunkCount(3).Track(EndOfTrack).Chunk("XFIH", {1, 2, 3}).Track(EndOfTrack), 2},
        {"empty foreign chunk ends the image exactly",
         SmfImage().Track(EndOfTrack).Chunk("junk", {}), 1},
        {"SMPTE division", SmfImage().Division(0xE250).Track(EndOfTrack), 1},
        {"chunk ids are case sensitive: mtrk is foreign",
         SmfImage().Chunk("mtrk", {0x00, 0x90}).Track(EndOfTrack), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Song song;
        ASSERT_TRUE(Parse(c.image, song));
        EXPECT_EQ(song.TrackCount(), c.tracks);
    }
}

TEST(SmfReader, RefusesDamagedFiles) {  // each case is one way a real file goes wrong
    struct Case {
        const char* fault;
        Bytes image;
    };
    const Bytes note{0x00, 0x90, 0x3C, 0x40};
    const Case cases[] = {
        // header
        {"empty file", {}},
        {"three bytes", {'M', 'T', 'h'}},
        {"header id misspelled", SmfImage().HeaderId("MThx").Track(EndOfTrack)},
        {"header length 5", SmfImage().HeaderLength(5).Track(EndOfTrack)},
        {"header length 8, image ends after the division",
         Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 0, 0, 0, 0, 96}},
        {"header cut inside the division", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0}},
        {"format 3", SmfImage().Format(3).Track(EndOfTrack)},
        {"SMPTE rate -31", SmfImage().Division(0xE150).Track(EndOfTrack)},
        // chunks
        {"fewer chunks than announced", SmfImage().ChunkCount(2).Track(EndOfTrack)},
        {"chunk id cut short", SmfImage().Track(EndOfTrack).ChunkCount(2).Trailing({'M', 'T'})},
        {"chunk length cut short",
         SmfImage().Track(EndOfTrack).ChunkCount(2).Trailing({'M', 'T', 'r', 'k', 0})},
        {"second header chunk", SmfImage().Chunk("MThd", {0, 0, 0, 1, 0, 96})},
        {"foreign chunk longer than the image", SmfImage().Chunk("junk", {1, 2}, 3)},
        {"track chunk of length 0", SmfImage().Track({})},
        {"four announced, three present",
         SmfImage().ChunkCount(4).Track(EndOfTrack).Chunk("XFIH", {1}).Track(EndOfTrack)},
        // chunk ends
        {"byte after the End of Track", SmfImage().Track(Cat({EndOfTrack, {0x00}}))},
        {"chunk length 3 cuts the End of Track", SmfImage().Track(EndOfTrack, 3)},
        {"note ends the chunk, no End of Track", SmfImage().Track(note)},
        {"chunk length 5 with an extra byte after the End of Track",
         SmfImage().Track(Cat({EndOfTrack, {0x00}}), 5)},
        {"End of Track before the chunk's last byte",
         SmfImage().Track(EndOfTrack, 6).Trailing({0, 0})},
        // events
        {"image ends where an event begins", SmfImage().Track(note, 8)},
        {"image ends inside a delta time", SmfImage().Track({0x81}, 8)},
        {"delta time of five bytes",
         SmfImage().Track(Cat({{0x80, 0x80, 0x80, 0x80, 0x00}, {0x90, 1, 1}, EndOfTrack}))},
        {"channel message cut short", SmfImage().Track({0x00, 0x90, 0x3C}, 8)},
        {"system exclusive longer than the image", SmfImage().Track({0x00, 0xF0, 0x05, 1, 2}, 20)},
        {"system exclusive claims 256 MB",
         SmfImage().Track(Cat({{0x00, 0xF0}, VarLen(0x0FFFFFFF), {1}}))},
        {"system common status F1", OneTrack({0x00, 0xF1, 0x00})},
        {"song position F2", OneTrack({0x00, 0xF2, 0x00, 0x00})},
        {"real-time status F8", OneTrack({0x00, 0xF8})},
        {"status FE", OneTrack({0x00, 0xFE})},
        // running status
        {"first event begins with a data byte", OneTrack({0x00, 0x3C, 0x40})},
        {"data byte after a meta event", OneTrack({0x00, 0xFF, 0x01, 0x00, 0x00, 0x3C, 0x40})},
        {"data byte after a system exclusive",
         OneTrack({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x40})},
        {"running status does not pass to the next track",
         SmfImage().Track(Cat({note, EndOfTrack})).Track(Cat({{0x00, 0x3C, 0x00}, EndOfTrack}))},
        // meta events
        {"tempo of four bytes", OneTrack({0x00, 0xFF, 0x51, 0x04, 1, 2, 3, 4})},
        {"sequence number of no bytes", OneTrack({0x00, 0xFF, 0x00, 0x00})},
        {"End of Track with a data byte", SmfImage().Track({0x00, 0xFF, 0x2F, 0x01, 0x00})},
        {"meta type 0x80", OneTrack({0x00, 0xFF, 0x80, 0x00})},
        {"meta type 0xFF", OneTrack({0x00, 0xFF, 0xFF, 0x00})},
        {"meta length cut short", SmfImage().Track({0x00, 0xFF, 0x01}, 8)},
        {"meta text longer than the image", SmfImage().Track({0x00, 0xFF, 0x01, 0x09, 'a'}, 20)},
        {"time signature of three bytes", OneTrack({0x00, 0xFF, 0x58, 0x03, 4, 2, 24})},
        {"key signature of one byte", OneTrack({0x00, 0xFF, 0x59, 0x01, 0})},
        {"channel prefix of two bytes", OneTrack({0x00, 0xFF, 0x20, 0x02, 0, 0})},
        {"SMPTE offset of four bytes", OneTrack({0x00, 0xFF, 0x54, 0x04, 0, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_FALSE(Parses(c.image, false));
        EXPECT_FALSE(Parses(c.image, true));
    }
}

TEST(SmfReader, MacBinaryHeader) {
    const Bytes smf =
        SmfImage().Format(1).Division(480).Track(Cat({{0x00, 0x90, 0x3C, 0x40}, EndOfTrack}));
    const Bytes wrapped = Cat({MacBinaryHeader(), smf});
    Song bare, macBinary;
    ASSERT_TRUE(Parse(smf, bare));
    ASSERT_TRUE(Parse(wrapped, macBinary, true));
    EXPECT_EQ(macBinary.Format(), bare.Format());
    EXPECT_EQ(macBinary.Division(), bare.Division());
    ExpectEvents(*macBinary.FirstTrack(), Events(*bare.FirstTrack()));

    EXPECT_FALSE(Parses(wrapped, false));
    EXPECT_TRUE(Parses(smf, true));  // a bare file reads the same whatever the flag

    struct Case {
        const char* fault;
        Bytes image;
    };
    Bytes version1 = wrapped, byte74 = wrapped, byte82 = wrapped, notMThd = wrapped;
    version1[0] = 1;
    byte74[74] = 1;
    byte82[82] = 1;
    notMThd[128] = 'X';
    const Case cases[] = {
        {"first byte not 0", version1},
        {"byte 74 set", byte74},
        {"byte 82 set", byte82},
        {"no MThd after the header", notMThd},
        {"image shorter than 132 bytes", Bytes(wrapped.begin(), wrapped.begin() + 131)},
        {"MacBinary header alone", MacBinaryHeader()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_FALSE(Parses(c.image, true));
    }
}

TEST(SmfReader, TicksRestartWithEveryTrack) {
    Song song;
    ASSERT_TRUE(Parse(SmfImage()
                          .Track(Cat({{0x60, 0x90, 0x3C, 0x40}, EndOfTrack}))
                          .Track(Cat({{0x0A, 0x91, 0x3C, 0x40}, EndOfTrack})),
                      song));
    const Track* second = song.FirstTrack()->Next();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->First()->tick, 10u);
}

TEST(SmfReader, KeepsWhatWasReadBeforeAFaultAndServesAnotherParse) {
    SmfReader reader;
    Song song;
    const Bytes bad = SmfImage()
                          .Format(1)
                          .Division(240)
                          .Track(EndOfTrack)
                          .Track({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF1});
    HeapImage badImage(bad);
    EXPECT_FALSE(reader.Parse(badImage.data, badImage.size, song, false));
    EXPECT_FALSE(reader.OutOfMemory());
    EXPECT_EQ(song.Format(), 1);
    EXPECT_EQ(song.Division(), 240);
    ASSERT_EQ(song.TrackCount(), 2u);
    EXPECT_EQ(song.FirstTrack()->Next()->Count(), 1u);

    HeapImage good(SmfImage().Format(0).Track(EndOfTrack));
    EXPECT_TRUE(reader.Parse(good.data, good.size, song, false));
    EXPECT_EQ(song.Format(), 0);
    EXPECT_EQ(song.TrackCount(), 1u);
}

TEST(ByteCursor, NeverMovesPastTheEnd) {
    const uint8_t image[3] = {1, 2, 3};
    ByteCursor c;
    c.Attach(image, 3);
    uint8_t out[4] = {};
    EXPECT_EQ(c.ReadBytes(out, 2), 2u);
    EXPECT_EQ(c.ReadBytes(out, 4), 1u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(c.ReadBytes(out, 1), 0u);
    EXPECT_FALSE(c.PeekByte(out[0]));
    EXPECT_TRUE(c.SkipBytes(0));
    EXPECT_FALSE(c.SkipBytes(1));
    c.Attach(image, 3);
    EXPECT_FALSE(c.SkipBytes(5));
    EXPECT_EQ(c.Position(), 3u);
}

}  // namespace
