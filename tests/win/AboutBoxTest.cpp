#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include "res/resource.h"
#include "tests/win/MainDialogFixture.h"
#include "tests/win/support/DialogDriver.h"
#include "ui/AboutBox.h"
#include "win/Globals.h"

namespace {

// What the About box shows once it is built. Its own CBT hook runs before the DialogDriver's,
// which then answers the box.
struct AboutSnapshot {
    std::string description, copyright, comments, path, email, web;
    HFONT titleFont = nullptr;
    LOGFONTA titleLook = {};
};

class AboutWatcher {
public:
    AboutWatcher() {
        Current = this;
        hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~AboutWatcher() {
        UnhookWindowsHookEx(hook);
        Current = nullptr;
    }
    AboutSnapshot snapshot;
    HWND box = nullptr;
    bool closeAfterMessageBox = false;
    // Closes the box once it is built, after the commands that hooks set later post to it.
    bool closeOnceBuilt = false;

private:
    static std::string Text(HWND window, int id) {
        char text[1024] = "";
        GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        HWND window = HWND(wParam);
        if (code == HCBT_ACTIVATE && Current->box == nullptr &&
            GetDlgItem(window, IDC_ABOUT_PROGRAM_PATH) != nullptr) {
            Current->box = window;
            AboutSnapshot& s = Current->snapshot;
            s.description = Text(window, IDC_ABOUT_DESCRIPTION);
            s.copyright = Text(window, IDC_ABOUT_COPYRIGHT);
            s.comments = Text(window, IDC_ABOUT_COMMENTS);
            s.path = Text(window, IDC_ABOUT_PROGRAM_PATH);
            s.email = Text(window, IDC_ABOUT_EMAIL);
            s.web = Text(window, IDC_ABOUT_WEB);
            s.titleFont =
                HFONT(SendDlgItemMessageA(window, IDC_ABOUT_DESCRIPTION, WM_GETFONT, 0, 0));
            GetObjectA(s.titleFont, sizeof s.titleLook, &s.titleLook);
            if (Current->closeOnceBuilt) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        } else if (code == HCBT_DESTROYWND && Current->closeAfterMessageBox &&
                   GetDlgItem(window, 0xFFFF) != nullptr) {
            PostMessageA(Current->box, WM_COMMAND, IDCANCEL, 0);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static AboutWatcher* Current;
    HHOOK hook = nullptr;
};

AboutWatcher* AboutWatcher::Current = nullptr;

std::string ProgramPath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace

using AboutBoxTest = MainDialogTest;

TEST_F(AboutBoxTest, ShowsTheSameTextsInBoldEachTime) {
    Open();
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("opening " + std::to_string(round));
        DialogDriver driver;  // closes the box with its OK button (IDCANCEL)
        AboutWatcher watcher;
        SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
        ASSERT_NE(watcher.box, nullptr);
        EXPECT_FALSE(IsWindow(watcher.box));
        const AboutSnapshot& s = watcher.snapshot;
        EXPECT_EQ(s.description, "Tonflux " TONFLUX_VERSION);
        EXPECT_EQ(s.copyright, Ansi("Copyright (C) 2026 Tonflux の作者"));
        EXPECT_EQ(s.comments, Ansi("標準 MIDI ファイル (SMF) フォーマット 0 および 1 (*.mid) を "
                                   "MIDI ストリーム ファイル (*.mds) に変換します。"));
        EXPECT_EQ(s.path, ProgramPath());
        EXPECT_EQ(s.email, TONFLUX_CONTACT_EMAIL);
        EXPECT_EQ(s.web, TONFLUX_CONTACT_WEB);
        EXPECT_EQ(s.titleLook.lfWeight, FW_BOLD);
        EXPECT_EQ(s.titleLook.lfHeight, 16);
        EXPECT_EQ(GetObjectType(s.titleFont), 0u) << "the bold font outlived the box";
        EXPECT_EQ(AboutTitleFont.Get(), nullptr);
        ASSERT_EQ(driver.seen.size(), 1u);
        EXPECT_EQ(driver.seen[0].title, Ansi("バージョン情報"));
        EXPECT_EQ(driver.seen[0].owner, MainWindow);
    }
}

TEST_F(AboutBoxTest, WebButtonAsksFirstAndNoOpensNothing) {
    Open();
    DialogDriver driver;
    driver.boxButtons = {IDC_ABOUT_WEB, IDNO};
    AboutWatcher watcher;
    watcher.closeAfterMessageBox = true;
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    ASSERT_EQ(driver.seen.size(), 2u) << "the question and nothing after it";
    const SeenWindow& question = driver.seen[1];
    EXPECT_EQ(question.owner, watcher.box);
    EXPECT_EQ(question.title, Ansi("確認"));
    EXPECT_EQ(question.text, Ansi("WWW ブラウザを起動し、インターネットへの接続を試みますか？"));
    EXPECT_EQ(question.icon, LoadIconA(nullptr, IDI_QUESTION));
    EXPECT_NE(std::find(question.buttons.begin(), question.buttons.end(), IDYES),
              question.buttons.end());
}

TEST_F(AboutBoxTest, MissingVersionKeysLeaveTheirControlsEmpty) {
    struct Case {
        const char* file;
        const char* description;
    };
    const Case cases[] = {
        {"version_probe_partial.dll", "Probe 9.9"},  // no "LegalCopyright", no "Comments"
        {"version_probe_none.dll", ""},              // no version information at all
    };
    Open();
    const HINSTANCE program = AppInstance;
    std::string folder = ProgramPath();
    folder.resize(folder.rfind('\\') + 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        HMODULE probe = LoadLibraryA((folder + c.file).c_str());
        ASSERT_NE(probe, nullptr);
        AppInstance = probe;  // the About box now takes the probe for the program file
        DialogDriver driver;
        AboutWatcher watcher;
        SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
        AppInstance = program;
        ASSERT_NE(watcher.box, nullptr);
        EXPECT_EQ(watcher.snapshot.description, c.description);
        EXPECT_EQ(watcher.snapshot.copyright, "");
        EXPECT_EQ(watcher.snapshot.comments, "");
        EXPECT_EQ(watcher.snapshot.path, folder + c.file);
        EXPECT_EQ(watcher.snapshot.titleLook.lfWeight, FW_BOLD);
        FreeLibrary(probe);
    }
}

TEST_F(AboutBoxTest, FileManagerSelectsTheProgramWhateverItsFolderIsCalled) {
    // A comma ends the path for the file manager, unless the path is quoted.
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string id = std::to_string(GetCurrentProcessId());
    const std::string folder = std::string(temp) + "tonflux, about " + id;
    const std::string program = folder + "\\version_probe_none.dll";
    const std::string record = std::string(temp) + "tonflux-explorer-" + id + ".txt";
    std::string tests = ProgramPath();
    tests.resize(tests.rfind('\\') + 1);
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((tests + "version_probe_none.dll").c_str(), program.c_str(), FALSE));
    DeleteFileA(record.c_str());
    SetEnvironmentVariableA("TONFLUX_EXPLORER_RECORD", record.c_str());
    Open();
    HMODULE probe = LoadLibraryA(program.c_str());
    ASSERT_NE(probe, nullptr);
    const HINSTANCE own = AppInstance;
    AppInstance = probe;  // the About box takes the probe for the program file
    {
        AboutWatcher watcher;  // hooked first, so it acts after the driver
        watcher.closeOnceBuilt = true;
        DialogDriver driver;
        driver.boxButtons = {IDC_ABOUT_SHOW_PROGRAM};
        SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
        EXPECT_EQ(driver.seen.size(), 1u) << "the About box and no error";
    }
    AppInstance = own;
    FreeLibrary(probe);

    // The file manager runs on its own; give it time enough for any loaded machine.
    for (int i = 0; i < 600 && GetFileAttributesA(record.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    std::string line(1024, '\0');
    HANDLE file = CreateFileA(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "the file manager was not started";
    DWORD read = 0;
    ReadFile(file, &line[0], DWORD(line.size()), &read, nullptr);
    CloseHandle(file);
    line.resize(read);
    const std::string parameters = " /e, /select, \"" + program + "\"";
    ASSERT_GE(line.size(), parameters.size());
    EXPECT_EQ(line.substr(line.size() - parameters.size()), parameters) << line;

    SetEnvironmentVariableA("TONFLUX_EXPLORER_RECORD", nullptr);
    DeleteFileA(record.c_str());
    DeleteFileA(program.c_str());
    RemoveDirectoryA(folder.c_str());
}
