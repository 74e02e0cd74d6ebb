#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include "res/resource.h"
#include "tests/win/MainDialogFixture.h"
#include "ui/Settings.h"
#include "win/Globals.h"

using SettingsTest = MainDialogTest;

TEST_F(SettingsTest, FirstRunShowsTheDefaults) {
    Open();
    EXPECT_EQ(FieldText(), "4");
    EXPECT_TRUE(IsChecked(IDC_USE_RUNNING_STATUS));
    EXPECT_FALSE(IsChecked(IDC_OMIT_STREAM_IDS));
    EXPECT_EQ(Position().x, 0);
    EXPECT_EQ(Position().y, 0);
    EXPECT_FALSE(SettingsFileExists()) << "read once, written only on closing";
}

TEST_F(SettingsTest, StoredValuesAreLimitedOnReading) {
    struct Case {
        const char* bufferSize;
        const char* runningStatus;
        const char* omitIds;
        const char* shownSize;
        bool runningStatusChecked;
        bool omitIdsChecked;
    };
    const Case cases[] = {
        {"0", "1", "0", "1", true, false},
        {"100", "1", "0", "63", true, false},
        {"-5", "1", "0", "63", true, false},  // taken as unsigned, so far above 63
        {"17", "2", "1", "17", false, true},  // only exactly 1 checks a box
        {"63", "0", "-1", "63", false, false},
        {"1", "x", "1x", "1", false, true},      // the number at the start of the value counts
        {"abc", "no", "no", "1", false, false},  // not a number reads as 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bufferSize) + " / " + c.runningStatus + " / " + c.omitIds);
        WriteSetting("StreamBufferSize", c.bufferSize);
        WriteSetting("UseRunningStatus", c.runningStatus);
        WriteSetting("CompressStreamID", c.omitIds);
        Open();
        EXPECT_EQ(FieldText(), c.shownSize);
        EXPECT_EQ(IsChecked(IDC_USE_RUNNING_STATUS), c.runningStatusChecked);
        EXPECT_EQ(IsChecked(IDC_OMIT_STREAM_IDS), c.omitIdsChecked);
        DestroyWindow(MainWindow);
    }
}

TEST_F(SettingsTest, NegativePositionIsKeptAndWrittenBack) {
    WriteSetting("Left", "-20");
    WriteSetting("Top", "35");
    Open();
    EXPECT_EQ(Position().x, -20);
    EXPECT_EQ(Position().y, 35);
    Close();
    EXPECT_EQ(ReadSetting("Left"), "-20");
    EXPECT_EQ(ReadSetting("Top"), "35");
}

TEST_F(SettingsTest, ClosingWritesTheFieldWithinLimits) {
    struct Case {
        const char* field;
        const char* written;
    };
    const Case cases[] = {{"", "4"}, {"0", "1"}, {"64", "63"}, {"12", "12"}, {"99999", "63"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("field \"") + c.field + "\"");
        Open();
        SetFieldText(c.field);
        CheckDlgButton(MainWindow, IDC_USE_RUNNING_STATUS, BST_UNCHECKED);
        CheckDlgButton(MainWindow, IDC_OMIT_STREAM_IDS, BST_CHECKED);
        Close();
        EXPECT_EQ(ReadSetting("StreamBufferSize"), c.written);
        EXPECT_EQ(ReadSetting("UseRunningStatus"), "0");
        EXPECT_EQ(ReadSetting("CompressStreamID"), "1");
    }
}

TEST_F(SettingsTest, ClosingWhileMinimizedKeepsThePositionBefore) {
    Open();
    SetWindowPos(MainWindow, nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(MainWindow, WM_EXITSIZEMOVE, 0, 0);
    ShowWindow(MainWindow, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(MainWindow));
    SendMessageA(MainWindow, WM_EXITSIZEMOVE, 0, 0);
    Close();
    EXPECT_EQ(ReadSetting("Left"), "120");
    EXPECT_EQ(ReadSetting("Top"), "80");
}

TEST_F(SettingsTest, ExitItemClosesAndWritesLikeTheCloseBox) {
    Open();
    SetFieldText("9");
    SendMessageA(MainWindow, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(MainWindow));
    EXPECT_EQ(ReadSetting("StreamBufferSize"), "9");
    MSG quit = {};
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(SettingsTest, RestoreDefaultsLeavesTheFileAlone) {
    WriteSetting("StreamBufferSize", "30");
    WriteSetting("UseRunningStatus", "0");
    WriteSetting("CompressStreamID", "1");
    Open();
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(IDC_RESTORE_DEFAULTS, BN_CLICKED), 0);
    EXPECT_EQ(FieldText(), "4");
    EXPECT_TRUE(IsChecked(IDC_USE_RUNNING_STATUS));
    EXPECT_FALSE(IsChecked(IDC_OMIT_STREAM_IDS));
    EXPECT_EQ(ReadSetting("StreamBufferSize"), "30");
    Close();
    EXPECT_EQ(ReadSetting("StreamBufferSize"), "4");
    EXPECT_EQ(ReadSetting("UseRunningStatus"), "1");
    EXPECT_EQ(ReadSetting("CompressStreamID"), "0");
}

TEST_F(SettingsTest, WithoutASettingsPathTheDefaultsStandAndNothingIsWritten) {
    WriteSetting("StreamBufferSize", "30");
    SettingsPath[0] = '\0';  // what a program folder too long for "\tonflux.ini" leaves
    Open();
    EXPECT_EQ(FieldText(), "4");
    SetFieldText("12");
    Close();
    // An empty file name would have sent the profile functions to WIN.INI.
    EXPECT_EQ(GetProfileIntA("Main", "StreamBufferSize", -1), UINT(-1));
}

TEST(AppendFileName, NeverWritesPastThePathBuffer) {
    struct Case {
        size_t directoryLength;
        const char* fileName;
        bool fits;
    };
    const Case cases[] = {
        {240, "tonflux.html", true},  // 253 characters
        {246, "tonflux.html", true},  // 259, the longest path there is
        {247, "tonflux.html", false}, {247, "tonflux.ini", true},
        {248, "tonflux.ini", false},  {259, "tonflux.ini", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.directoryLength) + " + " + c.fileName);
        // Guard bytes after the buffer show any write past its end.
        char storage[MAX_PATH + 16];
        memset(storage, '#', sizeof storage);
        std::string directory = "C:" + std::string(c.directoryLength - 2, 'd');
        lstrcpyA(storage, directory.c_str());
        EXPECT_EQ(AppendFileName(storage, c.fileName), c.fits);
        EXPECT_EQ(std::string(storage), c.fits ? directory + "\\" + c.fileName : directory);
        EXPECT_EQ(std::string(storage + MAX_PATH, 16), std::string(16, '#'));
    }
}

TEST(AppendFileName, ProgramInADriveRootFindsItsFileThere) {
    char path[MAX_PATH] = "C:";
    ASSERT_TRUE(AppendFileName(path, "tonflux.ini"));
    EXPECT_STREQ(path, "C:\\tonflux.ini");
}

TEST(GetSettingsPath, IsBesideTheProgram) {
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string expected(program);
    expected = expected.substr(0, expected.rfind('\\')) + "\\tonflux.ini";
    char path[MAX_PATH] = "";
    ASSERT_TRUE(GetSettingsPath(path));
    EXPECT_EQ(std::string(path), expected);
}
