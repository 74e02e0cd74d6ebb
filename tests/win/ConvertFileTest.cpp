#include "job/ConvertFile.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "core/Conversion.h"
#include "res/resource.h"
#include "tests/fuzz/AllocationHooks.h"
#include "tests/support/MdsImage.h"
#include "tests/support/SmfImage.h"
#include "tests/win/support/DialogDriver.h"
#include "win/Globals.h"
#include "win/Handles.h"
#include "win/Messages.h"

namespace {

const Bytes EndOfTrack{0x00, 0xFF, 0x2F, 0x00};

Bytes Meta(uint8_t type, const std::string& text) {
    return Cat(
        {{0x00, 0xFF, type}, VarLen(uint32_t(text.size())), Bytes(text.begin(), text.end())});
}

Bytes SysEx(uint32_t dataBytes) {
    Bytes data(dataBytes, 0x11);
    data.back() = 0xF7;
    return Cat({{0x00, 0xF0}, VarLen(dataBytes), data});
}

// A short song with what real files hold: a title and a copyright in the first track, tempo
// changes, a program change, a system exclusive message, notes in two tracks.
Bytes SampleSong() {
    return SmfImage()
        .Format(1)
        .Division(480)
        .Track(Cat({Meta(0x03, "Sample"),
                    Meta(0x02, "(c) 2026 Tonflux"),
                    {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20},
                    {0x83, 0x60, 0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80},
                    EndOfTrack}))
        .Track(Cat({{0x00, 0xC0, 0x05},
                    SysEx(6),
                    {0x00, 0x90, 0x3C, 0x64},
                    {0x83, 0x60, 0x3C, 0x00},
                    {0x00, 0x40, 0x64},
                    {0x83, 0x60, 0x80, 0x40, 0x00},
                    EndOfTrack}))
        .Build();
}

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

uint32_t ReadLe32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= uint32_t(uint8_t(bytes.at(at + i))) << (8 * i);
    return value;
}

std::string ReadAll(const std::string& path) {
    const FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file.IsOpen()) return "(missing)";
    std::string bytes(GetFileSize(file.Get(), nullptr), '\0');
    DWORD read = 0;
    ReadFile(file.Get(), &bytes[0], DWORD(bytes.size()), &read, nullptr);
    return bytes;
}

void WriteAll(const std::string& path, const std::string& bytes) {
    const FileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.IsOpen()) << path;
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void RemoveTree(const std::string& folder) {
    for (const std::string& name : FolderEntries(folder)) {
        const std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str())) RemoveTree(path);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string SystemText(DWORD code) {
    std::string text;
    FormatSystemError(text, code);
    return text;
}

// What the core alone makes of image with options: the command-line tool's output.
std::string CoreOutput(const Bytes& image, const ConversionOptions& options,
                       const std::string& path) {
    HeapImage heap(image);
    ConvertedSong song;
    if (ConvertSmf({heap.data, heap.size, options}, song).status != ConversionStatus::Ok ||
        !WriteConvertedSong(path.c_str(), song).ok)
        return "(core failed)";
    return ReadAll(path);
}

// Runs the command-line tool built beside this test with arguments; its exit code. Its error
// output goes into the file errors names, if any.
DWORD RunCli(const std::string& arguments, const std::string& errors = "") {
    std::string exe = TONFLUX_CONVERT_EXE;  // a Unix path: Wine's drive Z: is the root
    for (char& c : exe) {
        if (c == '/') c = '\\';
    }
    std::string command = "\"Z:" + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const FileHandle errorFile(errors.empty() ? INVALID_HANDLE_VALUE
                                              : CreateFileA(errors.c_str(), GENERIC_WRITE, 0,
                                                            &inherited, CREATE_ALWAYS, 0, nullptr));
    if (errorFile.IsOpen()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = errorFile.Get();
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, errorFile.IsOpen(), 0, nullptr,
                        nullptr, &startup, &process))
        return DWORD(-1);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

