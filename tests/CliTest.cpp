#include "cli/Convert.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli/Platform.h"
#include "cli/Texts.h"
#include "core/Conversion.h"
#include "core/OutputFile.h"
#include "tests/support/RandomSong.h"
#include "tests/support/StreamEvents.h"

namespace {

namespace fs = std::filesystem;

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

Bytes GoodSong() {
    return SmfImage()
        .Format(1)
        .Track(Cat({{0x00, 0xFF, 0x03, 0x01, 'T'}, EndOfTrack}))
        .Track(Cat({{0x00, 0x90, 0x30, 0x40, 0x10, 0x30, 0x00}, EndOfTrack}));
}

// Running status after a lyric, as many real files have it (the data byte at 0x21).
Bytes LyricSong() {
    return SmfImage().Format(0).Track({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x05, 0x02, 'l', 'a',
                                       0x10, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
}

Bytes BigSysexSong() {
    Bytes data(1500, 0x11);
    data.push_back(0xF7);
    return SmfImage().Format(0).Track(Cat({{0x00, 0xF0}, VarLen(1501), data, EndOfTrack}));
}

struct Outcome {
    int code;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("tonflux-cli-") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string P(const std::string& name) const { return (dir / name).string(); }
    void Put(const std::string& name, const Bytes& bytes) const {
        fs::create_directories((dir / name).parent_path());
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    Bytes Get(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Has(const std::string& name) const { return fs::exists(dir / name); }
    // Every file below dir, relative, sorted: what a run left behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).generic_string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static Outcome Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = RunConvert(args, out, err);
        return {code, out.str(), err.str()};
    }

    fs::path dir;
};

std::string Text(const char* utf8) {
    return Platform::ConsoleText(utf8);
}

// The system's text for a failure, by the code each system gives it.
std::string SystemText(int posixCode, uint32_t windowsCode) {
#ifdef _WIN32
    (void)posixCode;
    return Platform::ErrorText(windowsCode);
#else
    (void)windowsCode;
    return Platform::ErrorText(uint32_t(posixCode));
#endif
}

TEST_F(Cli, RefusesBadUsageWithExitCode2AndTouchesNothing) {
    Put("a.mid", GoodSong());
    Put("b.mid", GoodSong());
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"no input", {}, Text(Texts::NoInput)},
        {"an unknown option", {"--frobnicate", P("a.mid")}, Text(Texts::UnknownOption)},
        {"a value missing", {P("a.mid"), "-k"}, Text(Texts::MissingValue)},
        {"buffer size 0", {"-k", "0", P("a.mid")}, Text(Texts::BufferSize)},
        {"buffer size 64", {"--buffer-kb=64", P("a.mid")}, Text(Texts::BufferSize)},
        {"buffer size not a number", {"-k4k", P("a.mid")}, Text(Texts::BufferSize)},
        {"no jobs", {"-j", "0", P("a.mid")}, Text(Texts::BadJobs)},
        {"-o with two inputs",
         {"-o", P("x.mds"), P("a.mid"), P("b.mid")},
         Text(Texts::OutputWithMany)},
        {"-o for a folder of two",
         {"-r", "-o", P("x.mds"), dir.string()},
         Text(Texts::OutputWithMany)},
        {"-o and -d",
         {"-o", P("x.mds"), "-d", dir.string(), P("a.mid")},
         Text(Texts::OutputAndDir)},
        {"--dump with inputs", {"--dump", P("a.mds"), P("a.mid")}, Text(Texts::DumpAndInput)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = Run(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(Files(), (std::vector<std::string>{"a.mid", "b.mid"}));
    }
}

TEST_F(Cli, ReportsEachFailedInputAndConvertsTheRest) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> files;
        std::vector<std::string> args;  // "@x" is the path of x in the test folder
        int code;
        std::string message;  // expected on err; empty: err stays empty
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"a good file", {{"a.mid", GoodSong()}}, {"@a.mid"}, 0, "", {"a.mds", "a.mid"}},
        {"format 2",
         {{"f2.mid", SmfImage().Format(2).Track(EndOfTrack)}},
         {"@f2.mid"},
         1,
         Text("f2.mid': ヘッダー (オフセット 0x8): SMF フォーマット 0 または 1 ではありません\n"),
         {"f2.mid"}},
        {"running status after a lyric: where, what, and that --lenient converts it",
         {{"lyric.mid", LyricSong()}},
         {"@lyric.mid"},
         1,
         Text("lyric.mid': トラック 1 (オフセット 0x21): ランニング ステータスのないデータ バイト "
              "(--lenient で変換できます)\n"),
         {"lyric.mid"}},
        {"--lenient converts it",
         {{"lyric.mid", LyricSong()}},
         {"--lenient", "@lyric.mid"},
         0,
         "",
         {"lyric.mds", "lyric.mid"}},
        {"a fault no rule mends, with --lenient too",
         {{"f4.mid", SmfImage().Format(0).Track({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF4})}},
         {"--lenient", "@f4.mid"},
         1,
         Text("f4.mid': トラック 1 (オフセット 0x1B): トラックに置けないステータス バイト "
              "(F1-F6, F8-FE)\n"),
         {"f4.mid"}},
        {"an RMID file without --lenient",
         {{"song.rmi", Rmid(GoodSong())}},
         {"@song.rmi"},
         1,
         Text("song.rmi': このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 "
              "ではありません。 (--lenient で変換できます)\n"),
         {"song.rmi"}},
        {"-r --lenient collects *.rmi as well",
         {{"r/a.rmi", Rmid(GoodSong())}, {"r/b.mid", GoodSong()}},
         {"-r", "--lenient", "@r"},
         0,
         "",
         {"r/a.mds", "r/a.rmi", "r/b.mds", "r/b.mid"}},
        {"an empty file", {{"e.mid", {}}}, {"@e.mid"}, 1, Text(Texts::NotSmf), {"e.mid"}},
        {"a missing file", {}, {"@none.mid"}, 1, SystemText(ENOENT, 2), {}},
        {"a sysex larger than 1 KB blocks",
         {{"s.mid", BigSysexSong()}},
         {"-k", "1", "@s.mid"},
         1,
         Text(Texts::SysexTooLarge),
         {"s.mid"}},
        {"the same fits 2 KB blocks",
         {{"s.mid", BigSysexSong()}},
         {"-k2", "@s.mid"},
         0,
         "",
         {"s.mds", "s.mid"}},
        {"one bad among good ones",
         {{"a.mid", GoodSong()}, {"bad.mid", {'M', 'T', 'h', 'd'}}, {"c.mid", GoodSong()}},
         {"@a.mid", "@bad.mid", "@c.mid"},
         1,
         Text("bad.mid': ヘッダー (オフセット 0x4): ファイルが途中で終わっています\n"),
         {"a.mds", "a.mid", "bad.mid", "c.mds", "c.mid"}},
        {"an existing output is kept",
         {{"a.mid", GoodSong()}, {"a.mds", {'o', 'l', 'd'}}},
         {"@a.mid"},
         1,
         Text(Texts::OutputExists),
         {"a.mds", "a.mid"}},
        {"a folder without -r",
         {{"sub/a.mid", GoodSong()}},
         {"@sub"},
         1,
         Text(Texts::IsFolder),
         {"sub/a.mid"}},
        {"an output folder that does not exist",
         {{"a.mid", GoodSong()}},
         {"-d", "@gone", "@a.mid"},
         1,
         SystemText(ENOENT, 3),
         {"a.mid"}},
        {"an output that is a folder, even with -f",
         {{"a.mid", GoodSong()}, {"a.mds/keep", {1}}},
         {"-f", "@a.mid"},
         1,
         SystemText(EISDIR, 5),
         {"a.mds/keep", "a.mid"}},
        {"two inputs for one output: the first wins",
         {{"a.mid", GoodSong()}, {"a.midi", GoodSong()}},
         {"@a.midi", "@a.mid"},
         1,
         Text(Texts::OutputClash),
         {"a.mds", "a.mid", "a.midi"}},
        {"-r finds *.mid and *.MIDI below, nothing else",
         {{"r/x.mid", GoodSong()}, {"r/deep/y.MIDI", GoodSong()}, {"r/z.txt", GoodSong()}},
         {"-r", "@r"},
         0,
         "",
         {"r/deep/y.MIDI", "r/deep/y.mds", "r/x.mds", "r/x.mid", "r/z.txt"}},
        {"-o names the output",
         {{"a.mid", GoodSong()}},
         {"--output", "@b.bin", "@a.mid"},
         0,
         "",
         {"a.mid", "b.bin"}},
        {"-d gathers outputs",
         {{"a.mid", GoodSong()}, {"out/.keep", {}}},
         {"-d", "@out", "@a.mid"},
         0,
         "",
         {"a.mid", "out/.keep", "out/a.mds"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& f : c.files) Put(f.first, f.second);
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a[0] == '@' ? P(a.substr(1)) : a);
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, c.code);
        if (c.message.empty())
            EXPECT_EQ(r.err, "");
        else
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(Files(), c.after);
    }
}

