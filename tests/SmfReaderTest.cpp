#include "core/SmfReader.h"

#include <gtest/gtest.h>

#include "tests/support/RandomSong.h"
#include "tests/support/SmfImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

struct Expected {
    uint32_t tick;
    Bytes bytes;
    bool operator==(const Expected& o) const { return tick == o.tick && bytes == o.bytes; }
};
using SongEvents = std::vector<std::vector<Expected>>;  // track by track

std::vector<Expected> Events(const Track& track) {
    std::vector<Expected> out;
    for (const MidiEvent* e = track.First(); e; e = e->Next())
        out.push_back({e->tick, Bytes(e->bytes.Data(), e->bytes.Data() + e->bytes.Size())});
    return out;
}

SongEvents Events(const Song& song) {
    SongEvents out;
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) out.push_back(Events(*t));
    return out;
}

// Every file the strict reader takes must read the same in the lenient mode, without a rule.
void ExpectLenientReadsTheSame(const HeapImage& heap, const Song& strict, bool allowMacBinary) {
    SmfReader lenient(SmfReadMode::Lenient);
    Song song;
    ASSERT_TRUE(lenient.Parse(heap.data, heap.size, song, allowMacBinary));
    EXPECT_EQ(lenient.Mends(), 0u);
    EXPECT_EQ(song.Format(), strict.Format());
    EXPECT_EQ(song.Division(), strict.Division());
    EXPECT_TRUE(Events(song) == Events(strict));
}

bool Parse(const Bytes& image, Song& song, bool allowMacBinary = false) {
    HeapImage heap(image);
    const bool read = SmfReader().Parse(heap.data, heap.size, song, allowMacBinary);
    if (read) ExpectLenientReadsTheSame(heap, song, allowMacBinary);
    return read;
}