// What the command-line tool writes for input with options.
std::string CliOutput(const std::string& input, const ConversionOptions& options,
                      const std::string& output) {
    const DWORD exitCode = RunCli("-q -f -k " + std::to_string(options.maxBufferBytes / 1024) +
                                  (options.useRunningStatus ? "" : " --no-running-status") +
                                  (options.omitStreamIds ? " --omit-stream-ids" : "") + " -o \"" +
                                  output + "\" \"" + input + "\"");
    if (exitCode == DWORD(-1)) return "(tonflux-convert did not start)";
    return exitCode == 0 ? ReadAll(output) : "(tonflux-convert failed)";
}

// What the command-line tool writes for the MIDI stream file input on the way back, or why it
// refuses it (its reason after the quoted path, as tonflux.exe shows it), in the ANSI code page.
std::string CliBack(const std::string& input, bool useRunningStatus, const std::string& output) {
    const std::string errors = output + ".txt";
    const DWORD exitCode =
        RunCli(std::string("-q -f") + (useRunningStatus ? "" : " --no-running-status") + " -o \"" +
                   output + "\" \"" + input + "\"",
               errors);
    std::string text = ReadAll(errors);
    DeleteFileA(errors.c_str());
    if (exitCode == 0) return ReadAll(output);
    const std::string named = "'" + input + "': ";
    const size_t at = text.find(named);
    if (at == std::string::npos) return "(tonflux-convert said: " + text + ")";
    text = text.substr(at + named.size());
    return "'" + input + "'\n" + text.substr(0, text.find_first_of("\r\n"));
}

// The main dialog's option controls on a plain window, and a fresh folder for the files.
class ConvertFileTest : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        static int serial = 0;
        folder = std::string(temp) + "tonflux-job-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++serial);
        RemoveTree(folder);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));

        main = CreateWindowExA(0, "STATIC", "Tonflux", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0,
                               0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(main, nullptr);
        for (int id : {IDC_BUFFER_SIZE, IDC_USE_RUNNING_STATUS, IDC_OMIT_STREAM_IDS}) {
            const char* cls = id == IDC_BUFFER_SIZE ? "EDIT" : "BUTTON";
            const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                                (id == IDC_BUFFER_SIZE ? ES_NUMBER : BS_AUTOCHECKBOX);
            CreateWindowExA(0, cls, "", style, 10, 10 + (id - 1000) * 30, 100, 20, main,
                            reinterpret_cast<HMENU>(INT_PTR(id)), nullptr, nullptr);
        }
        SetOptions(4, true, false);
        MainWindow = main;
        SaveFilterIndex = 1;
        MidiSaveFilterIndex = 1;
    }

    void TearDown() override {
        DestroyWindow(main);
        MainWindow = nullptr;
        RemoveTree(folder);
    }

    ConversionOptions SetOptions(UINT kilobytes, bool useRunningStatus, bool omitStreamIds) {
        SetDlgItemInt(main, IDC_BUFFER_SIZE, kilobytes, FALSE);
        CheckDlgButton(main, IDC_USE_RUNNING_STATUS, useRunningStatus ? BST_CHECKED : 0);
        CheckDlgButton(main, IDC_OMIT_STREAM_IDS, omitStreamIds ? BST_CHECKED : 0);
        ConversionOptions options;
        options.maxBufferBytes = kilobytes * 1024;
        options.useRunningStatus = useRunningStatus;
        options.omitStreamIds = omitStreamIds;
        return options;
    }

    std::string Path(const std::string& name) const { return folder + "\\" + name; }

    std::string Input(const std::string& name, const Bytes& image) {
        WriteAll(Path(name), Text(image));
        return Path(name);
    }

    // One conversion answered by the driver; its boxes and dialogs are in driver.seen.
    void Convert(DialogDriver& driver, const std::string& input) {
        ConvertFile(main, input.c_str());
        EXPECT_TRUE(driver.fileAnswers.empty()) << "a file dialog expected by the test never came";
    }

    void ExpectOneError(const DialogDriver& driver, HWND owner, const std::string& text) {
        const std::vector<SeenWindow> boxes = driver.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, owner);
        EXPECT_EQ(boxes[0].title, Ansi("エラー"));
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].icon, LoadIconA(nullptr, IDI_HAND));
        EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
    }

    std::string folder;
    HWND main = nullptr;
};