TEST_F(Cli, ForceReplacesAndQuietSaysNothing) {
    Put("a.mid", GoodSong());
    Put("a.mds", {'o', 'l', 'd'});
    const Outcome r = Run({"-f", "-q", P("a.mid")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Get("a.mds").size(), 44u + 8 + 12 + 12 + 8 + 4 + 8 + 2);  // 2 notes, LIST with "T"
    const Outcome loud = Run({"-f", P("a.mid")});
    EXPECT_NE(loud.out.find(P("a.mds")), std::string::npos);
}

TEST_F(Cli, OutputIsTheSameForAnyNumberOfJobs) {
    std::mt19937 rng(7);
    std::vector<std::string> inputs;
    for (int i = 0; i < 12; ++i) {
        RandomSongShape shape;
        shape.tracks = 1 + rng() % 8;
        shape.eventsPerTrack = 50 + rng() % 400;
        const std::string name = "in/song" + std::to_string(i) + ".mid";
        Put(name, RandomSong(rng, shape));
        inputs.push_back(P(name));
    }
    Put("in/broken.mid", {'M', 'T', 'h', 'd', 0, 0});
    inputs.insert(inputs.begin() + 5, P("in/broken.mid"));
    std::vector<Outcome> runs;
    for (const char* jobs : {"1", "3", "8"}) {
        const std::string out = "out" + std::string(jobs);
        fs::create_directories(dir / out);
        std::vector<std::string> args = {"-j", jobs, "-d", P(out)};
        args.insert(args.end(), inputs.begin(), inputs.end());
        runs.push_back(Run(args));
        EXPECT_EQ(runs.back().code, 1);  // the broken one
    }
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const std::string name = "/song" + std::to_string(i) + ".mds";
        ASSERT_FALSE(Get("out1" + name).empty());
        EXPECT_EQ(Get("out1" + name), Get("out3" + name));
        EXPECT_EQ(Get("out1" + name), Get("out8" + name));
    }
    // Reports come in the order of the inputs, so the text differs only in the output folder.
    auto normalized = [](std::string text, const std::string& from) {
        for (size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), "OUT");
        return text;
    };
    EXPECT_EQ(normalized(runs[0].out, P("out1")), normalized(runs[1].out, P("out3")));
    EXPECT_EQ(normalized(runs[0].out, P("out1")), normalized(runs[2].out, P("out8")));
    EXPECT_EQ(runs[0].err, runs[2].err);
}

