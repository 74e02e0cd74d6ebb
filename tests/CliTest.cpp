#include "cli/Convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli/Messages.h"
#include "cli/Platform.h"
#include "cli/Printable.h"
#include "cli/Refusals.h"
#include "core/Conversion.h"
#include "core/OutputFile.h"
#include "core/SongConversion.h"
#include "tests/support/RandomSong.h"
#include "tests/support/StreamEvents.h"

#ifdef __linux__
#include <pthread.h>
#include <sys/syscall.h>

#include <cstdarg>
#include <cstring>
#include <thread>

// Every file the program makes comes through here, so a test can act at a well-defined moment:
// right before or right after a temporary file of an output is made.
namespace {
void (*BeforeTempCreated)() = nullptr;
void (*AfterTempCreated)() = nullptr;
}  // namespace

extern "C" int openat(int folder, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    const bool temp = (flags & O_CREAT) && std::strstr(path, "~tf");
    if (temp && BeforeTempCreated) BeforeTempCreated();
    const int fd = int(syscall(SYS_openat, folder, path, flags, mode));
    const int error = errno;
    if (temp && AfterTempCreated) AfterTempCreated();
    errno = error;
    return fd;
}

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    return openat(AT_FDCWD, path, flags, mode);
}
#endif

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

// The same fault, and a system exclusive message of 9 KB, which 4 KB blocks cannot hold.
Bytes LyricSysexSong() {
    Bytes data(9000, 0x11);
    data.push_back(0xF7);
    return SmfImage().Format(0).Track(Cat(
        {{0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x05, 0x02, 'l', 'a', 0x10, 0x3C, 0x00, 0x00, 0xF0},
         VarLen(9001),
         data,
         EndOfTrack}));
}

Bytes BigSysexSong() {
    Bytes data(1500, 0x11);
    data.push_back(0xF7);
    return SmfImage().Format(0).Track(Cat({{0x00, 0xF0}, VarLen(1501), data, EndOfTrack}));
}

// The stream file our converter writes for smf, with the default options.
Bytes MdsOf(const Bytes& smf) {
    ConvertedSong song;
    MemoryFile image(4096);
    if (ConvertSmf({smf.data(), uint32_t(smf.size())}, song).status != ConversionStatus::Ok ||
        !WriteConvertedImage(song, image))
        return {};
    return Bytes(image.Data(), image.Data() + image.GetLength());
}