TEST_F(ConvertFileTest, SavesThroughTheDialogWhatTheCommandLineToolMakes) {
    struct Case {
        const char* what;
        Bytes image;
        uint32_t division;
        UINT kilobytes;
        bool useRunningStatus, omitStreamIds;
    };
    const Case cases[] = {
        {"format 1, default options", SampleSong(), 480, 4, true, false},
        {"format 1, small buffers, no running status, no stream ids", SampleSong(), 480, 1, false,
         true},
        {"format 0 behind a MacBinary header",
         SmfImage()
             .MacBinary(MacBinaryHeader())
             .Format(0)
             .Division(96)
             .Track(Cat({Meta(0x03, "Mac"), {0x00, 0x90, 0x40, 0x40}, EndOfTrack}))
             .Build(),
         96, 63, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ConversionOptions options =
            SetOptions(c.kilobytes, c.useRunningStatus, c.omitStreamIds);
        const std::string input = Input("song.mid", c.image);
        const std::string output = Path("song.mds");
        DeleteFileA(output.c_str());
        HCURSOR before = LoadCursorA(nullptr, IDC_CROSS);
        SetCursor(before);
        DialogDriver driver;
        driver.fileAnswers.push_back({output});
        Convert(driver, input);

        EXPECT_EQ(GetCursor(), before);
        EXPECT_TRUE(driver.MessageBoxes().empty());
        const std::vector<SeenWindow> dialogs = driver.FileDialogs();
        ASSERT_EQ(dialogs.size(), 1u);
        EXPECT_EQ(dialogs[0].owner, main);
        EXPECT_EQ(dialogs[0].title, Ansi("名前を付けて保存")) << "the system's own title";
        EXPECT_EQ(dialogs[0].text, "song");
        EXPECT_EQ(dialogs[0].filterIndex, 1);
        EXPECT_EQ(SaveFilterIndex, 1u);

        const std::string bytes = ReadAll(output);
        EXPECT_EQ(bytes, CliOutput(input, options, Path("cli.mds")));
        // The options and the division come from the dialog and the song, not from defaults.
        ASSERT_GE(bytes.size(), 32u);
        EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 8), "RIFFMIDSfmt ");
        EXPECT_EQ(ReadLe32(bytes, 20), c.division);
        EXPECT_EQ(ReadLe32(bytes, 24), c.kilobytes * 1024);
        EXPECT_EQ(ReadLe32(bytes, 28), c.omitStreamIds ? 1u : 0u);
        EXPECT_TRUE(DeleteFileA(input.c_str())) << "the input file is closed again";
    }
}

