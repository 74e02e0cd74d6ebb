#include "core/Conversion.h"
#include "core/SongConversion.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Packed.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};
const Bytes Note{0x00, 0x90, 0x30, 0x40};

Bytes Meta(uint8_t type, const std::string& text) {
    return Cat(
        {{0x00, 0xFF, type}, VarLen(uint32_t(text.size())), Bytes(text.begin(), text.end())});
}

std::string Str(const ByteBuffer& b) {
    return std::string(b.Data(), b.Data() + b.Size());
}

TEST(ConvertSmf, RefusesWhatCannotBeConvertedWithOneStatusAndNothingKept) {
    struct Case {
        const char* what;
        Bytes image;
        ConversionStatus status;
        SmfFaultKind fault;  // what the refusal names, at offset
        uint32_t offset;
        bool lenientConverts;  // the lenient mode would convert it, with the same options
    };
    Bytes sysex(1100, 0x11);
    sysex.back() = 0xF7;
    using K = SmfFaultKind;
    const Case cases[] = {
        {"an empty file", {}, ConversionStatus::NotSmf, K::NotSmf, 0, false},
        {"not an SMF",
         {'R', 'I', 'F', 'F', 0, 0, 0, 0},
         ConversionStatus::NotSmf,
         K::NotSmf,
         0,
         false},
        {"a damaged track", SmfImage().Format(0).Track({0x00, 0x90, 0x30}),
         ConversionStatus::NotSmf, K::CutShort, 22, true},
        {"a damaged track with a system exclusive larger than a 1 KB block",
         SmfImage().Format(0).Track(
             Cat({{0x00, 0xF0}, VarLen(uint32_t(sysex.size())), sysex, {0x00, 0x90, 0x30}})),
         ConversionStatus::NotSmf, K::CutShort, 1126, false},
        {"format 2", SmfImage().Format(2).Track(EndOfTrack), ConversionStatus::NotSmf, K::Format, 8,
         false},
        {"format 2 behind a MacBinary header",
         SmfImage().MacBinary(MacBinaryHeader()).Format(2).Track(EndOfTrack),
         ConversionStatus::NotSmf, K::Format, 136, false},
        {"a header announcing no track", SmfImage().Format(0).ChunkCount(0),
         ConversionStatus::NotSmf, K::NoTrack, 10, false},
        {"only foreign chunks", SmfImage().Format(1).Chunk("XFIH", {1, 2}),
         ConversionStatus::NotSmf, K::NoTrack, 10, false},
        {"a mended file that is format 2 all the same",
         SmfImage().Format(2).Track({0x00, 0x90, 0x30, 0x40}), ConversionStatus::NotSmf,
         K::NoEndOfTrack, 22, false},
        {"a system exclusive larger than a 1 KB block",
         SmfImage().Format(0).Track(Cat(
             {Meta(0x03, "Big"), {0x00, 0xF0}, VarLen(uint32_t(sysex.size())), sysex, EndOfTrack})),
         ConversionStatus::EventTooLarge, K::None, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapImage image(c.image);
        ConvertedSong song;
        const ConversionResult result =
            ConvertSmf({image.data, image.size, MakeConversionOptions(1, true, false)}, song);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.reading.fault.kind, c.fault);
        EXPECT_EQ(result.reading.fault.offset, c.offset);
        EXPECT_EQ(result.reading.lenientConverts, c.lenientConverts);
        EXPECT_EQ(song.blocks.Count(), 0u);
        EXPECT_TRUE(song.title.Empty());
    }
}

TEST(PrepareSong, TakesTheTextsFromTheFirstTrackBeforeMerging) {
    struct Case {
        const char* what;
        Bytes image;
        std::string title, copyright;
        uint32_t tracks;  // after preparing
        uint32_t events;  // in the first track
    };
    const Case cases[] = {
        {"a track name in track 1",
         SmfImage()
             .Format(1)
             .Track(Cat({Meta(0x03, "Song"), EndOfTrack}))
             .Track(Cat({Note, EndOfTrack})),
         "Song", "", 1, 3},
        {"a track name only in track 2 is no title",
         SmfImage()
             .Format(1)
             .Track(Cat({Note, EndOfTrack}))
             .Track(Cat({Meta(0x03, "Late"), Meta(0x02, "(c)"), EndOfTrack})),
         "", "", 1, 4},
        {"a text event stands in for a missing name; copyright beside it",
         SmfImage().Format(1).Track(Cat({Meta(0x01, "Text"), Meta(0x02, "(c) 2026"), EndOfTrack})),
         "Text", "(c) 2026", 1, 3},
        {"format 0 keeps its second track unmerged",
         SmfImage().Format(0).Track(Cat({Note, EndOfTrack})).Track(Cat({Note, Note, EndOfTrack})),
         "", "", 2, 2},
        {"behind a MacBinary header",
         SmfImage()
             .MacBinary(MacBinaryHeader())
             .Format(0)
             .Track(Cat({Meta(0x03, "Mac"), EndOfTrack})),
         "Mac", "", 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapImage heap(c.image);
        Song song;
        ByteBuffer title, copyright;
        ASSERT_EQ(PrepareSong({heap.data, heap.size}, song, title, copyright),
                  ConversionStatus::Ok);
        EXPECT_EQ(Str(title), c.title);
        EXPECT_EQ(Str(copyright), c.copyright);
        EXPECT_EQ(song.TrackCount(), c.tracks);
        EXPECT_EQ(song.FirstTrack()->Count(), c.events);
    }
}

}  // namespace
