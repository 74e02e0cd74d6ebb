// The conversion straight from the image against the song model's, the reference: for every song
// below, in both reading modes and with every kind of option, the same result, the same reading
// and the same file, byte for byte, whether kept in memory or written as it is made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/Conversion.h"
#include "core/SongConversion.h"
#include "tests/support/RandomSong.h"
#include "tests/support/SmfImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

// A track whose ticks wrap past 2^32 early, so that its key stays near 2^32, then notes at low
// ticks: every later track that ends after them takes one of its events in the merge.
Bytes TrackLosingItsEnd(uint32_t lowNotes) {
    Bytes track;
    for (int i = 0; i < 16; ++i) track = Cat({track, VarLen(0x0FFFFFFF), {0x90, 60, 100}});
    for (uint32_t i = 0; i < lowNotes; ++i) track = Cat({track, VarLen(i ? 0 : 0x20), {0x40, 1}});
    return Cat({track, EndOfTrack});
}

std::vector<std::pair<std::string, Bytes>> Songs() {
    std::vector<std::pair<std::string, Bytes>> songs;
    std::mt19937 rng(20261208);
    struct Shape {
        const char* what;
        RandomSongShape shape;
    };
    const Shape shapes[] = {
        {"format 0", {0, 1, 300, 300, false}},
        {"format 0 with tracks that are not converted", {0, 3, 100, 2000, false}},
        {"format 1, one track", {1, 1, 300, 300, false}},
        {"format 1, 16 tracks", {1, 16, 200, 300, false}},
        {"format 1, 60 tracks with wrapped ticks", {1, 60, 40, 100, true}},
        {"format 1, 3 long tracks with wrapped ticks", {1, 3, 2000, 50, true}},
        {"format 1, 500 short tracks", {1, 500, 6, 20, false}},
    };
    for (const Shape& s : shapes)
        for (int n = 0; n < 4; ++n)
            songs.push_back(
                {s.what + std::string(" #") + std::to_string(n), RandomSong(rng, s.shape)});

    SmfImage losing;
    losing.Track(TrackLosingItsEnd(300));
    for (int i = 0; i < 200; ++i) losing.Track(Cat({VarLen(0x40), {0xFF, 0x2F, 0x00}}));
    songs.push_back({"a track that loses 200 events to the later ones", losing});
    songs.push_back(
        {"tracks that end at the same tick",
         SmfImage()
             .Track(Cat({{0x00, 0x90, 1, 1}, {0x10, 0x80, 1, 0}, {0x10, 0xFF, 0x2F, 0}}))
             .Track(Cat({{0x20, 0xFF, 0x2F, 0x00}}))
             .Track(Cat({{0x00, 0xC0, 5}, {0x20, 0xFF, 0x2F, 0x00}}))});
    // What the lenient reading mends: a missing End of Track (added, then perhaps dropped by the
    // merge), bytes after one, running status after a meta event, a cut chunk, an RMID file.
    songs.push_back(
        {"tracks without End of Track", SmfImage()
                                            .Track({0x00, 0x90, 1, 1, 0x30, 0x80, 1, 0})
                                            .Track({0x10, 0xC0, 3})
                                            .Track({})
                                            .Track(Cat({{0x40, 0x90, 2, 2}, EndOfTrack}))});
    songs.push_back(
        {"bytes after End of Track, running status after a meta event",
         SmfImage().Track(Cat({{0x00, 0x90, 1, 1, 0x00, 0xFF, 0x01, 0x01, 'x', 0x10, 2, 2},
                               EndOfTrack,
                               {0x00, 0x90, 3, 3}}))});
    songs.push_back({"a track chunk cut by the end of the file",
                     SmfImage()
                         .Track(Cat({{0x00, 0x90, 1, 1}, EndOfTrack}))
                         .Track(Cat({{0x00, 0x90, 1, 1, 0x10, 0x80, 1}}), 40)});
    songs.push_back({"an RMID file",
                     Rmid(SmfImage().Track(Cat(
                         {{0x00, 0xFF, 0x03, 0x02, 'h', 'i'}, {0x00, 0x90, 1, 1}, EndOfTrack})))});
    songs.push_back({"a fault in the last track",
                     SmfImage()
                         .Track(Cat({{0x00, 0x90, 1, 1}, EndOfTrack}))
                         .Track(Cat({{0x00, 0x90, 1, 1}, {0x00, 0xF8}, EndOfTrack}))});
    songs.push_back(
        {"a system exclusive too large for small blocks, dropped or kept",
         SmfImage()
             .Track(Cat({{0x00, 0x90, 1, 1}, EndOfTrack}))
             .Track(Cat({{0x00, 0xF0}, VarLen(3000), Bytes(2999, 1), {0xF7}, EndOfTrack}))});
    // Every stored input of the fuzz targets, without its option byte.
    std::vector<std::filesystem::path> stored;
    for (const auto& entry : std::filesystem::directory_iterator(TONFLUX_FUZZ_DATA))
        stored.push_back(entry.path());
    std::sort(stored.begin(), stored.end());
    for (const auto& path : stored) {
        std::ifstream in(path, std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!bytes.empty()) bytes.pop_back();
        songs.push_back({path.filename().string(), bytes});
    }
    return songs;
}