TEST_F(ConvertFileTest, MidiStreamFilesGoBackToWhatTheCommandLineToolMakes) {
    const std::string oursText = CoreOutput(SampleSong(), ConversionOptions(), Path("ours.mds"));
    DeleteFileA(Path("ours.mds").c_str());
    const Bytes ours(oursText.begin(), oursText.end());
    // Another writer's layout: events without stream identifiers, 8 bytes each.
    const Bytes other = MdsFile(
        {FmtChunk(1024, 1, 120),
         DataChunk({{0, Cat({::Le32(0), ::Le32(0x00403C90), ::Le32(120), ::Le32(0x00003C90)})}})});
    enum Outcome {
        Written,      // no box; the output holds what tonflux-convert writes
        Refused,      // no save dialog; one error box with tonflux-convert's reason
        Cancelled,    // nothing written; the filter picked is kept for the way back alone
        InputKept,    // the input itself was chosen: refused, the input unchanged
        OutOfMemory,  // one error box naming the output; nothing written
    };
    struct Case {
        const char* what;
        const char* name;  // of the input
        Bytes image;
        const char* field;  // the buffer size, which the way back does not need
        bool useRunningStatus;
        const char* typed;  // into the save dialog, in the test's folder; "" the input's own name
        Outcome outcome;
        const char* written;  // the name the output gets
    };
    const Case cases[] = {
        {"ours, with running status, typed without extension", "song.mds", ours, "", true, "back",
         Written, "back.mid"},
        {"ours, without running status", "song.mds", ours, "0", false, "back", Written, "back.mid"},
        {"another writer's, under another extension", "track07.dat", other, "64", true,
         "track07.mid", Written, "track07.mid"},
        {"a block count without its blocks", "broken.mds",
         MdsFile({FmtChunk(), RiffChunk("data", ::Le32(1))}), "4", true, "", Refused, ""},
        {"a delta time no SMF holds", "far.mds",
         MdsFile({FmtChunk(), DataChunk({{0, PackedEvent(0x10000000, 0x00403C90)}})}), "4", true,
         "", Refused, ""},
        {"cancelled", "song.mds", ours, "4", true, nullptr, Cancelled, ""},
        {"the input itself", "song.mds", ours, "4", true, "", InputKept, ""},
        {"out of memory", "song.mds", ours, "4", true, "back.mid", OutOfMemory, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string input = Input(c.name, c.image);
        const std::string reference = CliBack(input, c.useRunningStatus, Path("cli.mid"));
        DeleteFileA(Path("cli.mid").c_str());
        SetOptions(4, c.useRunningStatus, true);
        SetDlgItemTextA(main, IDC_BUFFER_SIZE, c.field);
        HCURSOR before = LoadCursorA(nullptr, IDC_CROSS);
        SetCursor(before);
        DialogDriver driver;
        if (c.outcome != Refused) {
            // The second file type is picked first: the way back keeps its own choice.
            driver.fileAnswers.push_back(
                {c.typed == nullptr ? "" : Path(*c.typed ? c.typed : c.name), 2});
            if (c.outcome == InputKept) driver.boxButtons.push_back(IDYES);  // replace it?
            if (c.outcome == OutOfMemory) driver.afterFileDialog = [] { FailNthAllocation(1); };
        }
        Convert(driver, input);
        FailNthAllocation(0);

        EXPECT_EQ(GetCursor(), before);
        const std::vector<SeenWindow> boxes = driver.MessageBoxes();
        const std::vector<SeenWindow> dialogs = driver.FileDialogs();
        if (c.outcome == Refused) {
            EXPECT_TRUE(dialogs.empty());
        } else {
            ASSERT_EQ(dialogs.size(), 1u);
            EXPECT_EQ(dialogs[0].owner, main);
            char proposed[MAX_PATH];
            ProposeBaseName(c.name, proposed, sizeof proposed);
            EXPECT_EQ(dialogs[0].text, std::string(proposed) + ".mid");
            EXPECT_EQ(dialogs[0].filters,
                      (std::vector<std::string>{Ansi("標準 MIDI ファイル (*.mid)"),
                                                Ansi("すべてのファイル (*.*)")}));
            EXPECT_EQ(dialogs[0].filterIndex, 1);
        }
        EXPECT_EQ(SaveFilterIndex, 1u) << "the forward save dialog keeps its own";
        EXPECT_EQ(MidiSaveFilterIndex, c.outcome == Refused ? 1u : 2u);
        switch (c.outcome) {
            case Written:
                EXPECT_TRUE(boxes.empty());
                EXPECT_EQ(ReadAll(Path(c.written)), reference);
                break;
            case Refused:
                ExpectOneError(driver, main, reference);
                break;
            case Cancelled:
                EXPECT_TRUE(boxes.empty());
                break;
            case InputKept:
                ASSERT_EQ(boxes.size(), 2u);
                EXPECT_EQ(boxes[1].text, "'" + input + "'\n" +
                                             Ansi("出力ファイルが入力ファイルと同じファイルです。"
                                                  "入力ファイルは置き換えません。"));
                break;
            case OutOfMemory:
                ExpectOneError(driver, main,
                               "'" + Path(c.typed) + "'\n\n" + SystemText(ERROR_NOT_ENOUGH_MEMORY));
                break;
        }
        if (c.outcome != Written) {
            EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{c.name}) << "nothing written";
        }
        EXPECT_EQ(ReadAll(input), Text(c.image));
        for (const std::string& name : FolderEntries(folder)) DeleteFileA(Path(name).c_str());
        MidiSaveFilterIndex = 1;
    }
}