// A text of Texts with its one number filled in.
std::string Filled(const char* format, unsigned number) {
    char text[512];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

struct Outcome {
    int code;
    std::string out, err;
};

class Cli : public ::testing::Test {
public:  // the tables' set-up and check functions work on the fixture too
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("tonflux-cli-") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Names are UTF-8, as the program takes them on every system.
    fs::path In(const std::string& name) const { return dir / fs::u8path(name); }
    std::string P(const std::string& name) const { return In(name).u8string(); }
    void Put(const std::string& name, const Bytes& bytes) const {
        fs::create_directories(In(name).parent_path());
        std::ofstream(In(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    Bytes Get(const std::string& name) const {
        std::ifstream in(In(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Has(const std::string& name) const { return fs::exists(In(name)); }
#ifndef _WIN32
    // A folder below dir whose path takes rest, and not one byte more, within the system's limit.
    std::string DeepestFolder(const std::string& rest) const {
        const size_t room = PATH_MAX - 1 - rest.size();
        std::string deep(200, 'd');
        while (P(deep).size() + 1 + 200 + 50 < room) deep += "/" + std::string(200, 'd');
        return deep + "/" + std::string(room - P(deep).size() - 1, 'e');
    }
#endif
    // Every file below dir, relative, sorted: what a run left behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        std::error_code linkInALoop;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file(linkInALoop))
                out.push_back(e.path().lexically_relative(dir).generic_string());
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

// The printf conversions of a text, in order: both languages must take the same arguments.
std::string Conversions(const std::string& text) {
    std::string out;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2))
        out += text.substr(at, text.find_first_of("diuxXsc%", at + 1) - at + 1);
    return out;
}

TEST(Messages, EveryMessageSpeaksBothLanguagesWithTheSameArguments) {
    for (int i = 0; i < int(Msg::Count); ++i) {
        SCOPED_TRACE(i);
        const std::string english = Text(Msg(i), Language::English);
        const std::string japanese = Text(Msg(i), Language::Japanese);
        EXPECT_FALSE(english.empty());
        EXPECT_FALSE(japanese.empty());
        EXPECT_EQ(Conversions(english), Conversions(japanese));
    }
}

#ifndef _WIN32
TEST(Messages, TheLocaleChoosesTheLanguage) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", Language::Japanese},
        {nullptr, nullptr, "C", Language::English},
        {nullptr, nullptr, nullptr, Language::English},
        {nullptr, "ja_JP.eucJP", "en_US.UTF-8", Language::Japanese},
        {"en_GB.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", Language::English},
        {"", "", "ja", Language::Japanese},  // an empty variable counts as unset
    };
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string saved[3];
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        const char* value = getenv(names[i]);
        had[i] = value != nullptr;
        saved[i] = value ? value : "";
    }
    for (const Case& c : cases) {
        const char* values[] = {c.lcAll, c.lcMessages, c.lang};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_EQ(UserLanguage(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
    for (int i = 0; i < 3; ++i) {
        if (had[i])
            setenv(names[i], saved[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}
#endif

TEST_F(Cli, RefusesBadUsageWithExitCode2AndTouchesNothing) {
    Put("a.mid", GoodSong());
    Put("b.mid", GoodSong());
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"no input", {}, std::string(Text(Msg::NoInput))},
        {"an unknown option", {"--frobnicate", P("a.mid")}, std::string(Text(Msg::UnknownOption))},
        {"a value missing", {P("a.mid"), "-k"}, std::string(Text(Msg::MissingValue))},
        {"buffer size 0", {"-k", "0", P("a.mid")}, OneLine(Text(Msg::BufferSize))},
        {"buffer size 64", {"--buffer-kb=64", P("a.mid")}, OneLine(Text(Msg::BufferSize))},
        {"buffer size not a number", {"-k4k", P("a.mid")}, OneLine(Text(Msg::BufferSize))},
        {"no jobs", {"-j", "0", P("a.mid")}, "1024"},
        {"more jobs than files can be written at once", {"-j", "100000", P("a.mid")}, "1024"},
        {"-o naming a folder",
         {"-o", dir.string(), P("a.mid")},
         std::string(Text(Msg::OutputIsFolder))},
        {"-o ending in a separator",
         {"-o", P("new") + "/", P("a.mid")},
         std::string(Text(Msg::OutputIsFolder))},
        {"-o empty", {"-o", "", P("a.mid")}, std::string(Text(Msg::EmptyValue)) + "-o"},
        {"--output= empty",
         {"--output=", P("a.mid")},
         std::string(Text(Msg::EmptyValue)) + "--output"},
        {"-d empty", {"-d", "", P("a.mid")}, std::string(Text(Msg::EmptyValue)) + "-d"},
        {"-o with two inputs",
         {"-o", P("x.mds"), P("a.mid"), P("b.mid")},
         std::string(Text(Msg::OutputWithMany))},
        {"-o for a folder of two",
         {"-r", "-o", P("x.mds"), dir.string()},
         std::string(Text(Msg::OutputWithMany))},
        {"-o and -d",
         {"-o", P("x.mds"), "-d", dir.string(), P("a.mid")},
         std::string(Text(Msg::OutputAndDir))},
        {"--dump with inputs",
         {"--dump", P("a.mds"), P("a.mid")},
         std::string(Text(Msg::DumpAndInput))},
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
        std::vector<std::pair<std::string, Bytes>> contents = {};  // files as they must be after
    };
    // GoodSong converted, and back with running status (on) or without.
    const Bytes mds = MdsOf(GoodSong());
    auto goodBack = [](bool runningStatus) -> Bytes {
        return SmfImage().Format(0).Track(
            Cat({{0x00, 0xFF, 0x03, 0x01, 'T', 0x00, 0x90, 0x30, 0x40, 0x10},
                 runningStatus ? Bytes{} : Bytes{0x90},
                 {0x30, 0x00},
                 EndOfTrack}));
    };
    Bytes malformed = mds;
    malformed[60] = 0xF8;  // the first event's status: a system message
#ifndef _WIN32
    const std::string deep = DeepestFolder("/a.mds");
#endif
    Bytes smpte = mds;
    smpte[20] = 0x23;  // the time format 0x8123: a frame rate of -127
    smpte[21] = 0x81;
    Bytes farApart = mds;
    farApart[64] = 0x10;  // the second event's delta, now 0x10000010
    farApart[67] = 0x10;
    const Case cases[] = {
        {"a good file", {{"a.mid", GoodSong()}}, {"@a.mid"}, 0, "", {"a.mds", "a.mid"}},
#ifndef _WIN32
        {"both ways in a folder too deep for a temporary name longer than the output's",
         {{deep + "/a.mid", GoodSong()}, {deep + "/b.mds", mds}},
         {"@" + deep + "/a.mid", "@" + deep + "/b.mds"},
         0,
         "",
         {deep + "/a.mds", deep + "/a.mid", deep + "/b.mds", deep + "/b.mid"}},
#endif
        {"format 2",
         {{"f2.mid", SmfImage().Format(2).Track(EndOfTrack)}},
         {"@f2.mid"},
         1,
         std::string("f2.mid': header (offset 0x8): not SMF format 0 or 1\n"),
         {"f2.mid"}},
        {"running status after a lyric: where, what, and that --lenient converts it",
         {{"lyric.mid", LyricSong()}},
         {"@lyric.mid"},
         1,
         std::string("lyric.mid': track 1 (offset 0x21): a data byte without running status "
                     "(--lenient converts it)\n"),
         {"lyric.mid"}},
        {"no hint when --lenient with the same options would fail (a 9 KB message, 4 KB blocks)",
         {{"big.mid", LyricSysexSong()}},
         {"@big.mid"},
         1,
         std::string("big.mid': track 1 (offset 0x21): a data byte without running status\n"),
         {"big.mid"}},
        {"the hint when it would not (16 KB blocks)",
         {{"big.mid", LyricSysexSong()}},
         {"-k", "16", "@big.mid"},
         1,
         std::string("big.mid': track 1 (offset 0x21): a data byte without running status "
                     "(--lenient converts it)\n"),
         {"big.mid"}},
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
         std::string("f4.mid': track 1 (offset 0x1B): a status byte that has no place in a "
                     "track (F1-F6, F8-FE)\n"),
         {"f4.mid"}},
        {"an RMID file without --lenient",
         {{"song.rmi", Rmid(GoodSong())}},
         {"@song.rmi"},
         1,
         std::string("song.rmi': This file is not a Standard MIDI File (SMF) of format 0 or 1. "
                     "(--lenient converts it)\n"),
         {"song.rmi"}},
        {"-r --lenient collects *.rmi as well",
         {{"r/a.rmi", Rmid(GoodSong())}, {"r/b.mid", GoodSong()}},
         {"-r", "--lenient", "@r"},
         0,
         "",
         {"r/a.mds", "r/a.rmi", "r/b.mds", "r/b.mid"}},
        {"an empty file",
         {{"e.mid", {}}},
         {"@e.mid"},
         1,
         std::string(Text(Msg::NotSmf)),
         {"e.mid"}},
        {"a missing file", {}, {"@none.mid"}, 1, SystemText(ENOENT, 2), {}},
        {"a sysex larger than 1 KB blocks",
         {{"s.mid", BigSysexSong()}},
         {"-k", "1", "@s.mid"},
         1,
         OneLine(Text(Msg::SysexTooLarge)),
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
         std::string("bad.mid': header (offset 0x4): the file ends early\n"),
         {"a.mds", "a.mid", "bad.mid", "c.mds", "c.mid"}},
        {"an existing output is kept",
         {{"a.mid", GoodSong()}, {"a.mds", {'o', 'l', 'd'}}},
         {"@a.mid"},
         1,
         std::string(Text(Msg::OutputExists)),
         {"a.mds", "a.mid"}},
        {"a folder without -r",
         {{"sub/a.mid", GoodSong()}},
         {"@sub"},
         1,
         std::string(Text(Msg::IsFolder)),
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
         std::string(Text(Msg::OutputClash)),
         {"a.mds", "a.mid", "a.midi"}},
        {"-r finds *.mid and *.MIDI below, nothing else",
         {{"r/x.mid", GoodSong()}, {"r/deep/y.MIDI", GoodSong()}, {"r/z.txt", GoodSong()}},
         {"-r", "@r"},
         0,
         "",
         {"r/deep/y.MIDI", "r/deep/y.mds", "r/x.mds", "r/x.mid", "r/z.txt"}},
        {"the same input twice is converted once",
         {{"a.mid", GoodSong()}},
         {"@a.mid", "@a.mid"},
         0,
         std::string(Text(Msg::Duplicate)),
         {"a.mds", "a.mid"}},
        {"-r finds nothing to convert",
         {{"r/notes.txt", GoodSong()}},
         {"-r", "@r"},
         1,
         std::string(Text(Msg::NoMidiFiles)),
         {"r/notes.txt"}},
        {"-f -o onto its own input",
         {{"a.mid", GoodSong()}},
         {"-f", "-o", "@a.mid", "@a.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"a.mid"}},
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
        {"a MIDI stream file goes back to a format 0 SMF",
         {{"b.mds", mds}},
         {"@b.mds"},
         0,
         "",
         {"b.mds", "b.mid"},
         {{"b.mid", goodBack(true)}}},
        {"--no-running-status applies to the SMF; -k, --omit-stream-ids mean nothing to it",
         {{"b.mds", mds}},
         {"--no-running-status", "-k", "1", "--omit-stream-ids", "@b.mds"},
         0,
         "",
         {"b.mds", "b.mid"},
         {{"b.mid", goodBack(false)}}},
        {"a MIDI stream file is known by its content, not its name",
         {{"b.dat", mds}},
         {"-o", "@c.midi", "@b.dat"},
         0,
         "",
         {"b.dat", "c.midi"},
         {{"c.midi", goodBack(true)}}},
        {"one batch, both directions",
         {{"a.mid", GoodSong()}, {"b.mds", mds}, {"out/.keep", {}}},
         {"-d", "@out", "@b.mds", "@a.mid"},
         0,
         "",
         {"a.mid", "b.mds", "out/.keep", "out/a.mds", "out/b.mid"},
         {{"out/a.mds", mds}, {"out/b.mid", goodBack(true)}}},
        {"song.mid and song.mds named together: each output is the other input, even with -f",
         {{"s.mid", GoodSong()}, {"s.mds", {'o', 'l', 'd'}}, {"t.mid", GoodSong()}},
         {"-f", "@s.mid", "@s.mds", "@t.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"s.mds", "s.mid", "t.mds", "t.mid"},
         {{"s.mid", GoodSong()}, {"s.mds", {'o', 'l', 'd'}}}},
        {"an output named as its own input",
         {{"a.mid", GoodSong()}},
         {"-f", "-o", "@a.mid", "@a.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"a.mid"},
         {{"a.mid", GoodSong()}}},
        {"--to-mid refuses what is not a MIDI stream file",
         {{"a.mid", GoodSong()}, {"b.mds", mds}},
         {"--to-mid", "@a.mid", "@b.mds"},
         1,
         std::string(Text(Msg::NotMds)),
         {"a.mid", "b.mds", "b.mid"}},
        {"-r --to-mid collects *.mds below, nothing else",
         {{"r/x.mds", mds}, {"r/deep/y.MDS", mds}, {"r/z.mid", GoodSong()}},
         {"-r", "--to-mid", "@r"},
         0,
         "",
         {"r/deep/y.MDS", "r/deep/y.mid", "r/x.mds", "r/x.mid", "r/z.mid"}},
        {"-r -f beside last year's song.mds converts forward only",
         {{"r/song.mid", GoodSong()}, {"r/song.mds", {'o', 'l', 'd'}}},
         {"-r", "-f", "@r"},
         0,
         "",
         {"r/song.mds", "r/song.mid"},
         {{"r/song.mid", GoodSong()}, {"r/song.mds", mds}}},
        {"-r --to-mid in a folder without one",
         {{"r/z.mid", GoodSong()}},
         {"-r", "--to-mid", "@r"},
         1,
         std::string(Text(Msg::NoMdsFiles)),
         {"r/z.mid"}},
        {"a malformed MIDI stream file: the reason and its offset",
         {{"bad.mds", malformed}},
         {"@bad.mds"},
         1,
         Filled(Text(Msg::DumpFault), 60) + MdsFaultText(MdsFault::BadShortMessage),
         {"bad.mds"}},
        {"an SMPTE frame rate that does not exist",
         {{"smpte.mds", smpte}},
         {"@smpte.mds"},
         1,
         MdsFaultAt({MdsFault::TimeFormat, 20}, false),
         {"smpte.mds"}},
        {"a delta no SMF can hold",
         {{"far.mds", farApart}},
         {"@far.mds"},
         1,
         Filled(Text(Msg::DeltaTooLarge), 64),
         {"far.mds"}},
        {"an input that another input writes, though it does not exist yet: -j 1",
         {{"track07.dat", mds}},
         {"-j", "1", "@track07.dat", "@track07.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"track07.dat"}},
        {"the same with -j 2",
         {{"track07.dat", mds}},
         {"-j", "2", "@track07.dat", "@track07.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"track07.dat"}},
        {"a missing input is reported as missing, though its output exists",
         {{"ghost.mds", {'o', 'l', 'd'}}},
         {"@ghost.mid"},
         1,
         "ghost.mid': " + SystemText(ENOENT, 2) + "\n",
         {"ghost.mds"}},
        {"an existing .mid is kept",
         {{"b.mds", mds}, {"b.mid", {'o', 'l', 'd'}}},
         {"@b.mds"},
         1,
         std::string(Text(Msg::OutputExists)),
         {"b.mds", "b.mid"},
         {{"b.mid", {'o', 'l', 'd'}}}},
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
        for (const auto& f : c.contents) EXPECT_EQ(Get(f.first), f.second) << f.first;
    }
}

// The drawn lines of the counter in what a run wrote on standard error: what stands between a
// carriage return and the erasure of the rest of the row.
std::vector<std::string> DrawnLines(const std::string& err) {
    std::vector<std::string> lines;
    for (size_t at = err.find('\r'); at != std::string::npos; at = err.find('\r', at + 1)) {
        const size_t end = err.find("\x1b[K", at);
        if (end != std::string::npos && end > at + 1)
            lines.push_back(err.substr(at + 1, end - at - 1));
    }
    return lines;
}

TEST_F(Cli, CountsTheWorkOnATerminalOnlyInOneRow) {
    const std::string wide = "\xE3\x81\x82";  // あ, two columns
    std::string wideName;
    for (int i = 0; i < 65; ++i) wideName += wide;
    const std::vector<std::string> names = {"a.mid", "b.mid", "c.mid"};
    const std::vector<std::string> longNames = {std::string(126, 'x') + ".mid",
                                                std::string(126, 'y') + ".mid", wideName + ".mid"};
    for (const auto& name : names) Put(name, GoodSong());
    for (const auto& name : longNames) Put(name, GoodSong());
    std::vector<std::string> batch, quietBatch = {"-q"}, longBatch = {"-j", "2"};
    for (const auto& name : names) batch.push_back(P(name));
    for (const auto& name : names) quietBatch.push_back(P(name));
    for (const auto& name : longNames) longBatch.push_back(P(name));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool terminal;
        bool counted;
        unsigned columns;
    };
    const Case cases[] = {
        {"a batch, standard error a terminal", batch, true, true, 80},
        {"a batch, standard error redirected", batch, false, false, 80},
        {"a batch, -q", quietBatch, true, false, 80},
        {"a single quick file", {P("a.mid")}, true, false, 80},
        {"names of 130 columns, -j 2, 80 columns", longBatch, true, true, 80},
        {"the same on a terminal of 12 columns", longBatch, true, true, 12},
        {"the same on a terminal of unknown width", longBatch, true, true, 0},
    };
    // A clock that stands still: the counter is drawn whenever the count changes, and a single
    // file never takes long enough for one.
    ErrorConsole console;
    console.now = [] { return ErrorConsole::Clock::time_point(std::chrono::hours(1)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        console.isTerminal = c.terminal;
        console.columns = [&c] { return c.columns; };
        std::vector<std::string> args = {"-f"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::ostringstream out, err;
        EXPECT_EQ(RunConvert(args, out, err, console), 0);
        const std::string text = err.str();
        EXPECT_EQ(text.find("\r[1/3] ") != std::string::npos, c.counted) << text;
        // Whatever was drawn fits one row and is wiped at the end, and never lands among the
        // report lines.
        for (const std::string& line : DrawnLines(text))
            EXPECT_LT(DisplayColumns(line), c.columns ? c.columns : 80) << line;
        if (c.counted) {
            EXPECT_EQ(text.substr(text.size() - 4), "\r\x1b[K");
        }
        EXPECT_EQ(out.str().find('\r'), std::string::npos);
    }
}

// The texts shared with the Windows program break their lines for its boxes; a report is one
// line whatever the language.
TEST_F(Cli, EveryReportIsOneLineInEitherLanguage) {
    Put("s.mid", BigSysexSong());
    struct Case {
        const char* what;
        std::vector<std::string> args;
        Msg text;
        bool usage;  // a usage error: its first line, then the usage lines
    };
    const Case cases[] = {
        {"a system exclusive message too large for the blocks",
         {"-k", "1", P("s.mid")},
         Msg::SysexTooLarge,
         false},
        {"the same with -f --lenient",
         {"-f", "--lenient", "-k1", P("s.mid")},
         Msg::SysexTooLarge,
         false},
        {"a buffer size out of range", {"-k", "0", P("s.mid")}, Msg::BufferSize, true},
    };
    for (Language language : {Language::English, Language::Japanese}) {
        SetLanguage(language);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (language == Language::Japanese ? " (ja)" : ""));
            const Outcome r = Run(c.args);
            const std::string line = r.err.substr(0, r.err.find('\n'));
            const std::string text = OneLine(Text(c.text));
            EXPECT_EQ(line.substr(line.size() - std::min(text.size(), line.size())), text) << r.err;
            if (!c.usage) {
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            }
        }
    }
    SetLanguage(Language::English);
    // The system's texts on Windows break lines too, with CR LF.
    const std::pair<std::string, std::string> joined[] = {
        {"First.\nSecond.", "First. Second."},
        {"\xE6\x96\x87\xE3\x80\x82\r\n\xE6\x96\x87\xE3\x80\x82\r\n",
         "\xE6\x96\x87\xE3\x80\x82\xE6\x96\x87\xE3\x80\x82"},  // 文。文。
        {"Access is denied.\r\n", "Access is denied."},
    };
    for (const auto& j : joined) EXPECT_EQ(OneLine(j.first), j.second);
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
            ASSERT_EQ(PrepareSong({heap.data, heap.size}, parsed, title, copyright),
                      ConversionStatus::Ok);
            const auto expected = ExpectedStreamEvents(*parsed.FirstTrack());
            const auto got = DumpedEvents(dump.out);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << i;
        }
    }
}

TEST_F(Cli, DumpReportsAFaultyFile) {
    struct Case {
        const char* what;
        std::function<void(Cli&)> setup;
        std::string path;     // "@x" is the path of x in the test folder
        std::string message;  // on err
        size_t events;        // listed on out
    };
    const Bytes mds = MdsOf(GoodSong());
    auto changed = [&mds](size_t at, Bytes bytes) {
        return [&mds, at, bytes](Cli& t) {
            Bytes changed = mds;
            std::copy(bytes.begin(), bytes.end(), changed.begin() + long(at));
            t.Put("a.mds", changed);
        };
    };
    const Case cases[] = {
        {"a block length that no longer matches", changed(48, {0xEE}), "@a.mds",
         MdsFaultAt({MdsFault::BlockOverrun, 48}, false), 0},
        {"a missing file", [](Cli&) {}, "@none.mds", SystemText(ENOENT, 2), 0},
        {"another writer's layout (a stream identifier of 1): listed in full", changed(56, {1}),
         "@a.mds", MdsFaultAt({MdsFault::StreamId, 56}, true), 2},
        {"an SMPTE frame rate that does not exist", changed(20, {0x23, 0x81}), "@a.mds",
         MdsFaultAt({MdsFault::TimeFormat, 20}, false), 0},
#ifndef _WIN32
        {"a FIFO", [](Cli& t) { ASSERT_EQ(mkfifo(t.P("f.mds").c_str(), 0644), 0); }, "@f.mds",
         Text(Msg::NotAFile), 0},
        {"a device", [](Cli&) {}, "/dev/null", Text(Msg::NotAFile), 0},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        c.setup(*this);
        const std::string path = c.path[0] == '@' ? P(c.path.substr(1)) : c.path;
        const Outcome r = Run({"--dump", path});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("'" + path + "': " + c.message + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(DumpedEvents(r.out).size(), c.events);
    }
}

#ifndef _WIN32
TEST_F(Cli, EverySignalThatEndsTheProcessRemovesTheTemporaryFilesFirst) {
    struct Case {
        int signal;
        int files;  // written at once when the signal comes
    };
    const Case cases[] =
        {
            {SIGINT, 1},  {SIGTERM, 1},      {SIGHUP, 1},    {SIGQUIT, 1},
            {SIGUSR1, 1}, {SIGUSR2, 1},      {SIGALRM, 1},   {SIGABRT, 1},
            {SIGXCPU, 1}, {SIGRTMIN + 3, 1}, {SIGTERM, 300},  // more than the old cleanup list
                                                              // held; -j goes up to 1024
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + " with " + std::to_string(c.files) + " files");
        fs::remove_all(dir);
        fs::create_directories(dir);
        Put("old.mds", {'o', 'l', 'd'});
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            Platform::InstallInterruptCleanup();
            std::vector<OutputFile> files(size_t(c.files));
            const uint8_t bytes[4] = {1, 2, 3, 4};
            for (int i = 0; i < c.files; ++i) {
                const std::string target = i ? P("new" + std::to_string(i) + ".mds") : P("old.mds");
                if (!files[size_t(i)].Create(target.c_str()) || !files[size_t(i)].Write(bytes, 4))
                    _exit(100);
            }
            raise(c.signal);
            _exit(101);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.signal);  // ended as the signal ends it
        EXPECT_EQ(Files(), std::vector<std::string>{"old.mds"});
        EXPECT_EQ(Get("old.mds"), (Bytes{'o', 'l', 'd'}));
    }
}

#ifdef __linux__
// A signal at each moment of making a temporary file, on the thread that makes it or another:
// the file is gone when the process has ended, as the signal ends it.
TEST_F(Cli, ASignalWhileATemporaryFileIsMadeRemovesItToo) {
    static pthread_t signalled;
    static auto self = [] { raise(SIGTERM); };
    static auto other = [] { pthread_kill(signalled, SIGTERM); };
    struct Case {
        const char* what;
        void (*before)();
        void (*after)();
        bool onAnotherThread;  // the file is made on a thread of its own, the main thread signalled
        bool deep;             // in a folder whose path leaves no room for a longer name
    };
    const Case cases[] = {
        {"right after it is made", nullptr, self, false, false},
        {"right before it is made", self, nullptr, false, false},
        {"on another thread, right after it is made", nullptr, other, true, false},
        {"on another thread, right before it is made", other, nullptr, true, false},
        {"right after it is made, deep down", nullptr, self, false, true},
    };
    const std::string deep = DeepestFolder("/a.mds");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir / (c.deep ? deep : ""));
        const std::string target = P(c.deep ? deep + "/a.mds" : "a.mds");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            Platform::InstallInterruptCleanup();
            BeforeTempCreated = c.before;
            AfterTempCreated = c.after;
            signalled = pthread_self();
            auto write = [&target] {
                OutputFile file;
                const uint8_t bytes[4] = {1, 2, 3, 4};
                if (!file.Create(target.c_str()) || !file.Write(bytes, 4)) _exit(100);
                for (;;) pause();  // the signal ends the process
            };
            if (c.onAnotherThread) {
                std::thread(write).join();
            } else {
                write();
            }
            _exit(101);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGTERM);
        EXPECT_EQ(Files(), std::vector<std::string>{});
    }
}
#endif

// A song whose converted file is about 40 KB.
Bytes BigSong() {
    Bytes notes;
    for (int i = 0; i < 3000; ++i) notes.insert(notes.end(), {0x00, 0x90, uint8_t(i % 128), 0x40});
    return SmfImage().Format(0).Track(Cat({notes, EndOfTrack}));
}

// Makes (or removes) levels of folders called name, one in the other, below base: each step goes
// from the folder before it, so the whole may pass the longest path the system takes.
void DeepFolders(const fs::path& base, const std::string& name, int levels, bool make) {
    std::vector<int> fds = {open(base.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < levels && fds.back() >= 0; ++i) {
        if (make) mkdirat(fds.back(), name.c_str(), 0755);
        fds.push_back(openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    }
    ASSERT_GE(fds.back(), 0);
    for (size_t i = fds.size() - 1; i > 0; --i) {
        close(fds[i]);
        if (!make) unlinkat(fds[i - 1], name.c_str(), AT_REMOVEDIR);
    }
    close(fds[0]);
}

// What the real program does in hostile surroundings: closed standard streams, a reader that
// went away, a file size limit, folders it may not read, paths longer than the system takes.
TEST_F(Cli, HoldsItsPromisesInHostileSurroundings) {
    struct Case {
        const char* what;
        std::function<void(Cli&)> setup;
        std::vector<std::string> args;  // "@x" is the path of x in the test folder
        std::vector<int> closed;        // standard streams closed before the program starts
        bool readerGone = false;        // standard output is a pipe nobody reads any more
        rlim_t fileSizeLimit = RLIM_INFINITY;
        bool notRoot = false;  // runs as nobody
        int code;
        std::string message;  // on standard error; empty: nothing there
        std::function<void(Cli&)> check;
    };
    auto manySongs = [](Cli& t) {
        for (int i = 0; i < 400; ++i) t.Put("in/s" + std::to_string(i) + ".mid", GoodSong());
    };
    // Every output is a sound MDS file, and no temporary file is left anywhere.
    auto allSound = [](Cli& t) {
        int outputs = 0;
        for (const std::string& name : t.Files()) {
            EXPECT_EQ(name.find("~tf"), std::string::npos) << name;
            if (name.size() < 4 || name.substr(name.size() - 4) != ".mds") continue;
            ++outputs;
            EXPECT_EQ(Run({"--dump", t.P(name)}).code, 0) << name;
        }
        EXPECT_GT(outputs, 0);
    };
    const std::string tooLong(200, 'n');
    const Case cases[] = {
        {"standard output closed",
         manySongs,
         {"-r", "-j", "4", "@in"},
         {1},
         false,
         RLIM_INFINITY,
         false,
         0,
         "",
         allSound},
        {"all three standard streams closed",
         manySongs,
         {"-r", "-j", "4", "@in"},
         {0, 1, 2},
         false,
         RLIM_INFINITY,
         false,
         0,
         "",
         allSound},
        {"the reader of standard output gone",
         manySongs,
         {"-r", "-j", "2", "@in"},
         {},
         true,
         RLIM_INFINITY,
         false,
         1,
         Text(Msg::ReportFailed),
         allSound},
        {"a file size limit of 8 KB",
         [](Cli& t) {
             t.Put("big.mid", BigSong());
             t.Put("small.mid", GoodSong());
         },
         {"@big.mid", "@small.mid"},
         {},
         false,
         8192,
         false,
         1,
         SystemText(EFBIG, 0),
         [](Cli& t) {
             EXPECT_EQ(t.Files(), (std::vector<std::string>{"big.mid", "small.mds", "small.mid"}));
         }},
        {"an unreadable folder below",
         [](Cli& t) {
             t.Put("r/a.mid", GoodSong());
             t.Put("r/locked/b.mid", GoodSong());
             t.Put("r/z.mid", GoodSong());
             fs::permissions(t.dir, fs::perms::all);
             fs::permissions(t.dir / "r", fs::perms::all);
             fs::permissions(t.dir / "r/locked", fs::perms::none);
         },
         {"-r", "@r"},
         {},
         false,
         RLIM_INFINITY,
         true,
         1,
         "r/locked': " + SystemText(EACCES, 0),
         [](Cli& t) {
             fs::permissions(t.dir / "r/locked", fs::perms::owner_all);
             EXPECT_EQ(t.Files(), (std::vector<std::string>{"r/a.mds", "r/a.mid", "r/locked/b.mid",
                                                            "r/z.mds", "r/z.mid"}));
         }},
        {"an unreadable input named: its reading fails, not as its own output",
         [](Cli& t) {
             t.Put("song.mds", MdsOf(GoodSong()));
             fs::permissions(t.dir, fs::perms::all);
             fs::permissions(t.dir / "song.mds", fs::perms::none);
         },
         {"@song.mds"},
         {},
         false,
         RLIM_INFINITY,
         true,
         1,
         "song.mds': " + SystemText(EACCES, 0) + "\n",
         [](Cli& t) { EXPECT_EQ(t.Files(), std::vector<std::string>{"song.mds"}); }},
        {"an unreadable input found by -r: its reading fails before its output is looked at",
         [](Cli& t) {
             t.Put("r/song.mid", GoodSong());
             t.Put("r/song.mds", {'o', 'l', 'd'});
             fs::permissions(t.dir, fs::perms::all);
             fs::permissions(t.dir / "r", fs::perms::all);
             fs::permissions(t.dir / "r/song.mid", fs::perms::none);
         },
         {"-r", "@r"},
         {},
         false,
         RLIM_INFINITY,
         true,
         1,
         "song.mid': " + SystemText(EACCES, 0) + "\n",
         [](Cli& t) {
             EXPECT_EQ(t.Files(), (std::vector<std::string>{"r/song.mds", "r/song.mid"}));
         }},
        {"a path longer than the system takes",
         [&tooLong](Cli& t) {
             t.Put("r/a.mid", GoodSong());
             DeepFolders(t.dir / "r", tooLong, 22, true);
         },
         {"-r", "@r"},
         {},
         false,
         RLIM_INFINITY,
         false,
         1,
         SystemText(ENAMETOOLONG, 0),
         [&tooLong](Cli& t) {
             EXPECT_TRUE(t.Has("r/a.mds"));
             DeepFolders(t.dir / "r", tooLong, 22, false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        c.setup(*this);
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a[0] == '@' ? P(a.substr(1)) : a);
        const fs::path errors = dir.string() + ".err";
        int reader[2];
        ASSERT_EQ(pipe(reader), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(120);  // a hang fails the case instead of the whole run
            const int errorFile = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            dup2(reader[1], 1);
            dup2(errorFile, 2);
            close(errorFile);
            close(reader[0]);
            close(reader[1]);
            for (int fd : c.closed) close(fd);
            const rlimit limit = {c.fileSizeLimit, c.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            if (c.notRoot && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(125);
            std::vector<char*> argv = {const_cast<char*>(TONFLUX_CONVERT_BIN)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(126);
        }
        close(reader[1]);
        if (c.readerGone) close(reader[0]);
        std::string out;
        char buffer[4096];
        ssize_t got;
        while (!c.readerGone && (got = read(reader[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, size_t(got));
        if (!c.readerGone) close(reader[0]);
        int status = 0;
        waitpid(child, &status, 0);
        std::ifstream in(errors);
        const std::string err((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        fs::remove(errors);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << err;
        EXPECT_EQ(WEXITSTATUS(status), c.code) << err;
        if (c.message.empty()) {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_NE(err.find(c.message), std::string::npos) << err;
        }
        if (c.readerGone) {
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        }
        c.check(*this);
    }
}
#endif

#ifndef _WIN32
// Files that are no files, links, and names that would break a report line.
TEST_F(Cli, TakesOnlyRegularFilesAndNeverReplacesThroughALink) {
    struct Case {
        const char* what;
        std::function<void(Cli&)> setup;
        std::vector<std::string> args;  // "@x" is the path of x in the test folder
        int code;
        std::string message;  // on err; empty: err stays empty
        std::vector<std::string> after;
        std::function<void(Cli&)> check;
    };
    auto link = [](const char* target, const char* name) {
        return [target, name](Cli& t) {
            t.Put("a.mid", GoodSong());
            ASSERT_EQ(symlink(target, t.P(name).c_str()), 0);
        };
    };
    auto stillALink = [](Cli& t) {
        struct stat info;
        ASSERT_EQ(lstat(t.P("a.mds").c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
    };
    auto nothing = [](Cli&) {};
    const Case cases[] = {
        {"a FIFO given directly",
         [](Cli& t) { ASSERT_EQ(mkfifo(t.P("p.mid").c_str(), 0644), 0); },
         {"@p.mid"},
         1,
         std::string(Text(Msg::NotAFile)),
         {},
         nothing},
        {"a FIFO met under -r",
         [](Cli& t) {
             t.Put("r/a.mid", GoodSong());
             ASSERT_EQ(mkfifo(t.P("r/p.mid").c_str(), 0644), 0);
         },
         {"-r", "@r"},
         0,
         "",
         {"r/a.mds", "r/a.mid"},
         nothing},
        {"a device given directly",
         nothing,
         {"/dev/null"},
         1,
         std::string(Text(Msg::NotAFile)),
         {},
         nothing},
        {"a socket given directly",
         [](Cli& t) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address = {};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", t.P("s.mid").c_str());
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             close(fd);
         },
         {"@s.mid"},
         1,
         std::string(Text(Msg::NotAFile)),
         {},
         nothing},
        {"-f and an output that is a hard link to the input",
         [](Cli& t) {
             t.Put("a.mid", GoodSong());
             ASSERT_EQ(::link(t.P("a.mid").c_str(), t.P("b.mds").c_str()), 0);
         },
         {"-f", "-o", "@b.mds", "@a.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"a.mid", "b.mds"},
         nothing},
        {"-f and an output that is a link to the input",
         link("a.mid", "a.mds"),
         {"-f", "@a.mid"},
         1,
         std::string(Text(Msg::OutputIsInput)),
         {"a.mds", "a.mid"},
         stillALink},
        {"a link leading nowhere at the output",
         link("gone", "a.mds"),
         {"@a.mid"},
         1,
         std::string(Text(Msg::OutputExists)),
         {"a.mid"},
         stillALink},
        {"a link in a loop at the output",
         link("a.mds", "a.mds"),
         {"@a.mid"},
         1,
         std::string(Text(Msg::OutputExists)),
         {"a.mid"},
         stillALink},
        {"-f replaces a link leading nowhere, not what it leads to",
         link("gone", "a.mds"),
         {"-f", "@a.mid"},
         0,
         "",
         {"a.mds", "a.mid"},
         [](Cli& t) { EXPECT_FALSE(t.Has("gone")); }},
        {"the same file by its name and through a link",
         link("a.mid", "b.mid"),
         {"@a.mid", "@b.mid"},
         0,
         std::string(Text(Msg::Duplicate)),
         {"a.mds", "a.mid", "b.mid"},
         nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        c.setup(*this);
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a[0] == '@' ? P(a.substr(1)) : a);
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, c.code);
        if (c.message.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        EXPECT_EQ(Files(), c.after);
        c.check(*this);
    }
}

TEST_F(Cli, ReportLinesEscapeWhatWouldBreakTheLineOrSteerTheTerminal) {
    struct Case {
        const char* what;
        std::string name;
        std::string shown;
        bool good;  // converted, reported on standard output; else refused on standard error
    };
    const Case cases[] = {
        {"a line feed and a C0 control", "a\nb\x01.mid", "a\\nb\\x01.mid", true},
        {"a tab", "c\td.mid", "c\\td.mid", false},
        {"DEL", "e\x7F.mid", "e\\x7F.mid", false},
        {"CSI as a byte of its own",
         "\x9B"
         "31m.mid",
         "\\x9B"
         "31m.mid",
         false},
        {"CSI as a character (U+009B)",
         "\xC2\x9B"
         "31m.mid",
         "\\xC2\\x9B"
         "31m.mid",
         false},
        {"a byte that is not UTF-8 (Latin-1)", "caf\xE9.mid", "caf\\xE9.mid", false},
        {"UTF-8 whose continuation byte is 0x9B", "\xE6\x9B\xB2.mid", "\xE6\x9B\xB2.mid", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        Put(c.name, c.good ? GoodSong() : Bytes{'M', 'T', 'h', 'd'});
        const Outcome r = Run({P(c.name)});
        const std::string& report = c.good ? r.out : r.err;
        EXPECT_EQ(r.code, c.good ? 0 : 1);
        EXPECT_NE(report.find(P(c.shown)), std::string::npos) << report;
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    }
}
#endif

#ifdef _WIN32
// Windows users' folders are full of names without a form in the ANSI code page.
TEST_F(Cli, ConvertsNamesOutsideTheAnsiCodePage) {
    const fs::path input = dir / fs::u8path(u8"ü-ë-Ω.mid");
    const Bytes song = GoodSong();
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(song.data()), std::streamsize(song.size()));
    const fs::path output = dir / fs::u8path(u8"ü-ë-Ω.mds");

    const Outcome inProcess = Run({input.u8string()});
    EXPECT_EQ(inProcess.code, 0) << inProcess.err;
    EXPECT_NE(inProcess.out.find(output.u8string()), std::string::npos) << inProcess.out;
    ASSERT_TRUE(fs::remove(output));

    // The real program, given the name on a Unicode command line.
    std::wstring exe = fs::path(TONFLUX_CONVERT_BIN).wstring();  // a Unix path: Wine's Z: is /
    for (wchar_t& c : exe)
        if (c == L'/') c = L'\\';
    std::wstring command = L"\"Z:" + exe + L"\" -q \"" + input.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(fs::exists(output));
}
#endif

#ifdef __linux__
// The system's texts come in the locale's encoding, ours in UTF-8: a line holds one encoding,
// the same bytes as in the UTF-8 locale.
TEST_F(Cli, OneEncodingOnALineWhateverTheLocale) {
    const std::string locales = dir.string() + "/locales";
    fs::create_directories(locales);
    for (const char* charset : {"UTF-8", "EUC-JP"}) {
        const std::string make = "localedef -i ja_JP -f " + std::string(charset) + " '" + locales +
                                 "/ja_JP." + charset + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot make " << charset;
    }
    Put("bad.mid", {'M', 'T', 'h', 'd'});
    auto errors = [&](const char* lang) {
        const std::string command = "LOCPATH='" + locales + "' LC_ALL= LC_MESSAGES= LANG=" + lang +
                                    " '" TONFLUX_CONVERT_BIN "' '" + P("none.mid") + "' '" +
                                    P("bad.mid") + "' 2>&1 >/dev/null";
        std::string text;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                text.append(buffer, got);
            pclose(pipe);
        }
        return text;
    };
    const std::string utf8 = errors("ja_JP.UTF-8");
    EXPECT_NE(utf8.find(Text(Msg::SmfCutShort, Language::Japanese)), std::string::npos) << utf8;
    EXPECT_EQ(errors("ja_JP.EUC-JP"), utf8);
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