Bytes ImageOf(const ConvertedSong& song) {
    MemoryFile image(4096);
    EXPECT_TRUE(WriteConvertedImage(song, image));
    return Bytes(image.Data(), image.Data() + image.GetLength());
}

TEST(StreamConversion, GivesTheSongModelsResultAndFileOnEverySong) {
    const ConversionOptions options[] = {
        MakeConversionOptions(1, true, false),  MakeConversionOptions(1, false, true),
        MakeConversionOptions(3, true, true),   MakeConversionOptions(4, false, false),
        MakeConversionOptions(63, true, false), MakeConversionOptions(63, false, true),
    };
    uint32_t converted = 0;
    for (const auto& song : Songs()) {
        SCOPED_TRACE(song.first);
        const HeapImage image(song.second);
        for (SmfReadMode mode : {SmfReadMode::Strict, SmfReadMode::Lenient}) {
            for (const ConversionOptions& o : options) {
                SCOPED_TRACE(testing::Message()
                             << (mode == SmfReadMode::Strict ? "strict, " : "lenient, ")
                             << o.maxBufferBytes << " bytes, running status " << o.useRunningStatus
                             << ", ids omitted " << o.omitStreamIds);
                const ConversionRequest request(image.data, image.size, o, mode);
                ConvertedSong model, kept;
                const ConversionResult expected = ConvertSmfThroughSong(request, model);
                const ConversionResult got = ConvertSmf(request, kept);
                MemoryFile written(4096);
                MdsImageOutput output(written);
                const ConversionResult streamed = ConvertSmfToOutput(request, output);
                for (const ConversionResult* r : {&got, &streamed}) {
                    ASSERT_EQ(r->status, expected.status);
                    EXPECT_EQ(r->reading.fault.kind, expected.reading.fault.kind);
                    EXPECT_EQ(r->reading.fault.chunk, expected.reading.fault.chunk);
                    EXPECT_EQ(r->reading.fault.trackChunk, expected.reading.fault.trackChunk);
                    EXPECT_EQ(r->reading.fault.offset, expected.reading.fault.offset);
                    EXPECT_EQ(r->reading.lenientConverts, expected.reading.lenientConverts);
                    EXPECT_EQ(r->reading.mends, expected.reading.mends);
                    EXPECT_EQ(r->blocks, expected.blocks);
                    EXPECT_EQ(r->events, expected.events);
                }
                if (expected.status != ConversionStatus::Ok) continue;
                ++converted;
                const Bytes file = ImageOf(model);
                EXPECT_TRUE(ImageOf(kept) == file);
                EXPECT_TRUE(Bytes(written.Data(), written.Data() + written.GetLength()) == file);
            }
        }
    }
    EXPECT_GT(converted, 300u);  // the table is not refused wholesale
}

}  // namespace
