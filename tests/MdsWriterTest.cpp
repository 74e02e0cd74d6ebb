#include "core/MdsWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/OutputFile.h"
#include "tests/support/Packed.h"
#include "tests/support/SmfImage.h"

namespace {

namespace fs = std::filesystem;

ConversionOptions Options(uint32_t maxBufferBytes, bool omitStreamIds) {
    ConversionOptions options;
    options.maxBufferBytes = maxBufferBytes;
    options.omitStreamIds = omitStreamIds;
    return options;
}

void AddBlock(StreamBlockList& blocks, uint32_t tickStart, const Bytes& bytes) {
    StreamBlock* block = blocks.Append(StreamBlock(1024));
    block->tickStart = tickStart;
    block->buffer.Write(bytes.data(), uint32_t(bytes.size()));
}

ByteBuffer Text(const std::string& s) {
    ByteBuffer b;
    b.Assign(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
    return b;
}

Bytes Image(uint16_t division, const ConversionOptions& options, const StreamBlockList& blocks,
            const ByteBuffer& title, const ByteBuffer& copyright) {
    MemoryFile out(4096);
    EXPECT_TRUE(WriteMdsImage(division, options, blocks, title, copyright, out));
    return Bytes(out.Data(), out.Data() + out.GetLength());
}

const Bytes NoteBlock = Cat({Le32(0), Le32(0), Le32(0x00403090)});

TEST(WriteMdsFile, LaysOutTheRiffFileByteForByte) {
    struct Case {
        const char* what;
        uint16_t division;
        ConversionOptions options;
        std::vector<std::pair<uint32_t, Bytes>> blocks;
        std::string title, copyright;
        Bytes expected;
    };
    const Case cases[] = {
        {"no texts: 44 bytes plus each block with its 8-byte head, no LIST",
         480,
         Options(4096, false),
         {{0, NoteBlock}},
         "",
         "",
         Cat({Id("RIFF"), Le32(56), Id("MIDS"), Id("fmt "), Le32(12), Le32(480), Le32(4096),
              Le32(0), Id("data"), Le32(24), Le32(1), Le32(0), Le32(12), NoteBlock})},
        {"two blocks, the second with its start tick",
         96,
         Options(1024, false),
         {{0, NoteBlock}, {77, NoteBlock}},
         "",
         "",
         Cat({Id("RIFF"), Le32(76), Id("MIDS"), Id("fmt "), Le32(12), Le32(96), Le32(1024), Le32(0),
              Id("data"), Le32(44), Le32(2), Le32(0), Le32(12), NoteBlock, Le32(77), Le32(12),
              NoteBlock})},
        {"an empty block still counts",
         96,
         Options(1024, false),
         {{0, {}}},
         "",
         "",
         Cat({Id("RIFF"), Le32(44), Id("MIDS"), Id("fmt "), Le32(12), Le32(96), Le32(1024), Le32(0),
              Id("data"), Le32(12), Le32(1), Le32(0), Le32(0)})},
        {"a title of 5 bytes gets a fill byte that LIST counts and INAM does not",
         96,
         Options(1024, false),
         {{0, {}}},
         "Title",
         "",
         Cat({Id("RIFF"),
              Le32(70),
              Id("MIDS"),
              Id("fmt "),
              Le32(12),
              Le32(96),
              Le32(1024),
              Le32(0),
              Id("data"),
              Le32(12),
              Le32(1),
              Le32(0),
              Le32(0),
              Id("LIST"),
              Le32(18),
              Id("INFO"),
              Id("INAM"),
              Le32(5),
              {'T', 'i', 't', 'l', 'e', 0}})},
        {"a copyright alone",
         96,
         Options(1024, false),
         {{0, {}}},
         "",
         "(c)2",
         Cat({Id("RIFF"),
              Le32(68),
              Id("MIDS"),
              Id("fmt "),
              Le32(12),
              Le32(96),
              Le32(1024),
              Le32(0),
              Id("data"),
              Le32(12),
              Le32(1),
              Le32(0),
              Le32(0),
              Id("LIST"),
              Le32(16),
              Id("INFO"),
              Id("ICOP"),
              Le32(4),
              {'(', 'c', ')', '2'}})},
        {"both texts, title first, bytes exactly as given",
         96,
         Options(1024, false),
         {{0, {}}},
         "\x83\x65",
         "C",
         Cat({Id("RIFF"),   Le32(76),   Id("MIDS"), Id("fmt "), Le32(12),   Le32(96),
              Le32(1024),   Le32(0),    Id("data"), Le32(12),   Le32(1),    Le32(0),
              Le32(0),      Id("LIST"), Le32(24),   Id("INFO"), Id("INAM"), Le32(2),
              {0x83, 0x65}, Id("ICOP"), Le32(1),    {'C', 0}})},
        {"an SMPTE division is zero-extended; omitted identifiers set the flag",
         0xE728,
         Options(63 * 1024, true),
         {{0, {}}},
         "",
         "",
         Cat({Id("RIFF"), Le32(44), Id("MIDS"), Id("fmt "), Le32(12), Le32(0x0000E728), Le32(64512),
              Le32(1), Id("data"), Le32(12), Le32(1), Le32(0), Le32(0)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamBlockList blocks;
        for (const auto& b : c.blocks) AddBlock(blocks, b.first, b.second);
        EXPECT_EQ(Image(c.division, c.options, blocks, Text(c.title), Text(c.copyright)),
                  c.expected);
    }
}

class WriteMdsFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("tonflux-mds-") + info->name());
        fs::remove_all(dir);
        ASSERT_TRUE(fs::create_directory(dir));
        AddBlock(blocks, 0, NoteBlock);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static Bytes ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteFile(const fs::path& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    WriteResult Write(const fs::path& path) {
        return WriteMdsFile(path.string().c_str(), 96, Options(1024, false), blocks, ByteBuffer(),
                            ByteBuffer());
    }

    fs::path dir;
    StreamBlockList blocks;
};

TEST_F(WriteMdsFileOnDisk, WritesTheImageAndReplacesAnExistingFile) {
    const fs::path target = dir / "song.mds";
    WriteFile(target, {'o', 'l', 'd'});
    const WriteResult result = Write(target);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(ReadFile(target),
              Image(96, Options(1024, false), blocks, ByteBuffer(), ByteBuffer()));
    EXPECT_EQ(Names(), std::vector<std::string>{"song.mds"});  // no temporary file left
}

// The conversion that writes its file as it goes: the header's sizes filled in at the end, in the
// output's buffer or in the file itself, and nothing left behind by a failure, however late.
TEST_F(WriteMdsFileOnDisk, ConvertsWhileWritingAndLeavesNothingOnAFailure) {
    const Bytes eot{0x00, 0xFF, 0x2F, 0x00};
    Bytes notes;  // 120 000 events: a file of 1.4 MB, more than the output's buffer holds
    for (int i = 0; i < 120000; ++i) notes.insert(notes.end(), {0x01, 0x3C, uint8_t(i & 0x7F)});
    const Bytes big = SmfImage().Format(0).Track(Cat({{0x00, 0x90, 0x3C, 0x40}, notes, eot}));
    const Bytes small =
        SmfImage().Track(Cat({{0x00, 0xFF, 0x03, 0x01, 'T', 0x00, 0x90, 0x3C, 0x40}, eot}));
    const Bytes lateFault = SmfImage()
                                .Track(Cat({{0x00, 0x90, 0x3C, 0x40}, eot}))
                                .Track(Cat({{0x00, 0x90, 0x3C, 0x40}, notes, {0x00, 0xF4}, eot}));
    const Bytes sysex = SmfImage().Format(0).Track(
        Cat({{0x00, 0x90, 0x3C, 0x40}, notes, {0x00, 0xF0}, VarLen(2000), Bytes(2000, 1), eot}));
    struct Case {
        const char* what;
        Bytes smf;
        fs::path target;
        bool replace;
        ConversionStatus status;
        uint32_t posixError;  // for WriteFailed
    };
    WriteFile(dir / "old.mds", {'o', 'l', 'd'});
    const Case cases[] = {
        {"a file larger than the output's buffer", big, dir / "big.mds", true, ConversionStatus::Ok,
         0},
        {"a small file in place of an old one", small, dir / "old.mds", true, ConversionStatus::Ok,
         0},
        {"a fault in the last track", lateFault, dir / "old.mds", true, ConversionStatus::NotSmf,
         0},
        {"an event larger than a block after many", sysex, dir / "old.mds", true,
         ConversionStatus::EventTooLarge, 0},
        {"a folder that does not exist", big, dir / "gone" / "song.mds", true,
         ConversionStatus::WriteFailed, ENOENT},
        {"a file there, not to be replaced", big, dir / "old.mds", false,
         ConversionStatus::WriteFailed, EEXIST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "old.mds", {'o', 'l', 'd'});
        const HeapImage image(c.smf);
        const ConversionRequest request(image.data, image.size, Options(1024, false));
        const ConversionResult result =
            ConvertSmfToFile(request, c.target.string().c_str(), c.replace);
        ASSERT_EQ(result.status, c.status);
        if (c.status == ConversionStatus::WriteFailed) {
            EXPECT_NE(result.errorCode, 0u);
#ifndef _WIN32
            EXPECT_EQ(result.errorCode, c.posixError);
#endif
        }
        if (c.status != ConversionStatus::Ok) {
            EXPECT_EQ(Names(), std::vector<std::string>{"old.mds"});
            EXPECT_EQ(ReadFile(dir / "old.mds"), (Bytes{'o', 'l', 'd'}));
            continue;
        }
        ConvertedSong kept;
        MemoryFile expected(4096);
        ASSERT_EQ(ConvertSmf(request, kept).status, ConversionStatus::Ok);
        ASSERT_TRUE(WriteConvertedImage(kept, expected));
        EXPECT_EQ(ReadFile(c.target),
                  Bytes(expected.Data(), expected.Data() + expected.GetLength()));
        EXPECT_EQ(result.blocks, kept.blocks.Count());
        EXPECT_EQ(result.events, kept.blocks.EventCount());
        fs::remove(c.target);
    }
}

TEST_F(WriteMdsFileOnDisk, FailsWithTheSystemCodeAndLeavesNothingBehind) {
    struct Case {
        const char* what;
        fs::path target;
        int posixError;
    };
    fs::create_directory(dir / "sub");
    WriteFile(dir / "sub" / "inside", {1});
    WriteFile(dir / "old.mds", {'o', 'l', 'd'});
    const Case cases[] = {
        {"a folder that does not exist (or vanished)", dir / "gone" / "song.mds", ENOENT},
        {"a target that is a folder", dir / "sub", EISDIR},
        {"a folder part that is a file", dir / "old.mds" / "song.mds", ENOTDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const WriteResult result = Write(c.target);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.errorCode, 0u);
#ifndef _WIN32
        EXPECT_EQ(result.errorCode, uint32_t(c.posixError));
#endif
        EXPECT_EQ(Names(), (std::vector<std::string>{"old.mds", "sub"}));
        EXPECT_EQ(ReadFile(dir / "old.mds"), (Bytes{'o', 'l', 'd'}));
    }
}

TEST_F(WriteMdsFileOnDisk, WithoutReplaceWhatStandsAtTheTargetStays) {
    struct Case {
        const char* what;
        bool appearsWhileWriting;  // the target is made after the file was begun
        bool link;                 // the target is a link that leads nowhere
    };
    const Case cases[] = {
        {"a file there before", false, false},
        {"a file that appears while the output is written", true, false},
#ifndef _WIN32
        {"a link leading nowhere", false, true},
#endif
    };
    const fs::path target = dir / "song.mds";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(target);
        OutputFile file;
        if (!c.appearsWhileWriting) WriteFile(target, {'o', 'l', 'd'});
#ifndef _WIN32
        if (c.link) {
            fs::remove(target);
            fs::create_symlink(dir / "nowhere", target);
        }
#endif
        const uint8_t bytes[4] = {1, 2, 3, 4};
        ASSERT_TRUE(file.Create(target.string().c_str()));
        ASSERT_TRUE(file.Write(bytes, 4));
        if (c.appearsWhileWriting) WriteFile(target, {'o', 'l', 'd'});
        EXPECT_FALSE(file.Commit(false));
        EXPECT_TRUE(FileSystem::AlreadyExists(file.ErrorCode())) << file.ErrorCode();
        EXPECT_EQ(Names(), std::vector<std::string>{"song.mds"});  // no temporary file left
        if (!c.link) {
            EXPECT_EQ(ReadFile(target), (Bytes{'o', 'l', 'd'}));
        }
    }
    fs::remove(target);
    EXPECT_TRUE(WriteMdsFile(target.string().c_str(), 96, Options(1024, false), blocks,
                             ByteBuffer(), ByteBuffer(), false)
                    .ok)
        << "nothing there: written";
}

#ifndef _WIN32
TEST_F(WriteMdsFileOnDisk, AWriteFailingHalfwayKeepsTheExistingTarget) {
    // A file-size limit makes write() fail as a full disk would, even for root.
    const fs::path target = dir / "song.mds";
    WriteFile(target, {'o', 'l', 'd'});
    for (int i = 0; i < 40; ++i) AddBlock(blocks, 0, Bytes(1024, 0x55));
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const WriteResult result = Write(target);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorCode, uint32_t(EFBIG));
    EXPECT_EQ(ReadFile(target), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Names(), std::vector<std::string>{"song.mds"});
}

TEST_F(WriteMdsFileOnDisk, AReadOnlyFolderIsRefused) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    // Root writes anywhere: the write then runs in a child that has given up root.
    int error = 0;
    if (geteuid() == 0) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
            const WriteResult result = Write(dir / "song.mds");
            _exit(result.ok ? 0 : int(result.errorCode & 0x7F));
        }
        int status = 0;
        waitpid(child, &status, 0);
        error = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        const WriteResult result = Write(dir / "song.mds");
        error = result.ok ? 0 : int(result.errorCode);
    }
    EXPECT_EQ(error, EACCES);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_TRUE(Names().empty());
}
#endif

}  // namespace
