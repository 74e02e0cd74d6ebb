// The cost of a conversion, phase by phase and end to end, on the songs that
// tools/make-bench-songs.py writes: MB of input per second, events per second, and the peak
// resident memory as a multiple of the input size. Three roads side by side: straight from the
// image into the file (end_to_end, as tonflux-convert converts), with the blocks kept in memory
// (in_memory, as tonflux.exe does), and through the song model (model_end_to_end), which every
// song is first checked to write alike.
//
//   tonflux_conversion_bench [--songs=DIR] [--out=DIR] [--no-peak] [Google Benchmark flags]
//
// Peak memory is measured in a fresh process per song (this program started again with
// --peak=SONG), so that neither the other songs nor the benchmark's own copies count; --no-peak
// leaves it out. Rates are per second of the process's CPU time (user and system, page faults
// included), which holds still on a machine shared with other work; the Time column is wall time.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/SmfReader.h"
#include "core/SongConversion.h"

namespace {

const char* const SongNames[] = {"typical", "large", "dense", "tracks2000"};

// The roads a conversion takes: straight from the image into the file as tonflux-convert does,
// with the blocks kept in memory until the file is named as tonflux.exe does, and through the
// song model, the reference that the others are checked against.
enum class Road { Stream, Memory, Model };
const char* const RoadNames[] = {"stream", "memory", "model"};

struct Phases {  // peak resident kilobytes while each phase ran; 0 when unknown
    long read = 0, parse = 0, encode = 0, whole = 0;
};

struct SongInfo {
    std::string name;
    std::string path;
    std::vector<uint8_t> image;
    uint64_t events = 0;  // as parsed, End of Track events included
    Phases peak[3];       // by road
};

std::string OutputDir = "build/bench-out";

long ProcStatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
    return 0;
}

// Sets the peak back to the current resident size (Linux 4.0 and later); false where it cannot.
bool ResetPeak() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

std::string OutputPath(const std::string& name) {
    return OutputDir + "/" + name + ".mds";
}

// One whole conversion of the file at in, as the road takes it, from reading the file to the
// written output.
bool Convert(Road road, const std::string& in, const std::string& out,
             ConversionObserver* observer = nullptr) {
    ByteBuffer image;
    if (!FileSystem::ReadWholeFile(in.c_str(), image).Ok()) return false;
    const ConversionRequest request(image.Data(), image.Size(), ConversionOptions(),
                                    SmfReadMode::Strict, observer);
    if (road == Road::Stream)
        return ConvertSmfToFile(request, out.c_str()).status == ConversionStatus::Ok;
    ConvertedSong song;
    // The model's road gives the image's memory to the blocks once the song is read.
    const ConversionResult result = road == Road::Memory
                                        ? ConvertSmf(request, song)
                                        : ConvertSmfThroughSong(request, song, &image);
    return result.status == ConversionStatus::Ok && WriteConvertedSong(out.c_str(), song).ok;
}

// Child side of --peak: one conversion, printing the peak of each phase in kilobytes.
class PeakMarks : public ConversionObserver {
public:
    PeakMarks() : perPhase(ResetPeak()) {}
    void Mark(long& phase) {
        phase = ProcStatusKb("VmHWM:");
        if (perPhase) ResetPeak();
    }
    void StepDone(ConversionStep step) override {
        if (step == ConversionStep::Parsed) Mark(peak.parse);
        if (step == ConversionStep::Released) Mark(peak.encode);
    }
    Phases peak;
    const bool perPhase;
};

int MeasurePeak(Road road, const char* path) {
    PeakMarks marks;
    Phases& peak = marks.peak;
    if (!Convert(road, path, OutputPath("peak"), &marks)) return 1;
    peak.whole = marks.perPhase ? std::max({peak.parse, peak.encode, ProcStatusKb("VmHWM:")})
                                : ProcStatusKb("VmHWM:");
    std::printf("%ld %ld %ld\n", peak.parse, peak.encode, peak.whole);
    return 0;
}

