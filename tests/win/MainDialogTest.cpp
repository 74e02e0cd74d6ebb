#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include "res/resource.h"
#include "tests/win/MainDialogFixture.h"
#include "tests/win/support/DialogDriver.h"
#include "ui/MainDialog.h"
#include "win/Globals.h"
#include "win/Messages.h"

namespace {

// A drop handle as the shell makes it: DROPFILES, then the ANSI paths, then an empty one.
HGLOBAL MakeDrop(const std::vector<std::string>& paths) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& p : paths) size += p.size() + 1;
    HGLOBAL drop = GlobalAlloc(GHND, size);
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = FALSE;
    char* name = reinterpret_cast<char*>(files + 1);
    for (const std::string& p : paths) {
        lstrcpyA(name, p.c_str());
        name += p.size() + 1;
    }
    GlobalUnlock(drop);
    return drop;
}

std::string WarningText() {
    return Ansi("ストリーム バッファの最大サイズが不正です。\n1KB 以上 63KB 以下にしてください。");
}

std::string NotSmfText(const std::string& path) {
    return "'" + path + "'\n" +
           Ansi(
               "このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 ではありません。");
}

}  // namespace

TEST_F(MainDialogTest, ControlsComeInTheirTabOrder) {
    Open();
    const int ids[] = {-1,
                       -1,
                       IDC_BUFFER_SIZE,
                       IDC_BUFFER_SIZE_SPIN,
                       -1,
                       IDC_USE_RUNNING_STATUS,
                       IDC_OMIT_STREAM_IDS,
                       IDC_RESTORE_DEFAULTS,
                       IDM_CONVERT};
    HWND child = GetWindow(MainWindow, GW_CHILD);
    for (int id : ids) {
        ASSERT_NE(child, nullptr);
        int actual = GetDlgCtrlID(child);
        EXPECT_EQ(actual == 0xFFFF ? -1 : actual, id);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
    // The up-down control steps its buddy, the field before it, within 1 to 63.
    HWND spin = GetDlgItem(MainWindow, IDC_BUFFER_SIZE_SPIN);
    EXPECT_EQ(HWND(SendMessageA(spin, UDM_GETBUDDY, 0, 0)),
              GetDlgItem(MainWindow, IDC_BUFFER_SIZE));
    int low = 0;
    int high = 0;
    SendMessageA(spin, UDM_GETRANGE32, WPARAM(&low), LPARAM(&high));
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 63);
    const LONG style = GetWindowLongA(MainWindow, GWL_STYLE);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_POPUP), 0);
    EXPECT_NE(GetWindowLongA(MainWindow, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
}

TEST_F(MainDialogTest, ArrowKeysStepTheSizeWithinItsRange) {
    struct Case {
        const char* start;
        WPARAM key;
        const char* after;
    };
    const Case cases[] = {
        {"5", VK_UP, "6"},
        {"5", VK_DOWN, "4"},
        {"63", VK_UP, "63"},
        {"1", VK_DOWN, "1"},
    };
    Open();
    HWND field = GetDlgItem(MainWindow, IDC_BUFFER_SIZE);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.key == VK_UP ? " up" : " down"));
        SetFieldText(c.start);
        SendMessageA(field, WM_KEYDOWN, c.key, 0);
        SendMessageA(field, WM_KEYUP, c.key, 0);
        EXPECT_EQ(FieldText(), c.after);
    }
}

TEST_F(MainDialogTest, BadBufferSizeStopsTheConvertCommand) {
    for (const char* field : {"0", "", "64", "100000"}) {
        SCOPED_TRACE(std::string("field \"") + field + "\"");
        Open();
        SetFieldText(field);
        SetFocus(GetDlgItem(MainWindow, IDC_RESTORE_DEFAULTS));
        DialogDriver driver;
        SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_CONVERT, 0), 0);
        ASSERT_EQ(driver.seen.size(), 1u) << "a warning and no open dialog";
        const SeenWindow& box = driver.seen[0];
        EXPECT_FALSE(box.isFileDialog);
        EXPECT_EQ(box.owner, MainWindow);
        EXPECT_EQ(box.title, Ansi("警告"));
        EXPECT_EQ(box.text, WarningText());
        EXPECT_EQ(box.icon, LoadIconA(nullptr, IDI_WARNING));
        EXPECT_EQ(GetFocus(), GetDlgItem(MainWindow, IDC_BUFFER_SIZE));
        EXPECT_EQ(FieldText(), field) << "the user's text stays";
        DestroyWindow(MainWindow);
    }
}