// Parses the event lines of --dump: "  TICK +DELTA short|tempo|long ...".
std::vector<StreamEventRecord> DumpedEvents(const std::string& dump) {
    std::vector<StreamEventRecord> out;
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) != 0) continue;
        std::istringstream words(line);
        StreamEventRecord r{};
        std::string delta, kind;
        words >> r.tick >> delta >> kind;
        if (kind == "short") {
            r.kind = MdsEventKind::Short;
        } else if (kind == "tempo") {
            r.kind = MdsEventKind::Tempo;
            uint32_t tempo = 0;
            words >> tempo;
            r.bytes = {uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)};
        } else {
            r.kind = MdsEventKind::Long;
            std::string count;
            words >> count;
        }
        std::string hex;
        while (r.kind != MdsEventKind::Tempo && words >> hex && hex[0] != '(')
            r.bytes.push_back(uint8_t(std::stoul(hex, nullptr, 16)));
        out.push_back(r);
    }
    return out;
}

TEST_F(Cli, ConvertedFilesDumpToTheEventsOfTheMergedSong) {
    std::vector<std::pair<std::string, Bytes>> songs;
    {
        std::ifstream in(TONFLUX_SAMPLE, std::ios::binary);
        songs.push_back({"sample.mid", Bytes(std::istreambuf_iterator<char>(in),
                                             std::istreambuf_iterator<char>())});
        ASSERT_GT(songs[0].second.size(), 100u);
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 4; ++i) {
        RandomSongShape shape;
        shape.tracks = 2 + i * 3;
        shape.wrapTicks = i == 3;
        songs.push_back({"random" + std::to_string(i) + ".mid", RandomSong(rng, shape)});
    }
    for (const auto& song : songs) {
        for (const char* options : {"", "--omit-stream-ids", "--no-running-status"}) {
            SCOPED_TRACE(song.first + " " + options);
            fs::remove_all(dir);
            fs::create_directories(dir);
            Put(song.first, song.second);
            std::vector<std::string> args = {"-k", "1", P(song.first)};
            if (*options) args.push_back(options);
            ASSERT_EQ(Run(args).code, 0);
            const std::string mds = P(song.first.substr(0, song.first.find('.')) + ".mds");
            const Outcome dump = Run({"--dump", mds});
            ASSERT_EQ(dump.code, 0) << dump.err;

            HeapImage heap(song.second);
            Song parsed;
            ByteBuffer title, copyright;
            ASSERT_EQ(PrepareSong(heap.data, heap.size, parsed, title, copyright),
                      ConversionStatus::Ok);
            const auto expected = ExpectedStreamEvents(*parsed.FirstTrack());
            const auto got = DumpedEvents(dump.out);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << i;
        }
    }
}