bool Parses(const Bytes& image, bool allowMacBinary = false) {
    Song song;
    return Parse(image, song, allowMacBinary);
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

TEST(SmfReader, NamesTheFaultAndReadsWhatTheLenientRulesMend) {
    struct Where {
        SmfFaultKind kind;
        uint32_t chunk;
        bool trackChunk;
        uint32_t offset;
    };
    struct Case {
        const char* what;
        Bytes image;
        Where strict;
        uint32_t mends = 0;    // the rules the lenient reader needed (up to its fault)
        SongEvents song = {};  // what it reads; none: it refuses the file too...
        Where lenient = {};    // ...with this fault, when it is not the strict reader's
    };
    using K = SmfFaultKind;
    const Bytes note{0x00, 0x90, 0x3C, 0x40};
    const Bytes notes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00};  // on, off by running status
    const std::vector<Expected> eot{{0, {0xFF, 0x2F, 0x00}}};
    const std::vector<Expected> noteEot{{0, {0x90, 0x3C, 0x40}}, {0, {0xFF, 0x2F, 0x00}}};
    const std::vector<Expected> noteOnOff{
        {0, {0x90, 0x3C, 0x40}}, {96, {0x90, 0x3C, 0x00}}, {96, {0xFF, 0x2F, 0x00}}};
    const Bytes lyric =
        Cat({note, {0x00, 0xFF, 0x05, 0x02, 'l', 'a'}, {0x10, 0x3C, 0x00}, EndOfTrack});
    const Bytes badStatus = SmfImage().Format(0).Track(Cat({note, {0x00, 0xF4}, EndOfTrack}));
    const Bytes whole = SmfImage().Format(0).Track(Cat({notes, EndOfTrack}));
    // The header takes bytes 0-13; the first chunk's data begins at 22 (0x16).
    const Case cases[] = {
        // running status after a meta or system exclusive event
        {"a data byte after a lyric",
         SmfImage().Format(0).Track(lyric),
         {K::DataWithoutStatus, 1, true, 0x21},
         SmfMend::RunningStatusAfterMeta,
         {{{0, {0x90, 0x3C, 0x40}},
           {0, {0xFF, 0x05, 0x02, 'l', 'a'}},
           {16, {0x90, 0x3C, 0x00}},
           {16, {0xFF, 0x2F, 0x00}}}}},
        {"a controller by running status after a GM reset, in track 2",
         SmfImage()
             .Track(EndOfTrack)
             .Track(Cat({{0x00, 0xB0, 0x07, 0x64, 0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                         {0x00, 0x0A, 0x50},
                         EndOfTrack})),
         {K::DataWithoutStatus, 2, true, 0x2F},
         SmfMend::RunningStatusAfterMeta,
         {eot,
          {{0, {0xB0, 0x07, 0x64}},
           {0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
           {0, {0xB0, 0x0A, 0x50}},
           {0, {0xFF, 0x2F, 0x00}}}}},
        {"running status still does not pass to the next chunk",
         SmfImage().Track(Cat({note, EndOfTrack})).Track(Cat({{0x00, 0x3C, 0x00}, EndOfTrack})),
         {K::DataWithoutStatus, 2, true, 0x27}},
        // chunks that run past the end of the file
        {"the last track's length 3 bytes too large",
         SmfImage().Format(0).Track(Cat({notes, EndOfTrack}), 14),
         {K::EndOfTrackNotAtEnd, 1, true, 0x1D},
         SmfMend::ChunkCut,
         {noteOnOff}},
        {"a trailing foreign chunk cut off",
         SmfImage().Track(EndOfTrack).Chunk("XFIH", {1, 2, 3}, 100),
         {K::ChunkPastEnd, 2, false, 0x1A},
         SmfMend::ChunkCut,
         {eot}},
        {"a download cut off inside the last track",
         Bytes(whole.begin(), whole.begin() + 28),
         {K::CutShort, 1, true, 0x1A},
         SmfMend::ChunkCut | SmfMend::TrackEnd,
         {noteEot}},
        // tracks that end otherwise than with an End of Track at the chunk's last byte
        {"no End of Track",
         SmfImage().Format(0).Track({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40}),
         {K::NoEndOfTrack, 1, true, 0x1A},
         SmfMend::TrackEnd,
         {{{0, {0x90, 0x3C, 0x40}}, {96, {0x80, 0x3C, 0x40}}, {96, {0xFF, 0x2F, 0x00}}}}},
        {"two zero bytes of padding after the End of Track",
         SmfImage().Format(0).Track(Cat({note, EndOfTrack, {0, 0}})),
         {K::EndOfTrackNotAtEnd, 1, true, 0x1A},
         SmfMend::TrackEnd,
         {noteEot}},
        {"the chunk length 2 bytes short: the End of Track runs past it",
         SmfImage().Format(0).Track(Cat({notes, EndOfTrack}), 9),
         {K::EndOfTrackNotAtEnd, 1, true, 0x1D},
         SmfMend::TrackEnd,
         {noteOnOff}},
        {"an empty track chunk",
         SmfImage().Track(EndOfTrack).Track({}),
         {K::EmptyTrack, 2, true, 0x1A},
         SmfMend::TrackEnd,
         {eot, eot}},
        // meta events of a fixed length with another length
        {"a time signature of 3 bytes",
         SmfImage().Format(0).Track(Cat({{0x00, 0xFF, 0x58, 0x03, 0x04, 0x02, 0x18}, EndOfTrack})),
         {K::MetaLength, 1, true, 0x19},
         SmfMend::MetaLength,
         {{{0, {0xFF, 0x58, 0x03, 0x04, 0x02, 0x18}}, {0, {0xFF, 0x2F, 0x00}}}}},
        {"an End of Track with a data byte still ends the track",
         SmfImage().Format(0).Track(Cat({note, {0x00, 0xFF, 0x2F, 0x01, 0x00}})),
         {K::MetaLength, 1, true, 0x1D},
         SmfMend::MetaLength,
         {{{0, {0x90, 0x3C, 0x40}}, {0, {0xFF, 0x2F, 0x01, 0x00}}}}},
        // files that end before every announced chunk
        {"one chunk more announced than the file holds",
         SmfImage().ChunkCount(2).Track(EndOfTrack),
         {K::MissingChunks, 2, false, 0x1A},
         SmfMend::MissingChunks,
         {eot}},
        {"the file ends inside the next chunk's length",
         SmfImage().Track(EndOfTrack).ChunkCount(2).Trailing({'M', 'T', 'r', 'k', 0}),
         {K::MissingChunks, 2, false, 0x1A},
         SmfMend::MissingChunks,
         {eot}},
        // RIFF RMID
        {"an RMID file",
         Rmid(SmfImage().Format(0).Track(Cat({notes, EndOfTrack}))),
         {K::NotSmf, 0, false, 0},
         SmfMend::Rmid,
         {noteOnOff}},
        {"an RMID file whose SMF breaks a rule no mend covers: offsets count from the file's start",
         Rmid(badStatus),
         {K::NotSmf, 0, false, 0},
         SmfMend::Rmid,
         {},
         {K::BadStatus, 1, true, 0x2F}},
        // faults that stay faults
        {"status F4 where an event begins", badStatus, {K::BadStatus, 1, true, 0x1B}},
        {"behind a MacBinary header, offsets count from the file's start",
         Cat({MacBinaryHeader(), badStatus}),
         {K::BadStatus, 1, true, 0x9B}},
        {"meta type 0x80",
         SmfImage().Format(0).Track(Cat({{0x00, 0xFF, 0x80, 0x00}, EndOfTrack})),
         {K::MetaType, 1, true, 0x18}},
        {"a delta time of five bytes",
         SmfImage().Format(0).Track(Cat({{0x80, 0x80, 0x80, 0x80, 0x00}, note, EndOfTrack})),
         {K::LongNumber, 1, true, 0x16}},
        {"a system exclusive length of five bytes",
         SmfImage().Format(0).Track(Cat({{0x00, 0xF0, 0x80, 0x80, 0x80, 0x80, 0x00}, EndOfTrack})),
         {K::LongNumber, 1, true, 0x18}},
        {"format 3", SmfImage().Format(3).Track(EndOfTrack), {K::Format, 0, false, 8}},
        {"SMPTE rate -31",
         SmfImage().Division(0xE150).Track(EndOfTrack),
         {K::Division, 0, false, 12}},
        {"header length 5",
         SmfImage().HeaderLength(5).Track(EndOfTrack),
         {K::HeaderLength, 0, false, 4}},
        {"header cut inside the division",
         Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0},
         {K::CutShort, 0, false, 12}},
        {"a second header chunk",
         SmfImage().Chunk("MThd", {0, 0, 0, 1, 0, 96}),
         {K::SecondHeader, 1, false, 14}},
        {"a WAVE file",
         {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'},
         {K::NotSmf, 0, false, 0}},
        {"an RMID file without a data chunk",
         {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'R', 'M', 'I', 'D'},
         {K::NotSmf, 0, false, 0}},
    };
    auto expectFault = [](const SmfReader& reader, const Where& where) {
        EXPECT_EQ(reader.Fault().kind, where.kind);
        EXPECT_EQ(reader.Fault().chunk, where.chunk);
        EXPECT_EQ(reader.Fault().trackChunk, where.trackChunk);
        EXPECT_EQ(reader.Fault().offset, where.offset);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapImage heap(c.image);
        Song song;
        SmfReader strict;
        ASSERT_FALSE(strict.Parse(heap.data, heap.size, song, true));
        expectFault(strict, c.strict);
        SmfReader lenient(SmfReadMode::Lenient);
        const bool read = lenient.Parse(heap.data, heap.size, song, true);
        EXPECT_EQ(lenient.Mends(), c.mends);
        if (c.song.empty()) {
            EXPECT_FALSE(read);
            expectFault(lenient, c.lenient.kind != SmfFaultKind::None ? c.lenient : c.strict);
            continue;
        }
        ASSERT_TRUE(read);
        EXPECT_TRUE(Events(song) == c.song);
    }
}

TEST(SmfReader, LenientReadsEveryValidFileAsTheStrictModeDoes) {
    // Besides every file that the other tests here find valid (see Parse): random songs of every
    // event kind, with and without a MacBinary header.
    const RandomSongShape shapes[] = {{1, 4, 200, 300, false},
                                      {1, 64, 20, 40, false},
                                      {1, 3, 100, 100, true},
                                      {0, 2, 300, 300, false}};
    std::mt19937 rng(20261207);
    for (const RandomSongShape& shape : shapes) {
        for (int n = 0; n < 10; ++n) {
            const Bytes smf = RandomSong(rng, shape);
            Song song;
            ASSERT_TRUE(Parse(smf, song));
            ASSERT_TRUE(Parse(Cat({MacBinaryHeader(), smf}), song, true));
        }
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

TEST(ByteReader, ReadsOnlyWhatIsThereAndStaysFailed) {
    struct Case {
        const char* what;
        Bytes bytes;
        uint32_t (*read)(ByteReader&);  // the value read last
        uint32_t value;
        bool ok;
        uint32_t left;
    };
    const Case cases[] = {
        {"big-endian 16 bits",
         {0x12, 0x34},
         [](ByteReader& r) { return uint32_t(r.Be16()); },
         0x1234,
         true,
         0},
        {"big-endian 32 bits",
         {1, 2, 3, 4, 5},
         [](ByteReader& r) { return r.Be32(); },
         0x01020304,
         true,
         1},
        {"little-endian 32 bits",
         {1, 2, 3, 4},
         [](ByteReader& r) { return r.Le32(); },
         0x04030201,
         true,
         0},
        {"32 bits of 3 bytes: nothing taken",
         {1, 2, 3},
         [](ByteReader& r) { return r.Be32(); },
         0,
         false,
         3},
        {"a one-byte quantity", {0x7F, 0}, [](ByteReader& r) { return r.VarLen(); }, 0x7F, true, 1},
        {"the largest quantity",
         {0xFF, 0xFF, 0xFF, 0x7F},
         [](ByteReader& r) { return r.VarLen(); },
         0x0FFFFFFF,
         true,
         0},
        {"a fifth byte announced",
         {0x80, 0x80, 0x80, 0x80, 0x00},
         [](ByteReader& r) { return r.VarLen(); },
         0,
         false,
         5},
        {"a quantity cut short", {0x81}, [](ByteReader& r) { return r.VarLen(); }, 0, false, 1},
        {"a skip past the end: nothing taken",
         {1, 2},
         [](ByteReader& r) { return uint32_t(r.Skip(3)); },
         0,
         false,
         2},
        {"a byte at the end", {}, [](ByteReader& r) { return uint32_t(r.Byte()); }, 0, false, 0},
        {"a read after a failed one is served, the failure stays",
         {1, 2},
         [](ByteReader& r) {
             r.Be32();
             return uint32_t(r.Be16());
         },
         0x0102,
         false,
         0},
        {"two bytes taken as a reader of their own",
         {1, 2, 3},
         [](ByteReader& r) {
             ByteReader taken = r.Take(2);
             return taken.Ok() ? taken.Be16() + 0u : 0xFFFFFFFF;
         },
         0x0102,
         true,
         1},
        {"more taken than there is: an empty failed reader",
         {1, 2, 3},
         [](ByteReader& r) {
             const ByteReader taken = r.Take(4);
             return taken.Left() + (taken.Ok() ? 100u : 0u);
         },
         0,
         false,
         3},
        {"a look ahead that passes the end",
         {1, 2, 3},
         [](ByteReader& r) { return uint32_t(r.Peek(4) != nullptr); },
         0,
         true,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HeapImage image(c.bytes);
        ByteReader r(image.data, image.size);
        EXPECT_EQ(c.read(r), c.value);
        EXPECT_EQ(r.Ok(), c.ok);
        EXPECT_EQ(r.Left(), c.left);
    }
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