TEST_F(MainDialogTest, BadBufferSizeRefusesADropAndReleasesIt) {
    Open();
    SetFieldText("64");
    std::string path = MakeFile("song.mid", "not a MIDI file");
    HGLOBAL drop = MakeDrop({path});
    DialogDriver driver;
    SendMessageA(MainWindow, WM_DROPFILES, WPARAM(drop), 0);
    ASSERT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(driver.seen[0].title, Ansi("警告"));
    EXPECT_EQ(driver.seen[0].text, WarningText());
    EXPECT_EQ(GlobalSize(drop), 0u) << "the drop handle was not released";
}

TEST_F(MainDialogTest, DroppedMidiStreamFileGoesBackWhateverTheBufferSize) {
    // An empty MIDI stream file: its header, the format chunk and a data chunk of no blocks.
    const std::string empty(
        "RIFF\x24\0\0\0MIDSfmt \x0C\0\0\0\x60\0\0\0\0\x04\0\0\0\0\0\0"
        "data\x04\0\0\0\0\0\0\0",
        44);
    Open();
    for (const char* field : {"", "0", "64"}) {
        SCOPED_TRACE(std::string("field \"") + field + "\"");
        SetFieldText(field);
        HGLOBAL drop = MakeDrop({MakeFile("song.mds", empty)});
        DialogDriver driver;  // cancels the save dialog
        SendMessageA(MainWindow, WM_DROPFILES, WPARAM(drop), 0);
        EXPECT_TRUE(driver.MessageBoxes().empty());
        ASSERT_EQ(driver.FileDialogs().size(), 1u);
        EXPECT_EQ(driver.FileDialogs()[0].text, "song.mid");
        EXPECT_EQ(GlobalSize(drop), 0u);
    }
}

TEST_F(MainDialogTest, DropConvertsOnlyTheFirstFile) {
    Open();
    std::vector<std::string> paths = {MakeFile("first.mid", "not a MIDI file"),
                                      MakeFile("second.mid", "not one either"),
                                      MakeFile("third.mid", "nor this")};
    HGLOBAL drop = MakeDrop(paths);
    DialogDriver driver;
    SendMessageA(MainWindow, WM_DROPFILES, WPARAM(drop), 0);
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].text, NotSmfText(paths[0]));
    EXPECT_EQ(GlobalSize(drop), 0u);
}

TEST_F(MainDialogTest, OpenDialogRemembersTheFilterEvenWhenCancelled) {
    Open();
    DialogDriver driver;
    driver.fileAnswers.push_back({"", 2});  // pick "all files", then cancel
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_CONVERT, 0), 0);
    EXPECT_EQ(OpenFilterIndex, 2u);
    // Cancelled untouched, the next dialog gives back the filter it started on.
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_CONVERT, 0), 0);
    EXPECT_EQ(OpenFilterIndex, 2u);
    std::vector<SeenWindow> dialogs = driver.FileDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].title, Ansi("開く"));
    EXPECT_EQ(dialogs[0].filters,
              (std::vector<std::string>{Ansi("標準 MIDI ファイル (*.mid)"),
                                        Ansi("すべてのファイル (*.*)"),
                                        Ansi("MIDI ストリーム ファイル (*.mds)")}));
    EXPECT_EQ(dialogs[1].text, "") << "every open dialog starts without a name";
    EXPECT_TRUE(driver.MessageBoxes().empty());
}

TEST_F(MainDialogTest, OpenDialogHandsTheChosenFileToTheConversion) {
    Open();
    std::string path = MakeFile("chosen.mid", "not a MIDI file");
    DialogDriver driver;
    driver.fileAnswers.push_back({path, 0});
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_CONVERT, 0), 0);
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].text, NotSmfText(path));
}

TEST_F(MainDialogTest, EscapeAndUnknownCommandsLeaveTheWindowOpen) {
    Open();
    DialogDriver driver;
    for (WORD id : {WORD(IDCANCEL), WORD(IDOK), WORD(12345)}) {
        SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }
    EXPECT_TRUE(IsWindow(MainWindow));
    EXPECT_TRUE(driver.seen.empty());
    EXPECT_FALSE(SettingsFileExists());
}

TEST_F(MainDialogTest, HelpWithoutItsFileShowsTheSystemText) {
    Open();  // no tonflux.html beside the test program
    DialogDriver driver;
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    std::string expected;
    FormatSystemError(expected, ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].title, Ansi("エラー"));
    EXPECT_EQ(driver.MessageBoxes()[0].text, expected);
    EXPECT_EQ(driver.MessageBoxes()[0].owner, MainWindow);
}
