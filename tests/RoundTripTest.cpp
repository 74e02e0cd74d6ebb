// Whatever converts must decode to exactly the events of the merged track, with their ticks.
#include <gtest/gtest.h>

#include "core/Conversion.h"
#include "core/MdsWriter.h"
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
            ASSERT_EQ(PrepareSong(heap.data, heap.size, song, title, copyright),
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

}  // namespace