TEST_F(ConvertFileTest, ReplacesAnExistingFileAfterTheUserAgrees) {
    const std::string input = Input("song.mid", SampleSong());
    const std::string output = Path("song.mds");
    WriteAll(output, "an older file");
    DialogDriver driver;
    driver.fileAnswers.push_back({output});
    driver.boxButtons.push_back(IDYES);  // the dialog's question whether to replace the file
    Convert(driver, input);

    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_NE(driver.MessageBoxes()[0].owner, main) << "the question belongs to the save dialog";
    EXPECT_EQ(ReadAll(output), CoreOutput(SampleSong(), ConversionOptions(), Path("core.mds")));
}

TEST_F(ConvertFileTest, RefusesToWriteOverTheInputHoweverItIsNamed) {
    const std::string input = Input("long song name.mid", SampleSong());
    char shortName[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(input.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_TRUE(CreateHardLinkA(Path("link.mid").c_str(), input.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(Path("sub").c_str(), nullptr));
    ASSERT_NE(std::string(shortName), input);
    std::string upper = input;
    CharUpperA(&upper[0]);
    struct Case {
        const char* what;
        std::string typed;
        std::string named;  // as the dialog hands it over
    };
    const Case cases[] = {
        {"the input's own name", input, input},
        // The dialog hands over a relative name as a full path, from the folder it remembers
        // for the program, which tests running beside this one change: a detour stands in.
        {"a detour through another folder", Path("sub\\..\\long song name.mid"), input},
        {"another case", upper, upper},
        {"the short name", shortName, shortName},
        {"a hard link", Path("link.mid"), Path("link.mid")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DialogDriver driver;
        driver.fileAnswers.push_back({c.typed, 2});
        driver.boxButtons.push_back(IDYES);  // the dialog's question whether to replace it
        Convert(driver, input);

        const std::vector<SeenWindow> boxes = driver.MessageBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].owner, main);
        EXPECT_EQ(boxes[1].title, Ansi("エラー"));
        EXPECT_EQ(boxes[1].text, "'" + c.named + "'\n" +
                                     Ansi("出力ファイルが入力ファイルと同じファイルです。"
                                          "入力ファイルは置き換えません。"));
        EXPECT_EQ(boxes[1].icon, LoadIconA(nullptr, IDI_HAND));
        EXPECT_EQ(ReadAll(input), Text(SampleSong()));
        EXPECT_EQ(FolderEntries(folder).size(), 3u) << "no temporary file is left behind";
    }
}

TEST_F(ConvertFileTest, RefusesWhatIsNoSmfOfFormat0Or1) {
    struct Case {
        const char* what;
        Bytes image;
    };
    const Case cases[] = {
        {"format 2", SmfImage().Format(2).Track(EndOfTrack).Track(EndOfTrack)},
        {"an empty file", {}},
        {"a text file", {'h', 'e', 'l', 'l', 'o', '\r', '\n'}},
        {"a track cut short", SmfImage().Format(0).Track({0x00, 0x90, 0x3C})},
        {"a header announcing no track", SmfImage().Format(0).ChunkCount(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string input = Input("bad.mid", c.image);
        DialogDriver driver;
        Convert(driver, input);
        ExpectOneError(driver, main,
                       "'" + input + "'\n" +
                           Ansi("このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 "
                                "ではありません。"));
        EXPECT_TRUE(driver.FileDialogs().empty());
        EXPECT_TRUE(DeleteFileA(input.c_str())) << "the input file is closed again";
    }
}

TEST_F(ConvertFileTest, InputThatCannotBeOpenedNamesTheFileAndTheReason) {
    struct Case {
        const char* what;
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {"a missing file", Path("missing.mid"), ERROR_FILE_NOT_FOUND},
        {"a missing folder", Path("gone\\song.mid"), ERROR_PATH_NOT_FOUND},
        {"a folder", folder, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DialogDriver driver;
        Convert(driver, c.path);
        ExpectOneError(driver, main, "'" + c.path + "'\n\n" + SystemText(c.error));
        EXPECT_TRUE(driver.FileDialogs().empty());
    }
}

TEST_F(ConvertFileTest, SysExLargerThanTheBufferSendsTheUserToTheSizeField) {
    SetOptions(1, true, false);
    const std::string input =
        Input("sysex.mid", SmfImage().Format(0).Track(Cat({SysEx(1100), EndOfTrack})).Build());
    SetFocus(GetDlgItem(main, IDC_OMIT_STREAM_IDS));
    DialogDriver driver;
    Convert(driver, input);

    ExpectOneError(driver, main,
                   Ansi("ストリーム バッファに収まらない Sysex イベントが存在します。\n"
                        "ストリーム バッファの最大サイズを大きくしてみてください。"));
    EXPECT_TRUE(driver.FileDialogs().empty());
    EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_BUFFER_SIZE));
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"sysex.mid"});
}

TEST_F(ConvertFileTest, CancelledSaveWritesNothingButKeepsTheChosenFilter) {
    const std::string input = Input("song.mid", SampleSong());
    {
        DialogDriver driver;
        driver.fileAnswers.push_back({"", 2});
        Convert(driver, input);
        ASSERT_EQ(driver.FileDialogs().size(), 1u);
        EXPECT_EQ(driver.FileDialogs()[0].filterIndex, 1);
        EXPECT_TRUE(driver.MessageBoxes().empty());
    }
    EXPECT_EQ(SaveFilterIndex, 2u);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"song.mid"});

    DialogDriver driver;
    driver.fileAnswers.push_back({""});
    Convert(driver, input);
    ASSERT_EQ(driver.FileDialogs().size(), 1u);
    EXPECT_EQ(driver.FileDialogs()[0].filterIndex, 2);
}

