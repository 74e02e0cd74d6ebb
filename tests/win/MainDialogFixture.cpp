#include "tests/win/MainDialogFixture.h"

#include <commctrl.h>

#include "res/resource.h"
#include "ui/MainDialog.h"
#include "ui/Settings.h"
#include "win/Globals.h"

void MainDialogTest::SetUp() {
    InitCommonControls();
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    folder = std::string(temp) + "tonflux-shell-" +
             testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
             std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    lstrcpyA(SettingsPath, (folder + "\\tonflux.ini").c_str());
    OpenFilterIndex = 1;
    MainWindow = nullptr;
}

void MainDialogTest::TearDown() {
    if (MainWindow != nullptr && IsWindow(MainWindow)) DestroyWindow(MainWindow);
    MainWindow = nullptr;
    // WM_DESTROY left a WM_QUIT behind; a later message box would return at once on it.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

void MainDialogTest::Open() {
    MainWindow = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(),
                                    MainDialogProc, 0);
    ASSERT_NE(MainWindow, nullptr);
}

void MainDialogTest::Close() {
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(MainWindow));
    MainWindow = nullptr;
}

void MainDialogTest::WriteSetting(const char* key, const char* value) {
    WritePrivateProfileStringA("Main", key, value, SettingsPath);
}

std::string MainDialogTest::ReadSetting(const char* key) {
    char value[64] = "";
    GetPrivateProfileStringA("Main", key, "<missing>", value, sizeof value, SettingsPath);
    return value;
}

bool MainDialogTest::SettingsFileExists() {
    return GetFileAttributesA(SettingsPath) != INVALID_FILE_ATTRIBUTES;
}

std::string MainDialogTest::FieldText() {
    char text[32] = "";
    GetDlgItemTextA(MainWindow, IDC_BUFFER_SIZE, text, sizeof text);
    return text;
}

void MainDialogTest::SetFieldText(const char* text) {
    SetDlgItemTextA(MainWindow, IDC_BUFFER_SIZE, text);
}

bool MainDialogTest::IsChecked(int id) {
    return IsDlgButtonChecked(MainWindow, id) == BST_CHECKED;
}

POINT MainDialogTest::Position() {
    RECT rect = {};
    GetWindowRect(MainWindow, &rect);
    return {rect.left, rect.top};
}

std::string MainDialogTest::MakeFile(const char* name, const std::string& content) {
    std::string path = folder + "\\" + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}
