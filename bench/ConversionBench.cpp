// The cost of a conversion, phase by phase and end to end, on the songs that
// tools/make-bench-songs.py writes: MB of input per second, events per second, and the peak
// resident memory as a multiple of the input size.
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
#include <memory>
#include <string>
#include <vector>

#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/SmfReader.h"
#include "core/SongConversion.h"

namespace {

const char* const SongNames[] = {"typical", "large", "dense", "tracks2000"};

struct Phases {  // peak resident kilobytes while each phase ran; 0 when unknown
    long read = 0, parse = 0, encode = 0, write = 0, whole = 0;
};

struct SongInfo {
    std::string name;
    std::string path;
    std::vector<uint8_t> image;
    uint64_t events = 0;  // as parsed, End of Track events included
    Phases peak;
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

// The conversion as tonflux-convert does it: the image goes once the song is read, the song
// once it is encoded.
bool Convert(const std::string& in, const std::string& out) {
    ByteBuffer image;
    if (!FileSystem::ReadWholeFile(in.c_str(), image).Ok()) return false;
    return ConvertSmfToFile({image.Data(), image.Size()}, out.c_str()).status ==
           ConversionStatus::Ok;
}

// Child side of --peak: the same conversion, printing the peak of each phase in kilobytes.
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

int MeasurePeak(const char* path) {
    PeakMarks marks;
    Phases& peak = marks.peak;
    ByteBuffer image;
    if (!FileSystem::ReadWholeFile(path, image).Ok()) return 1;
    marks.Mark(peak.read);
    if (ConvertSmfToFile(
            {image.Data(), image.Size(), ConversionOptions(), SmfReadMode::Strict, &marks},
            OutputPath("peak").c_str())
            .status != ConversionStatus::Ok)
        return 1;
    marks.Mark(peak.write);
    peak.whole = marks.perPhase ? std::max({peak.read, peak.parse, peak.encode, peak.write})
                                : ProcStatusKb("VmHWM:");
    std::printf("%ld %ld %ld %ld %ld\n", peak.read, peak.parse, peak.encode, peak.write,
                peak.whole);
    return 0;
}

Phases PeakOf(const std::string& path) {
    Phases peak;
    int fds[2];
    if (pipe(fds) != 0) return peak;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        const std::string arg = "--peak=" + path, out = "--out=" + OutputDir;
        execl("/proc/self/exe", "tonflux_conversion_bench", arg.c_str(), out.c_str(), nullptr);
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
        std::sscanf(text.c_str(), "%ld %ld %ld %ld %ld", &peak.read, &peak.parse, &peak.encode,
                    &peak.write, &peak.whole);
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

bool Parse(const SongInfo& info, Song& song) {
    return SmfReader().Parse(info.image.data(), uint32_t(info.image.size()), song, true);
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

// A whole conversion per run, the clock on for one stretch of it.
void TimeSteps(benchmark::State& state, const SongInfo* info, const ConversionStep* from,
               ConversionStep to, long peakKb) {
    StepClock clock(state, from, to);
    for (auto _ : state) {
        clock.StartRun();
        ConvertedSong song;
        const ConversionStatus status =
            ConvertSmf({info->image.data(), uint32_t(info->image.size()), ConversionOptions(),
                        SmfReadMode::Strict, &clock},
                       song)
                .status;
        clock.EndRun();
        if (status != ConversionStatus::Ok) return Abort(state, "conversion failed");
        state.PauseTiming();
        song.blocks.Clear();
        state.ResumeTiming();
    }
    SetCounters(state, *info, peakKb);
}

const ConversionStep Parsed = ConversionStep::Parsed;
const ConversionStep Encoded = ConversionStep::Encoded;

void BM_Parse(benchmark::State& state, const SongInfo* info) {
    TimeSteps(state, info, nullptr, ConversionStep::Parsed, info->peak.parse);
}
// A format 1 song is merged as it is encoded: the order of the merge goes straight to the encoder.
void BM_MergeEncode(benchmark::State& state, const SongInfo* info) {
    TimeSteps(state, info, &Parsed, ConversionStep::Encoded, info->peak.encode);
}
void BM_Free(benchmark::State& state, const SongInfo* info) {
    TimeSteps(state, info, &Encoded, ConversionStep::Released, 0);
}

void BM_Write(benchmark::State& state, const SongInfo* info) {
    ConvertedSong song;
    if (ConvertSmf({info->image.data(), uint32_t(info->image.size())}, song).status !=
        ConversionStatus::Ok)
        return Abort(state, "conversion failed");
    const std::string out = OutputPath(info->name);
    for (auto _ : state)
        if (!WriteConvertedSong(out.c_str(), song).ok) return Abort(state, "write failed");
    SetCounters(state, *info, info->peak.write);
}

void BM_EndToEnd(benchmark::State& state, const SongInfo* info) {
    const std::string out = OutputPath(info->name);
    for (auto _ : state)
        if (!Convert(info->path, out)) return Abort(state, "conversion failed");
    SetCounters(state, *info, info->peak.whole);
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

bool Load(SongInfo& info) {
    ByteBuffer image;
    if (!FileSystem::ReadWholeFile(info.path.c_str(), image).Ok()) return false;
    info.image.assign(image.Data(), image.Data() + image.Size());
    Song song;
    if (!Parse(info, song)) return false;
    for (const Track* t = song.FirstTrack(); t; t = t->Next()) info.events += t->Count();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string songs = "build/bench-songs";
    std::vector<char*> rest;
    const char* peakSong = nullptr;
    bool measurePeak = true;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--songs=", 8) == 0)
            songs = argv[i] + 8;
        else if (std::strncmp(argv[i], "--out=", 6) == 0)
            OutputDir = argv[i] + 6;
        else if (std::strncmp(argv[i], "--peak=", 7) == 0)
            peakSong = argv[i] + 7;
        else if (std::strcmp(argv[i], "--no-peak") == 0)
            measurePeak = false;
        else
            rest.push_back(argv[i]);
    }
    if (peakSong) return MeasurePeak(peakSong);
    if (std::system(("mkdir -p '" + OutputDir + "'").c_str()) != 0) return 1;

    static std::vector<std::unique_ptr<SongInfo>> infos;
    for (const char* name : SongNames) {
        auto info = std::make_unique<SongInfo>();
        info->name = name;
        info->path = songs + "/" + name + ".mid";
        if (!Load(*info)) {
            std::fprintf(stderr,
                         "skipped %s: not there or not readable (tools/make-bench-songs.py)\n",
                         info->path.c_str());
            continue;
        }
        if (measurePeak) info->peak = PeakOf(info->path);
        infos.push_back(std::move(info));
    }
    struct Phase {
        const char* name;
        void (*run)(benchmark::State&, const SongInfo*);
    };
    const Phase phases[] = {{"parse", BM_Parse},         {"merge_encode", BM_MergeEncode},
                            {"write", BM_Write},         {"free", BM_Free},
                            {"end_to_end", BM_EndToEnd}, {"back", BM_Back}};
    for (const auto& info : infos)
        for (const Phase& p : phases) {
            benchmark::internal::Benchmark* b =
                benchmark::RegisterBenchmark((std::string(p.name) + "/" + info->name).c_str(),
                                             p.run, info.get())
                    ->Unit(benchmark::kMillisecond);
            // Freeing takes a tiny share of each run, so the runs Google Benchmark would choose
            // from its clock alone take many minutes: a fixed count, about 300 MB of song.
            if (p.run == BM_Free)
                b->Iterations(std::max<int64_t>(3, 300000000 / info->image.size()));
        }

    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
