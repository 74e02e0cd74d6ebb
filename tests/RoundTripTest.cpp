// Whatever converts must decode to exactly the events of the merged track, with their ticks, and
// come back from the way back to SMF as the same stream file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "core/Conversion.h"
#include "core/MdsWriter.h"
#include "core/SongConversion.h"
#include "tests/support/RandomSong.h"
#include "tests/support/StreamEvents.h"

namespace {

TEST(RoundTrip, RandomSongsDecodeToTheMergedEvents) {
    struct Case {
        const char* what;
        RandomSongShape shape;
        uint32_t songs;
    };
    const Case cases[] = {
        {"format 1, a few tracks", {1, 4, 200, 300, false}, 40},
        {"format 1, many short tracks", {1, 64, 20, 40, false}, 10},
        {"format 1, ticks wrapping past 2^32", {1, 3, 100, 100, true}, 20},
        {"format 0, its second track ignored", {0, 2, 300, 300, false}, 10},
    };
    std::mt19937 rng(20261207);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (uint32_t n = 0; n < c.songs; ++n) {
            const Bytes smf = RandomSong(rng, c.shape);
            HeapImage heap(smf);
            Song song;
            ByteBuffer title, copyright;
            ASSERT_EQ(PrepareSong({heap.data, heap.size}, song, title, copyright),
                      ConversionStatus::Ok);
            const auto expected = ExpectedStreamEvents(*song.FirstTrack());
            for (int variant = 0; variant < 4; ++variant) {
                ConversionOptions options;
                options.maxBufferBytes = 1024 * (1 + rng() % 4);
                options.useRunningStatus = variant & 1;
                options.omitStreamIds = variant & 2;
                SCOPED_TRACE(variant);
                StreamBlockList blocks;
                ASSERT_EQ(BuildStreamBlocks(*song.FirstTrack(), options, blocks), BuildResult::Ok);
                MemoryFile image(65536);
                ASSERT_TRUE(
                    WriteMdsImage(song.Division(), options, blocks, title, copyright, image));
                const DecodedMds got = DecodeMdsImage(image.Data(), image.GetLength());
                ASSERT_EQ(got.check.fault, MdsFault::None) << "at " << got.check.offset;
                EXPECT_TRUE(got.deviations.empty())
                    << "our writer's own layout, at " << got.deviations[0].offset;
                EXPECT_EQ(got.header.timeFormat, song.Division());
                EXPECT_EQ(got.header.blockCount, blocks.Count());
                ASSERT_EQ(got.events.size(), expected.size());
                for (size_t i = 0; i < expected.size(); ++i)
                    ASSERT_EQ(got.events[i], expected[i]) << "event " << i;
                EXPECT_EQ(got.title, Bytes(title.Data(), title.Data() + title.Size()));
                EXPECT_EQ(got.copyright,
                          Bytes(copyright.Data(), copyright.Data() + copyright.Size()));
            }
        }
    }
}

Bytes Image(const MemoryFile& file) {
    return Bytes(file.Data(), file.Data() + file.GetLength());
}

// MID -> MDS -> MID' -> MDS' with the same options gives MDS' = MDS, except that a title or
// copyright ending in a NUL loses it: the INFO text cannot tell it from its terminator.
TEST(RoundTrip, BackToSmfAndOnceMoreGivesTheSameStreamFile) {
    struct Case {
        const char* what;
        std::vector<Bytes> songs;
        MdsConversionStatus back;
    };
    std::ifstream in(TONFLUX_SAMPLE, std::ios::binary);
    const Bytes sample{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(sample.size(), 100u);
    std::mt19937 rng(20261208);
    auto random = [&](RandomSongShape shape, int count) {
        std::vector<Bytes> songs;
        for (int i = 0; i < count; ++i) songs.push_back(RandomSong(rng, shape));
        return songs;
    };
    const Bytes endOfTrack{0x00, 0xFF, 0x2F, 0x00};
    const Bytes note{0x00, 0x90, 0x3C, 0x40};
    const Bytes gap{0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x06, 0x00};  // a marker 0x0FFFFFFF later
    const Case cases[] = {
        {"the bundled sample", {sample}, MdsConversionStatus::Ok},
        {"format 1, a few tracks", random({1, 4, 200, 300, false}, 10), MdsConversionStatus::Ok},
        {"format 1, many short tracks", random({1, 40, 20, 40, false}, 5), MdsConversionStatus::Ok},
        {"format 0, SMPTE time",
         {SmfImage().Format(0).Division(0xE728).Track(Cat({note, {0x10, 0x3C, 0x00}, endOfTrack}))},
         MdsConversionStatus::Ok},
        {"a title and a copyright ending in NUL",
         {SmfImage().Format(0).Track(Cat({{0x00, 0xFF, 0x03, 0x02, 'T', 0x00},
                                          {0x00, 0xFF, 0x02, 0x01, 0x00},
                                          note,
                                          endOfTrack}))},
         MdsConversionStatus::Ok},
        {"a text event for a title, a sysex sent with F7 that starts with F0",
         {SmfImage().Format(0).Track(Cat(
             {{0x00, 0xFF, 0x01, 0x01, 't'}, {0x00, 0xF7, 0x03, 0xF0, 0x01, 0xF7}, endOfTrack}))},
         MdsConversionStatus::Ok},
        {"ticks wrapping past 2^32", random({1, 3, 100, 100, true}, 3),
         MdsConversionStatus::DeltaTooLarge},
        {"two notes more than 0x0FFFFFFF ticks apart",
         {SmfImage().Format(0).Track(Cat({note, gap, gap, note, endOfTrack}))},
         MdsConversionStatus::DeltaTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const Bytes& smf : c.songs) {
            for (int variant = 0; variant < 4; ++variant) {
                SCOPED_TRACE(variant);
                ConversionOptions options;
                options.maxBufferBytes = 1024 * (1 + rng() % 4);
                options.useRunningStatus = variant & 1;
                options.omitStreamIds = variant & 2;
                ConvertedSong song;
                ASSERT_EQ(ConvertSmf({smf.data(), uint32_t(smf.size()), options}, song).status,
                          ConversionStatus::Ok);
                MemoryFile mds(65536);
                ASSERT_TRUE(WriteConvertedImage(song, mds));
                HeapImage heap(Image(mds));
                ConvertedMidi midi;
                ASSERT_EQ(ConvertMds(heap.data, heap.size, options.useRunningStatus, midi), c.back);
                if (c.back != MdsConversionStatus::Ok) continue;
                MemoryFile mid(65536);
                ASSERT_TRUE(WriteConvertedMidiImage(midi, mid));
                ConvertedSong again;
                ASSERT_EQ(ConvertSmf({mid.Data(), mid.GetLength(), options}, again).status,
                          ConversionStatus::Ok);
                MemoryFile mdsAgain(65536);
                ASSERT_TRUE(WriteConvertedImage(again, mdsAgain));
                for (ByteBuffer* text : {&song.title, &song.copyright})
                    if (!text->Empty() && (*text)[text->Size() - 1] == 0)
                        text->Resize(text->Size() - 1);
                MemoryFile expected(65536);
                ASSERT_TRUE(WriteConvertedImage(song, expected));
                ASSERT_EQ(Image(mdsAgain), Image(expected));
            }
        }
    }
}

}  // namespace