TEST(ProposeBaseName, TakesTheNameBetweenTheLastSeparatorAndTheLastDot) {
    struct Case {
        std::string path;
        std::string name;
    };
    // In code page 932, "ソ" is 0x83 0x5C and "表" is 0x95 0x5C: their trail byte is a backslash.
    const Case cases[] = {
        {"C:\\music\\song.mid", "song"},
        {"C:\\x.y\\a.b.mid", "a.b"},
        {"C:\\x.y\\noextension", "noextension"},
        {"C:/music/song.mid", "song"},
        {"C:song.mid", "song"},
        {"song", "song"},
        {"C:\\music\\.mid", ""},
        {Ansi("C:\\music\\表.mid"), Ansi("表")},
        {Ansi("C:\\ソ.x\\ソ"), Ansi("ソ")},
        {Ansi("C:\\曲\\表ソ.b.mid"), Ansi("表ソ.b")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char name[MAX_PATH] = "previous";
        ProposeBaseName(c.path.c_str(), name, sizeof name);
        EXPECT_EQ(name, c.name);
    }
    char small[4];
    ProposeBaseName("C:\\music\\song.mid", small, sizeof small);
    EXPECT_STREQ(small, "son");
}

TEST_F(ConvertFileTest, SaveDialogProposesTheInputsBaseName) {
    ASSERT_TRUE(CreateDirectoryA(Path("x.y").c_str(), nullptr));
    const std::string input = Input("x.y\\a.b.mid", SampleSong());
    DialogDriver driver;
    Convert(driver, input);
    ASSERT_EQ(driver.FileDialogs().size(), 1u);
    EXPECT_EQ(driver.FileDialogs()[0].text, "a.b");
}

TEST_F(ConvertFileTest, WriteIntoAVanishedFolderIsReportedWithTheOutputPath) {
    const std::string input = Input("song.mid", SampleSong());
    ASSERT_TRUE(CreateDirectoryA(Path("out").c_str(), nullptr));
    const std::string output = Path("out\\song.mds");
    DialogDriver driver;
    driver.fileAnswers.push_back({output});
    driver.afterFileDialog = [this] { RemoveDirectoryA(Path("out").c_str()); };
    Convert(driver, input);

    ExpectOneError(driver, main, "'" + output + "'\n\n" + SystemText(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"song.mid"});
}

TEST_F(ConvertFileTest, FailedReplaceLeavesTheExistingFileUntouched) {
    const std::string input = Input("song.mid", SampleSong());
    const std::string output = Path("song.mds");
    WriteAll(output, "an older file");
    // Another program holds the file open without sharing: it cannot be replaced now.
    HANDLE held = CreateFileA(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DialogDriver driver;
    driver.fileAnswers.push_back({output});
    driver.boxButtons.push_back(IDYES);
    Convert(driver, input);
    CloseHandle(held);

    const std::vector<SeenWindow> boxes = driver.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    const std::string leading = "'" + output + "'\n\n";
    EXPECT_EQ(boxes[1].owner, main);
    EXPECT_EQ(boxes[1].title, Ansi("エラー"));
    EXPECT_EQ(boxes[1].text.substr(0, leading.size()), leading);
    EXPECT_GT(boxes[1].text.size(), leading.size() + 2);
    EXPECT_EQ(boxes[1].icon, LoadIconA(nullptr, IDI_HAND));
    EXPECT_EQ(ReadAll(output), "an older file");
    EXPECT_EQ(FolderEntries(folder).size(), 2u) << "no temporary file is left behind";
}

TEST_F(ConvertFileTest, SavesIntoAFolderTooDeepForALongerTemporaryName) {
    // The deepest folder CreateDirectoryA makes (248 characters): "a.mds" still fits the 259
    // characters of a path, a temporary name beside it of more than 10 characters would not.
    std::string deep = folder;
    while (deep.size() + 52 < 248) deep += "\\" + std::string(50, 'd');
    deep += "\\" + std::string(247 - deep.size(), 'e');
    for (size_t at = folder.size() + 1; at <= deep.size(); ++at) {
        if (at == deep.size() || deep[at] == '\\') {
            ASSERT_TRUE(CreateDirectoryA(deep.substr(0, at).c_str(), nullptr)) << at;
        }
    }
    const std::string input = Input("song.mid", SampleSong());
    const std::string output = deep + "\\a.mds";
    DialogDriver driver;
    driver.fileAnswers.push_back({output});
    Convert(driver, input);

    EXPECT_TRUE(driver.MessageBoxes().empty());
    const std::string expected = CoreOutput(SampleSong(), ConversionOptions(), Path("core.mds"));
    EXPECT_EQ(ReadAll(output), expected);
    ASSERT_TRUE(DeleteFileA(output.c_str()));
    EXPECT_EQ(CliOutput(input, ConversionOptions(), output), expected) << "with -o";
}

TEST_F(ConvertFileTest, RunningOutOfMemoryWhileWritingNamesTheOutput) {
    const std::string input = Input("song.mid", SampleSong());
    const std::string output = Path("song.mds");
    // Each allocation after the save dialog in turn, from the check of the output to the write.
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        DialogDriver driver;
        driver.fileAnswers.push_back({output});
        driver.afterFileDialog = [n] { FailNthAllocation(n); };
        Convert(driver, input);
        const bool refused = AllocationWasRefused();
        FailNthAllocation(0);
        if (!refused) break;
        ExpectOneError(driver, main, "'" + output + "'\n\n" + SystemText(ERROR_NOT_ENOUGH_MEMORY));
        ASSERT_EQ(FolderEntries(folder), std::vector<std::string>{"song.mid"});
    }
    EXPECT_EQ(ReadAll(output), CoreOutput(SampleSong(), ConversionOptions(), Path("core.mds")));
}

TEST_F(ConvertFileTest, FileTooLargeToHoldIsReportedAndTheNextConversionWorks) {
    // Sparse files: no disk space is used. 3 GB cannot be held by a 32-bit process, nor 4 GB - 2,
    // whose size once wrapped round with the image's header to a block of a few bytes: they run
    // out of memory. From 4 GB - 1 on no image of this program holds the file: too large. The
    // command-line tool refuses them the same way.
    struct Case {
        ULONGLONG size;
        DWORD error;
    };
    std::vector<Case> cases = {{(4ull << 30) - 1, ERROR_FILE_TOO_LARGE},
                               {5ull << 30, ERROR_FILE_TOO_LARGE}};
    if (sizeof(void*) == 4) {
        cases.push_back({3ull << 30, ERROR_NOT_ENOUGH_MEMORY});
        cases.push_back({(4ull << 30) - 2, ERROR_NOT_ENOUGH_MEMORY});
    }
    for (const Case& c : cases) {
        const ULONGLONG size = c.size;
        SCOPED_TRACE(size);
        const std::string input = Path("huge.mid");
        HANDLE file =
            CreateFileA(input.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = LONGLONG(size);
        ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file));
        CloseHandle(file);

        DialogDriver driver;
        Convert(driver, input);
        ExpectOneError(driver, main, "'" + input + "'\n\n" + SystemText(c.error));
        EXPECT_TRUE(driver.FileDialogs().empty());
        EXPECT_EQ(RunCli("-q \"" + input + "\""), 1u);
        EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"huge.mid"});
        DeleteFileA(input.c_str());
    }

    const std::string input = Input("song.mid", SampleSong());
    DialogDriver driver;
    driver.fileAnswers.push_back({Path("song.mds")});
    Convert(driver, input);
    EXPECT_TRUE(driver.MessageBoxes().empty());
    EXPECT_EQ(ReadAll(Path("song.mds")),
              CoreOutput(SampleSong(), ConversionOptions(), Path("core.mds")));
}

}  // namespace

