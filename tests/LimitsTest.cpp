// Files built to exhaust time or memory are refused or converted, with the heap that the
// conversion takes bounded by a small multiple of the file's size.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/Conversion.h"
#include "core/SmfReader.h"
#include "core/SongConversion.h"
#include "core/StreamBlocks.h"
#include "tests/fuzz/AllocationHooks.h"
#include "tests/support/SmfImage.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

enum class Outcome { NotSmf, EventTooLarge, Converted };

struct Measured {
    Outcome outcome;
    uint64_t kept;      // heap growth during the conversion in memory, in bytes
    uint64_t streamed;  // and during the conversion written as it is made
};

// Where a file written as it is made goes: nowhere.
class Discard : public MdsOutput {
public:
    bool Write(const uint8_t*, uint32_t) override { return true; }
    bool WriteAt(uint32_t, const uint8_t*, uint32_t) override { return true; }
};

Measured Convert(const Bytes& file) {
    HeapImage image(file);
    Measured m{};
    {
        ConvertedSong song;
        StartHeapPeak();
        const ConversionStatus status = ConvertSmf({image.data, image.size}, song).status;
        EXPECT_NE(status, ConversionStatus::OutOfMemory);
        m.kept = HeapPeakGrowth();
        m.outcome = status == ConversionStatus::NotSmf ? Outcome::NotSmf
                    : status == ConversionStatus::Ok   ? Outcome::Converted
                                                       : Outcome::EventTooLarge;
    }
    Discard nowhere;
    StartHeapPeak();
    EXPECT_NE(ConvertSmfToOutput({image.data, image.size}, nowhere).status,
              ConversionStatus::OutOfMemory);
    m.streamed = HeapPeakGrowth();
    return m;
}

// One track whose ticks wrap past 2^32: a first delta of its own, then 16 deltas of 0x0FFFFFFF.
Bytes WrappedTrack(uint32_t first) {
    Bytes events;
    for (int i = 0; i < 17; ++i) {
        const Bytes delta = VarLen(i ? 0x0FFFFFFF : first);
        events.insert(events.end(), delta.begin(), delta.end());
        events.insert(events.end(), {uint8_t(0x90 | first % 16), uint8_t(i), 0x40});
    }
    return Cat({events, EndOfTrack});
}

// The densest file the reader takes: two bytes per event (a delta and a data byte under the
// running status of a program change).
Bytes DenseTrack(uint32_t events) {
    Bytes track{0x00, 0xC0, 0x00};
    track.reserve(2 * events + 8);
    for (uint32_t i = 1; i < events; ++i) track.insert(track.end(), {0x00, uint8_t(i & 0x7F)});
    return Cat({track, EndOfTrack});
}

