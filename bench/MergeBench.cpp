// Merge cost by track count at an equal number of events: the k-way merge must not grow with
// tracks x events as the plain pairwise merge does. The merge here is MergeToSingleTrack, which
// relinks the song; a conversion takes the same order straight into its encoder.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/SmfReader.h"
#include "core/SongConversion.h"

namespace {

constexpr uint32_t TotalEvents = 1 << 20;

void PutVarLen(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    const uint32_t n = EncodeVarLen(value, bytes);
    out.insert(out.end(), bytes, bytes + n);
}

// A format 1 song of tracks of chords (one to four notes at a tick) spread so the tracks
// interleave; every song has the same number of events whatever its track count.
std::vector<uint8_t> MakeSong(uint32_t trackCount) {
    std::vector<uint8_t> image = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    image.push_back(uint8_t(trackCount >> 8));
    image.push_back(uint8_t(trackCount));
    image.insert(image.end(), {0, 96});
    const uint32_t perTrack = TotalEvents / trackCount;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (uint32_t t = 0; t < trackCount; ++t) {
        std::vector<uint8_t> events;
        uint32_t delta = next(48);
        uint32_t made = 0;
        while (made + 1 < perTrack) {
            const uint32_t chord = 1 + next(4);
            for (uint32_t n = 0; n < chord && made + 1 < perTrack; ++n, ++made) {
                PutVarLen(events, delta);
                events.insert(events.end(),
                              {uint8_t(0x90 | (t & 15)), uint8_t(48 + next(40)), 100});
                delta = 0;
            }
            delta = 12 + next(96);
        }
        PutVarLen(events, delta);
        events.insert(events.end(), {0xFF, 0x2F, 0x00});
        uint8_t length[4];
        PutBe32(length, uint32_t(events.size()));
        image.insert(image.end(), {'M', 'T', 'r', 'k'});
        image.insert(image.end(), length, length + 4);
        image.insert(image.end(), events.begin(), events.end());
    }
    return image;
}

// Runs the clock from the song's reading to the end of its merge only.
class MergeClock : public ConversionObserver {
public:
    explicit MergeClock(benchmark::State& state) : state(state) {}
    void StepDone(ConversionStep step) override {
        if (step == ConversionStep::Parsed) state.ResumeTiming();
        if (step == ConversionStep::Merged) state.PauseTiming();
    }

private:
    benchmark::State& state;
};

void BM_Merge(benchmark::State& state) {
    const std::vector<uint8_t> image = MakeSong(uint32_t(state.range(0)));
    MergeClock clock(state);
    for (auto _ : state) {
        state.PauseTiming();
        Song song;
        ByteBuffer title, copyright;
        const ConversionStatus status =
            PrepareSong({image.data(), uint32_t(image.size()), ConversionOptions(),
                         SmfReadMode::Strict, &clock},
                        song, title, copyright);
        if (status != ConversionStatus::Ok) state.SkipWithError("merge failed");
        song.Reset();  // the song's release is not part of the merge
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * TotalEvents);
}

void BM_MergePairwise(benchmark::State& state) {
    const std::vector<uint8_t> image = MakeSong(uint32_t(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        Song song;
        SmfReader().Parse(image.data(), uint32_t(image.size()), song, false);
        state.ResumeTiming();
        benchmark::DoNotOptimize(song.MergeToSingleTrackPairwise());
        state.PauseTiming();  // the song's release is not part of the merge
        song.Reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * TotalEvents);
}

BENCHMARK(BM_Merge)->Arg(16)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergePairwise)->Arg(16)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
