#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include "res/resource.h"
#include "tests/win/LongStrings.h"
#include "tests/win/support/DialogDriver.h"
#include "win/Messages.h"

namespace {

std::string LongText(size_t n) {
    const std::string base = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text;
    while (text.size() < n) text += base;
    return text.substr(0, n);
}

// A plain top-level window to own the boxes, as the main dialog does in the program.
class OwnerWindow {
public:
    OwnerWindow() {
        window = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    }
    ~OwnerWindow() { DestroyWindow(window); }
    HWND window;
};

}  // namespace

TEST(LoadResourceString, LoadsEveryEntryOfTheRealTable) {
    struct Case {
        UINT id;
        std::string text;
    };
    const Case cases[] = {
        {IDS_UNEXPECTED_ERROR, Ansi("予期しないエラーが発生しました。")},
        {IDS_NOT_SMF,
         Ansi("このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 ではありません。")},
        {IDS_ERROR_TITLE, Ansi("エラー")},
        {IDS_OPEN_FILTER, Ansi("標準 MIDI ファイル (*.mid)\n*.mid\nすべてのファイル (*.*)\n*.*\n"
                               "MIDI ストリーム ファイル (*.mds)\n*.mds\n")},
        {IDS_SAVE_FILTER,
         Ansi("MIDI ストリーム ファイル (*.mds)\n*.mds\nすべてのファイル (*.*)\n*.*\n")},
        {IDS_BAD_BUFFER_SIZE, Ansi("ストリーム バッファの最大サイズが不正です。\n"
                                   "1KB 以上 63KB 以下にしてください。")},
        {IDS_SYSEX_TOO_LARGE, Ansi("ストリーム バッファに収まらない Sysex イベントが存在します。\n"
                                   "ストリーム バッファの最大サイズを大きくしてみてください。")},
        {IDS_WARNING_TITLE, Ansi("警告")},
        {IDS_CONTACT_EMAIL, TONFLUX_CONTACT_EMAIL},
        {IDS_CONTACT_WEB, TONFLUX_CONTACT_WEB},
        {IDS_OUTPUT_IS_INPUT,
         Ansi("出力ファイルが入力ファイルと同じファイルです。入力ファイルは置き換えません。")},
        {IDS_MIDI_SAVE_FILTER,
         Ansi("標準 MIDI ファイル (*.mid)\n*.mid\nすべてのファイル (*.*)\n*.*\n")},
        {IDS_KEY_FILE_DESCRIPTION, "FileDescription"},
        {IDS_KEY_LEGAL_COPYRIGHT, "LegalCopyright"},
        {IDS_KEY_COMMENTS, "Comments"},
        {IDS_CONFIRM_WEB, Ansi("WWW ブラウザを起動し、インターネットへの接続を試みますか？")},
        {IDS_CONFIRM_TITLE, Ansi("確認")},
    };
    ASSERT_EQ(GetACP(), 932u) << "the tests expect Wine in the Japanese locale";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        std::string text = "previous content";
        EXPECT_TRUE(LoadResourceString(text, c.id));
        EXPECT_EQ(text, c.text);
    }
}

TEST(LoadResourceString, MissingEntryLeavesAnEmptyText) {
    for (UINT id : {0u, 6u, 12u, 133u, 139u, 40003u}) {
        SCOPED_TRACE(id);
        std::string text = "previous content";
        EXPECT_FALSE(LoadResourceString(text, id));
        EXPECT_EQ(text, "");
    }
}

TEST(LoadResourceString, LongEntriesComeWholeWhateverTheirLength) {
    // 253 bytes fit the first attempt; from 254 on the count comes too close to the capacity
    // and the loop must retry, or the text is silently cut.
    const struct {
        UINT id;
        size_t length;
    } cases[] = {{IDS_TEST_LONG_253, 253},
                 {IDS_TEST_LONG_254, 254},
                 {IDS_TEST_LONG_255, 255},
                 {IDS_TEST_LONG_300, 300},
                 {IDS_TEST_LONG_600, 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text;
        EXPECT_TRUE(LoadResourceString(text, c.id));
        EXPECT_EQ(text, LongText(c.length));
    }
}

TEST(LoadFilterString, OpenFilterBecomesNulSeparatedPairs) {
    ByteBuffer filter;
    ASSERT_TRUE(LoadFilterString(filter, IDS_OPEN_FILTER));
    std::string expected = Ansi("標準 MIDI ファイル (*.mid)") + '\0' + "*.mid" + '\0' +
                           Ansi("すべてのファイル (*.*)") + '\0' + "*.*" + '\0' +
                           Ansi("MIDI ストリーム ファイル (*.mds)") + '\0' + "*.mds" + '\0' + '\0';
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(filter.Data()), filter.Size()), expected);
}