TEST_F(Cli, DumpReportsAFaultyFile) {
    Put("a.mid", GoodSong());
    ASSERT_EQ(Run({"-q", P("a.mid")}).code, 0);
    Bytes mds = Get("a.mds");
    mds[48] = 0xEE;  // the first block's length no longer matches
    Put("a.mds", mds);
    const Outcome r = Run({"--dump", P("a.mds")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(P("a.mds")), std::string::npos);
    EXPECT_EQ(Run({"--dump", P("none.mds")}).code, 1);
}

#ifndef _WIN32
TEST_F(Cli, ATerminatingSignalLeavesNoTemporaryFile) {
    Put("old.mds", {'o', 'l', 'd'});
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Platform::InstallInterruptCleanup();
            OutputFile file;
            const uint8_t bytes[4] = {1, 2, 3, 4};
            if (!file.Create(P("old.mds").c_str()) || !file.Write(bytes, 4)) _exit(100);
            raise(signal);
            _exit(101);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);  // ended as the signal ends it
        EXPECT_EQ(Files(), std::vector<std::string>{"old.mds"});
        EXPECT_EQ(Get("old.mds"), (Bytes{'o', 'l', 'd'}));
    }
}
#endif

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST_F(Cli, RunningOutOfMemoryGivesTheSystemTextAndNoOutput) {
    // A 512 MB input (sparse, so it costs no disk) in a child whose address space is capped well
    // below that: reading it must fail for lack of memory and be reported, not crash.
    const std::string input = P("huge.mid");
    Put("huge.mid", GoodSong());
    fs::resize_file(input, uint64_t(512) << 20);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        rlimit cap;
        cap.rlim_cur = cap.rlim_max = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (128 << 20);
        if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0) _exit(100);
        std::ostringstream out, err;
        const int code = RunConvert({"-j", "1", input}, out, err);
        const bool named = err.str().find(Platform::ErrorText(ENOMEM)) != std::string::npos &&
                           err.str().find(input) != std::string::npos;
        _exit(code == 1 && named ? 0 : 101);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(Has("huge.mds"));
}
#endif

}  // namespace