namespace {

// A 64-bit address space is not squeezed; the test exists in the 32-bit build only (a skipped
// test would end ctest's report with a list instead of its summary).
#ifndef _WIN64

// Takes the process's free address space away, all but about leftBytes, until destroyed.
class AddressSpaceSqueeze {
public:
    explicit AddressSpaceSqueeze(size_t leftBytes) {
        blocks.reserve(65536);  // no room to grow once the squeeze is on
        for (size_t chunk = size_t(1) << 30; chunk >= (size_t(1) << 16); chunk /= 2) {
            while (void* block = VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS)) {
                blocks.push_back({block, chunk});
            }
        }
        // Give back one block of at least leftBytes, so that much lies in one piece.
        size_t best = blocks.size();
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (blocks[i].size >= leftBytes &&
                (best == blocks.size() || blocks[i].size < blocks[best].size))
                best = i;
        }
        if (best < blocks.size()) {
            // Keep the rest of it taken: exactly leftBytes come free.
            const Block b = blocks[best];
            VirtualFree(b.address, 0, MEM_RELEASE);
            blocks[best] = {nullptr, 0};
            if (b.size > leftBytes) {
                void* rest = static_cast<char*>(b.address) + leftBytes;
                blocks[best].address =
                    VirtualAlloc(rest, b.size - leftBytes, MEM_RESERVE, PAGE_NOACCESS);
            }
        }
    }
    ~AddressSpaceSqueeze() {
        for (const Block& b : blocks) {
            if (b.address != nullptr) VirtualFree(b.address, 0, MEM_RELEASE);
        }
    }