TEST(LoadFilterString, MissingEntryLeavesTheBufferAlone) {
    ByteBuffer filter;
    const uint8_t before[] = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(filter.Assign(before, sizeof before));
    EXPECT_FALSE(LoadFilterString(filter, 6));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(filter.Data()), filter.Size()), "keep");
}

TEST(FormatSystemError, GivesSystemTextFallbackOrNothing) {
    std::string text = "untouched";
    EXPECT_FALSE(FormatSystemError(text, 0));
    EXPECT_EQ(text, "untouched");

    ASSERT_TRUE(FormatSystemError(text, ERROR_FILE_NOT_FOUND));
    EXPECT_NE(text, Ansi("予期しないエラーが発生しました。"));
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "system texts keep their line break";

    // No message table knows this code.
    EXPECT_TRUE(FormatSystemError(text, 0x2000FFFF));
    EXPECT_EQ(text, Ansi("予期しないエラーが発生しました。"));
}

TEST(ReportSystemError, ShowsOneErrorBoxWithTheLeadingTextFirst) {
    OwnerWindow owner;
    std::string systemText;
    ASSERT_TRUE(FormatSystemError(systemText, ERROR_FILE_NOT_FOUND));
    struct Case {
        const char* leading;
        std::string text;
    };
    const Case cases[] = {
        {"'C:\\a.mid'\n\n", "'C:\\a.mid'\n\n" + systemText},
        {nullptr, systemText},
        {"", systemText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leading ? c.leading : "(none)");
        DialogDriver driver;
        ReportSystemError(owner.window, ERROR_FILE_NOT_FOUND, c.leading);
        std::vector<SeenWindow> boxes = driver.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, owner.window);
        EXPECT_EQ(boxes[0].title, Ansi("エラー"));
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].icon, LoadIconA(nullptr, IDI_HAND));
        EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
    }
}

TEST(ReportSystemError, CodeZeroShowsNothingEvenWithLeadingText) {
    OwnerWindow owner;
    DialogDriver driver;
    ReportSystemError(owner.window, 0, "'C:\\a.mid'\n\n");
    EXPECT_TRUE(driver.seen.empty());
}

TEST(OpenWithShell, FailureShowsTheSystemTextForTheLastError) {
    OwnerWindow owner;
    char folder[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
    const std::string missing = std::string(folder) + "tonflux-no-such-file.html";
    DeleteFileA(missing.c_str());
    const std::string unknown = std::string(folder) + "tonflux-test.tonflux-unknown-type";
    HANDLE file =
        CreateFileA(unknown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    struct Case {
        const char* what;
        std::string target;
        DWORD error;  // 0: whatever the system reports (Wine's code for this has no text)
    };
    const Case cases[] = {
        {"a missing file", missing, ERROR_FILE_NOT_FOUND},
        {"a file type without a program", unknown, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string systemText;
        FormatSystemError(systemText, c.error);
        DialogDriver driver;
        OpenWithShell(owner.window, c.target.c_str());
        std::vector<SeenWindow> boxes = driver.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, owner.window);
        EXPECT_EQ(boxes[0].title, Ansi("エラー"));
        if (c.error != 0) {
            EXPECT_EQ(boxes[0].text, systemText);
        }
        EXPECT_FALSE(boxes[0].text.empty());
        EXPECT_EQ(boxes[0].icon, LoadIconA(nullptr, IDI_HAND));
    }
    DeleteFileA(unknown.c_str());
}

TEST(ShellFailureCode, AFailureWithoutALastErrorStillHasItsReason) {
    struct Case {
        INT_PTR result;
        DWORD lastError;
        DWORD code;
    };
    const Case cases[] = {
        {SE_ERR_NOASSOC, 0, ERROR_NO_ASSOCIATION},
        {SE_ERR_ASSOCINCOMPLETE, 0, ERROR_NO_ASSOCIATION},
        {SE_ERR_FNF, 0, ERROR_FILE_NOT_FOUND},
        {SE_ERR_ACCESSDENIED, 0, ERROR_ACCESS_DENIED},
        {SE_ERR_SHARE, 0, ERROR_SHARING_VIOLATION},
        {SE_ERR_DDEBUSY, 0, ERROR_DDE_FAIL},
        {SE_ERR_DLLNOTFOUND, 0, ERROR_DLL_NOT_FOUND},
        {0, 0, ERROR_NOT_ENOUGH_MEMORY},
        {SE_ERR_NOASSOC, ERROR_BAD_EXE_FORMAT, ERROR_BAD_EXE_FORMAT},  // the system's own first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        EXPECT_EQ(ShellFailureCode(c.result, c.lastError), c.code);
    }
    // Whatever the shell answers, a failure never passes for success (code 0 shows nothing).
    for (INT_PTR result = 0; result <= 32; ++result) EXPECT_NE(ShellFailureCode(result, 0), 0u);
}
