#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "res/resource.h"
#include "tests/win/MainDialogFixture.h"
#include "tests/win/support/DialogDriver.h"
#include "ui/Settings.h"
#include "win/Globals.h"
#include "win/Messages.h"

namespace {

const char ChildTest[] = "ProgramFolderTest.SettingsAndHelpFollowTheFolderLength";

std::wstring OwnPath() {
    wchar_t path[4096] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, 4096);
    return std::wstring(path, length);
}

std::string Narrow(const std::wstring& wide) {
    std::string text(wide.size() * 2 + 1, '\0');
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), &text[0],
                                     int(text.size()), nullptr, nullptr);
    text.resize(length);
    return text;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

using ProgramFolderTest = MainDialogTest;

// Runs wherever this program lies: in the build tree directly, and from the long folders that
// the next test copies it into, under the name tonflux.exe.
TEST_F(ProgramFolderTest, SettingsAndHelpFollowTheFolderLength) {
    const std::wstring program = OwnPath();
    const size_t folderLength = program.rfind(L'\\');
    const std::wstring settingsFile = program.substr(0, folderLength) + L"\\tonflux.ini";
    const bool hadSettings = Exists(settingsFile);
    // The program's own path must fit before anything beside it can be found.
    const bool programFits = program.size() < MAX_PATH;
    const bool settingsFit = programFits && settingsFile.size() < MAX_PATH;
    const bool helpFits = programFits && folderLength + 13 < MAX_PATH;
    SCOPED_TRACE("program folder of " + std::to_string(folderLength) + " characters");

    char settings[MAX_PATH + 16];
    memset(settings, '#', sizeof settings);
    EXPECT_EQ(GetSettingsPath(settings), settingsFit);
    EXPECT_EQ(std::string(settings), settingsFit ? Narrow(settingsFile) : "");
    EXPECT_EQ(std::string(settings + MAX_PATH, 16), std::string(16, '#'));

    lstrcpyA(SettingsPath, settings);
    Open();
    SetFieldText("21");
    DialogDriver driver;
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    std::string expected;
    FormatSystemError(expected, helpFits ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].title, Ansi("エラー"));
    EXPECT_EQ(driver.MessageBoxes()[0].text, expected);
    Close();
    EXPECT_EQ(Exists(settingsFile), settingsFit || hadSettings);
    EXPECT_EQ(GetProfileIntA("Main", "StreamBufferSize", -1), UINT(-1));
    if (!hadSettings) DeleteFileW(settingsFile.c_str());
}

TEST(ProgramFolder, LongFoldersKeepEveryPathInsideItsBuffer) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base =
        std::wstring(temp) + L"tonflux-long-" + std::to_wstring(GetCurrentProcessId());
    // 240: every path fits. 247: the settings path just fits, the help path does not. A program
    // path past MAX_PATH cannot be started from here (Wine refuses it); tools/blackbox.sh starts
    // tonflux.exe from such a folder.
    for (size_t folderLength : {240u, 247u}) {
        SCOPED_TRACE("program folder of " + std::to_string(folderLength) + " characters");
        std::wstring folder = base;
        std::vector<std::wstring> made;
        CreateDirectoryW(folder.c_str(), nullptr);
        made.push_back(folder);
        while (folder.size() < folderLength) {
            size_t part = std::min<size_t>(100, folderLength - folder.size() - 1);
            ASSERT_GT(part, 0u);
            folder += L"\\" + std::wstring(part, L'd');
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                        GetLastError() == ERROR_ALREADY_EXISTS);
            made.push_back(folder);
        }
        ASSERT_EQ(folder.size(), folderLength);
        const std::wstring program = folder + L"\\tonflux.exe";
        ASSERT_TRUE(CopyFileW(OwnPath().c_str(), program.c_str(), FALSE));

        std::wstring commandLine = L"\"" + program + L"\" --gtest_filter=" +
                                   std::wstring(ChildTest, ChildTest + sizeof ChildTest - 1);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &process))
            << GetLastError();
        WaitForSingleObject(process.hProcess, 60000);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(exitCode, 0u) << "the copy's own test failed; its output is above";

        DeleteFileW(program.c_str());
        DeleteFileW((folder + L"\\tonflux.ini").c_str());
        for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
    }
}
