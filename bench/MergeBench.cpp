// Merge cost by track count at an equal number of events: the k-way merge must not grow with
// tracks x events as the plain pairwise merge does.
#include <benchmark/benchmark.h>

#include "core/Song.h"

namespace {

constexpr uint32_t TotalEvents = 1 << 20;

// Tracks of chords (one to four notes at a tick) with their note-offs, spread so the tracks
// interleave; every song has the same number of events whatever its track count.
void FillSong(Song& song, uint32_t trackCount) {
    song.Reset();
    song.SetFormat(1);
    const uint32_t perTrack = TotalEvents / trackCount;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (uint32_t t = 0; t < trackCount; ++t) {
        Track* track = song.AppendTrack();
        MidiEvent e;
        uint32_t tick = next(48);
        uint32_t made = 0;
        while (made + 1 < perTrack) {
            const uint32_t chord = 1 + next(4);
            for (uint32_t n = 0; n < chord && made + 1 < perTrack; ++n, ++made) {
                const uint8_t on[3] = {uint8_t(0x90 | (t & 15)), uint8_t(48 + next(40)), 100};
                e.bytes.Assign(on, 3);
                e.tick = tick;
                track->Append(e);
            }
            tick += 12 + next(96);
        }
        const uint8_t eot[3] = {0xFF, 0x2F, 0x00};
        e.bytes.Assign(eot, 3);
        e.tick = tick;
        track->Append(e);
    }
}

void Merge(benchmark::State& state, bool pairwise) {
    const uint32_t tracks = uint32_t(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Song song;
        FillSong(song, tracks);
        state.ResumeTiming();
        benchmark::DoNotOptimize(pairwise ? song.MergeToSingleTrackPairwise()
                                          : song.MergeToSingleTrack());
        state.PauseTiming();  // the song's release is not part of the merge
        song.Reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * TotalEvents);
}

void BM_Merge(benchmark::State& state) { Merge(state, false); }
void BM_MergePairwise(benchmark::State& state) { Merge(state, true); }

BENCHMARK(BM_Merge)->Arg(16)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergePairwise)->Arg(16)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