Phases PeakOf(Road road, const std::string& path) {
    Phases peak;
    int fds[2];
    if (pipe(fds) != 0) return peak;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        const std::string arg = "--peak=" + path, out = "--out=" + OutputDir,
                          how = std::string("--road=") + RoadNames[int(road)];
        execl("/proc/self/exe", "tonflux_conversion_bench", arg.c_str(), out.c_str(), how.c_str(),
              nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(got));
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        std::sscanf(text.c_str(), "%ld %ld %ld", &peak.parse, &peak.encode, &peak.whole);
    return peak;
}

void SetCounters(benchmark::State& state, const SongInfo& song, long peakKb) {
    const double bytes = double(song.image.size());
    state.counters["MB/s"] =
        benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["events/s"] =
        benchmark::Counter(double(song.events), benchmark::Counter::kIsIterationInvariantRate);
    if (peakKb > 0) state.counters["peak_x_input"] = double(peakKb) * 1024 / bytes;
}

void Abort(benchmark::State& state, const char* what) {
    state.SkipWithError(what);
}

// Times one stretch of the conversion: the clock runs from the end of step from (or the start)
// to the end of step to, and stands still for the rest of each run.
class StepClock : public ConversionObserver {
public:
    StepClock(benchmark::State& state, const ConversionStep* from, ConversionStep to)
        : state(state), from(from), to(to) {}
    void StartRun() {
        if (from) state.PauseTiming();
        running = !from;
    }
    void EndRun() {
        if (!running) state.ResumeTiming();
    }
    void StepDone(ConversionStep done) override {
        if (done == to && running) {
            state.PauseTiming();
            running = false;
        } else if (from && done == *from && !running) {
            state.ResumeTiming();
            running = true;
        }
    }

private:
    benchmark::State& state;
    const ConversionStep* const from;
    const ConversionStep to;
    bool running = false;
};

// A whole conversion into the file per run, as tonflux-convert makes it, the clock on for one
// stretch of it.
void TimeSteps(benchmark::State& state, const SongInfo* info, const ConversionStep* from,
               ConversionStep to, long peakKb) {
    StepClock clock(state, from, to);
    const std::string out = OutputPath(info->name);
    for (auto _ : state) {
        clock.StartRun();
        const ConversionStatus status =
            ConvertSmfToFile({info->image.data(), uint32_t(info->image.size()), ConversionOptions(),
                              SmfReadMode::Strict, &clock},
                             out.c_str())
                .status;
        clock.EndRun();
        if (status != ConversionStatus::Ok) return Abort(state, "conversion failed");
    }
    SetCounters(state, *info, peakKb);
}

const ConversionStep Parsed = ConversionStep::Parsed;

void BM_Parse(benchmark::State& state, const SongInfo* info) {
    TimeSteps(state, info, nullptr, ConversionStep::Parsed, info->peak[0].parse);
}
// The merge hands its order straight to the encoder, whose blocks go to the file as they fill.
void BM_MergeEncodeWrite(benchmark::State& state, const SongInfo* info) {
    TimeSteps(state, info, &Parsed, ConversionStep::Released, info->peak[0].encode);
}

template <Road road>
void BM_EndToEnd(benchmark::State& state, const SongInfo* info) {
    const std::string out = OutputPath(info->name);
    for (auto _ : state)
        if (!Convert(road, info->path, out)) return Abort(state, "conversion failed");
    SetCounters(state, *info, info->peak[int(road)].whole);
}