TEST(Limits, HostileFilesAreRefusedOrConvertedInBoundedMemory) {
    if (!CanMeasureHeap()) GTEST_SKIP() << "the heap cannot be measured here";
    SmfImage chunks65535, tracks65535, tracks2000;
    chunks65535.Track(Cat({{0x00, 0x90, 0x3C, 0x40}, EndOfTrack}));
    for (int i = 1; i < 65535; ++i) chunks65535.Chunk("XFIH", {});
    for (int i = 0; i < 65535; ++i) tracks65535.Track(Cat({{0x00, 0x90, 0x3C, 0x40}, EndOfTrack}));
    for (int i = 0; i < 2000; ++i) tracks2000.Track(WrappedTrack(uint32_t(i) * 7919 % 100000));
    const Bytes bigSysex(1 << 20, 0x11);
    struct Case {
        const char* what;
        Bytes file;
        Outcome outcome;
    };
    const Case cases[] = {
        {"65535 chunks announced, one present",
         SmfImage().ChunkCount(65535).Track(Cat({{0x00, 0x90, 0x3C, 0x40}, EndOfTrack})),
         Outcome::NotSmf},
        {"65535 chunks, one of them a track", chunks65535, Outcome::Converted},
        {"65535 tracks", tracks65535, Outcome::Converted},
        {"a sysex claiming 256 MB in a small file",
         SmfImage().Format(0).Track(Cat({{0x00, 0xF0}, VarLen(0x0FFFFFFF), {1, 2, 3}, EndOfTrack})),
         Outcome::NotSmf},
        {"a track chunk claiming 4 GB", SmfImage().Track(EndOfTrack, 0xFFFFFFFF), Outcome::NotSmf},
        {"a sysex of 1 MB",
         SmfImage().Format(0).Track(Cat({{0x00, 0xF0}, VarLen(1 << 20), bigSysex, EndOfTrack})),
         Outcome::EventTooLarge},
        {"2000 tracks, each with a wrapped tick", tracks2000, Outcome::Converted},
        {"1 MB of two-byte events", SmfImage().Format(0).Track(DenseTrack(1 << 19)),
         Outcome::Converted},
        {"16 MB of garbage", Bytes(16 << 20, 0xA5), Outcome::NotSmf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Measured m = Convert(c.file);
        EXPECT_EQ(int(m.outcome), int(c.outcome));
        // Kept in memory, the densest file (two bytes per event) takes the most: a 12-byte
        // stream event for every 2 bytes of file, and the rest of the newest piece of memory the
        // blocks are taken from.
        EXPECT_LE(m.kept, 32 * uint64_t(c.file.size()) + 16 * 1024)
            << double(m.kept) / double(c.file.size()) << " times the file's size";
        // Written as it is made, only the merge's bookkeeping: a few words per track, a window of
        // events, a block.
        EXPECT_LE(m.streamed, uint64_t(c.file.size()) + 16 * 1024 * 1024)
            << m.streamed << " bytes for a file of " << c.file.size();
    }
}

TEST(Limits, TwoThousandWrappedTracksMergeAsThePairwiseDefinition) {
    SmfImage file;
    for (int i = 0; i < 2000; ++i) file.Track(WrappedTrack(uint32_t(i) * 7919 % 100000));
    const HeapImage image(file.Build());
    Song merged, pairwise;
    ASSERT_TRUE(SmfReader().Parse(image.data, image.size, merged, false));
    ASSERT_TRUE(SmfReader().Parse(image.data, image.size, pairwise, false));
    ASSERT_TRUE(merged.MergeToSingleTrack());
    ASSERT_TRUE(pairwise.MergeToSingleTrackPairwise());
    const Track& a = *merged.FirstTrack();
    const Track& b = *pairwise.FirstTrack();
    ASSERT_EQ(a.Count(), 2000u * 17 + 1);
    ASSERT_EQ(a.Count(), b.Count());
    uint32_t n = 0;
    for (const MidiEvent *x = a.First(), *y = b.First(); x && y;
         x = x->Next(), y = y->Next(), ++n) {
        ASSERT_EQ(x->tick, y->tick) << "event " << n;
        ASSERT_EQ(x->bytes.Size(), y->bytes.Size()) << "event " << n;
        ASSERT_EQ(0, std::memcmp(x->bytes.Data(), y->bytes.Data(), x->bytes.Size()))
            << "event " << n;
    }
}

TEST(Limits, AMergeWithoutMemoryForItsBookkeepingRefusesAtOnce) {
    // 2000 tracks, two of them with falling ticks: the bookkeeping takes several blocks. Without
    // any one of them the merge must refuse and leave the song as read; a fallback to the
    // pairwise merge would take tracks x events steps instead.
    SmfImage file;
    for (int i = 0; i < 2000; ++i)
        file.Track(i % 1000 ? Cat({{0x00, 0x90, 0x3C, 0x40}, EndOfTrack}) : WrappedTrack(7));
    const HeapImage image(file.Build());
    uint64_t allocations = 0;
    {
        Song song;
        ASSERT_TRUE(SmfReader().Parse(image.data, image.size, song, false));
        FailNthAllocation(0);
        ASSERT_TRUE(song.MergeToSingleTrack());
        allocations = NothrowAllocations();
    }
    ASSERT_GT(allocations, 3u);
    // Where the conversion's own count stands once the song is read (it has no texts to copy).
    struct ReadCount : ConversionObserver {
        void StepDone(ConversionStep step) override {
            if (step == ConversionStep::Parsed) read = NothrowAllocations();
        }
        uint64_t read = 0;
    } readCount;
    {
        ConvertedSong converted;
        FailNthAllocation(0);
        ASSERT_EQ(ConvertSmfThroughSong({image.data, image.size, ConversionOptions(),
                                         SmfReadMode::Strict, &readCount},
                                        converted)
                      .status,
                  ConversionStatus::Ok);
    }
    for (uint64_t nth = 1; nth <= allocations; ++nth) {
        SCOPED_TRACE(nth);
        Song song;
        ASSERT_TRUE(SmfReader().Parse(image.data, image.size, song, false));
        FailNthAllocation(nth);
        EXPECT_FALSE(song.MergeToSingleTrack());
        FailNthAllocation(0);
        EXPECT_EQ(song.Format(), 1);
        EXPECT_EQ(song.TrackCount(), 2000u);
        FailNthAllocation(readCount.read + nth);  // the same allocation within the conversion
        ConvertedSong converted;
        EXPECT_EQ(ConvertSmfThroughSong({image.data, image.size}, converted).status,
                  ConversionStatus::OutOfMemory);
        FailNthAllocation(0);
    }
}

}  // namespace