private:
    struct Block {
        void* address;
        size_t size;
    };
    std::vector<Block> blocks;
};

TEST_F(ConvertFileTest, RunningOutOfMemoryWhileParsingIsReportedAndReleased) {
    // Two million notes: about 6 MB of file, several times that as events in memory.
    Bytes track = {0x00, 0x90, 0x3C, 0x40};
    track.reserve(6 * 1000 * 1000 + 8);
    for (int i = 0; i < 2000000; ++i) track.insert(track.end(), {0x00, 0x3C, 0x40});
    track.insert(track.end(), EndOfTrack.begin(), EndOfTrack.end());
    const std::string input = Input("dense.mid", SmfImage().Format(0).Track(track).Build());
    track = Bytes();
    const std::string expected = "'" + input + "'\n\n" + SystemText(ERROR_NOT_ENOUGH_MEMORY);
    {
        DialogDriver driver;
        driver.seen.reserve(4);
        AddressSpaceSqueeze squeeze(24 << 20);  // a multiple of the 64 KB granularity
        ConvertFile(main, input.c_str());
        const std::vector<SeenWindow>& seen = driver.seen;
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_FALSE(seen[0].isFileDialog);
        EXPECT_EQ(seen[0].text, expected);
    }
    DialogDriver driver;
    driver.fileAnswers.push_back({Path("dense.mds")});
    Convert(driver, input);
    EXPECT_TRUE(driver.MessageBoxes().empty());
    EXPECT_EQ(driver.FileDialogs().size(), 1u);
}

#endif  // _WIN64

}  // namespace