// The way back, as tonflux-convert takes it for an image already read: check and measure the
// song's stream file, write the SMF. Rates are per MB of the stream file.
void BM_Back(benchmark::State& state, const SongInfo* info) {
    ConvertedSong song;
    MemoryFile mds(1 << 20);
    if (ConvertSmf({info->image.data(), uint32_t(info->image.size())}, song).status !=
            ConversionStatus::Ok ||
        !WriteConvertedImage(song, mds))
        return Abort(state, "conversion failed");
    const double events = song.blocks.EventCount();
    song.blocks.Clear();
    const std::string out = OutputDir + "/" + info->name + ".back.mid";
    for (auto _ : state) {
        ConvertedMidi midi;
        if (ConvertMds(mds.Data(), mds.GetLength(), true, midi) != MdsConversionStatus::Ok ||
            !WriteConvertedMidi(out.c_str(), midi).ok)
            return Abort(state, "the way back failed");
    }
    state.counters["MB/s"] = benchmark::Counter(double(mds.GetLength()) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    state.counters["events/s"] =
        benchmark::Counter(events, benchmark::Counter::kIsIterationInvariantRate);
}

// Reads the song and checks that every road writes the same file.
bool Load(SongInfo& info) {
    ByteBuffer image;
    if (!FileSystem::ReadWholeFile(info.path.c_str(), image).Ok()) return false;
    info.image.assign(image.Data(), image.Data() + image.Size());
    Song song;
    if (!SmfReader().Parse(image.Data(), image.Size(), song, true)) return false;
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) info.events += t->Count();
    std::vector<uint8_t> files[3];
    for (int road = 0; road < 3; ++road) {
        const std::string out = OutputPath(info.name + "." + RoadNames[road]);
        if (!Convert(Road(road), info.path, out)) return false;
        std::ifstream written(out, std::ios::binary);
        files[road].assign(std::istreambuf_iterator<char>(written),
                           std::istreambuf_iterator<char>());
        std::remove(out.c_str());
    }
    if (files[0] != files[2] || files[1] != files[2]) {
        std::fprintf(stderr, "%s: the roads wrote different files\n", info.name.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string songs = "build/bench-songs";
    std::vector<char*> rest;
    const char* peakSong = nullptr;
    Road peakRoad = Road::Stream;
    bool measurePeak = true;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--songs=", 8) == 0)
            songs = argv[i] + 8;
        else if (std::strncmp(argv[i], "--out=", 6) == 0)
            OutputDir = argv[i] + 6;
        else if (std::strncmp(argv[i], "--peak=", 7) == 0)
            peakSong = argv[i] + 7;
        else if (std::strcmp(argv[i], "--road=memory") == 0)
            peakRoad = Road::Memory;
        else if (std::strcmp(argv[i], "--road=model") == 0)
            peakRoad = Road::Model;
        else if (std::strcmp(argv[i], "--road=stream") == 0)
            peakRoad = Road::Stream;
        else if (std::strcmp(argv[i], "--no-peak") == 0)
            measurePeak = false;
        else
            rest.push_back(argv[i]);
    }
    if (peakSong) return MeasurePeak(peakRoad, peakSong);
    if (std::system(("mkdir -p '" + OutputDir + "'").c_str()) != 0) return 1;

    static std::vector<std::unique_ptr<SongInfo>> infos;
    for (const char* name : SongNames) {
        auto info = std::make_unique<SongInfo>();
        info->name = name;
        info->path = songs + "/" + name + ".mid";
        if (!Load(*info)) {
            std::fprintf(stderr,
                         "skipped %s: not there, not readable or not converted alike "
                         "(tools/make-bench-songs.py)\n",
                         info->path.c_str());
            continue;
        }
        if (measurePeak)
            for (int road = 0; road < 3; ++road) info->peak[road] = PeakOf(Road(road), info->path);
        infos.push_back(std::move(info));
    }
    struct Phase {
        const char* name;
        void (*run)(benchmark::State&, const SongInfo*);
    };
    const Phase phases[] = {{"parse", BM_Parse},
                            {"merge_encode_write", BM_MergeEncodeWrite},
                            {"end_to_end", BM_EndToEnd<Road::Stream>},
                            {"in_memory", BM_EndToEnd<Road::Memory>},
                            {"model_end_to_end", BM_EndToEnd<Road::Model>},
                            {"back", BM_Back}};
    for (const auto& info : infos)
        for (const Phase& p : phases)
            benchmark::RegisterBenchmark((std::string(p.name) + "/" + info->name).c_str(), p.run,
                                         info.get())
                ->Unit(benchmark::kMillisecond);

    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
