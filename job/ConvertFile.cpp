#include "job/ConvertFile.h"

#include <cstddef>
#include <cstring>
#include <string>

#include <commdlg.h>

#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "res/resource.h"
#include "win/Globals.h"
#include "win/Messages.h"
#include "win/Text.h"
#include "win/WaitCursor.h"

namespace {

// The version 4 structure size: every Windows accepts it, and shows the same dialog for it.
static_assert(sizeof(void*) != 4 || offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the 32-bit save dialog structure is 76 bytes");

// The leading text that names a file in front of a system error text.
std::string QuotedPath(const char* path) {
    return "'" + std::string(path) + "'\n\n";
}

void ReportOutOfMemory(HWND owner, const char* path) {
    ReportSystemError(owner, ERROR_NOT_ENOUGH_MEMORY, QuotedPath(path).c_str());
}

bool IsOutOfMemory(DWORD code) {
    return code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY;
}

void ShowError(HWND owner, const std::string& text) {
    std::string title;
    LoadResourceString(title, IDS_ERROR_TITLE);
    MessageBoxA(owner, text.c_str(), title.c_str(), MB_ICONERROR);
}

void ShowNotSmf(HWND owner, const char* path) {
    std::string text;
    LoadResourceString(text, IDS_NOT_SMF);
    ShowError(owner, "'" + std::string(path) + "'\n" + text);
}

// The file's image, or false once the message is shown: the quoted path and the reason when the
// file cannot be opened or held in memory (a file of 4 GB or more gets the system's text for a
// file too large), the reason alone when it cannot be measured or read.
bool ReadInput(HWND owner, const char* path, ByteBuffer& image) {
    std::string utf8;
    if (!Utf8FromAnsi(path, utf8)) {
        ReportOutOfMemory(owner, path);
        return false;
    }
    const FileSystem::ReadResult read = FileSystem::ReadWholeFile(utf8.c_str(), image);
    switch (read.failed) {
        case FileSystem::ReadResult::Done:
            return true;
        case FileSystem::ReadResult::Open:
            ReportSystemError(owner, read.errorCode, QuotedPath(path).c_str());
            return false;
        case FileSystem::ReadResult::Allocate:
            ReportSystemError(owner, read.errorCode != 0 ? read.errorCode : ERROR_NOT_ENOUGH_MEMORY,
                              QuotedPath(path).c_str());
            return false;
        case FileSystem::ReadResult::NotAFile:  // a device or a pipe: no file of any format
            ShowNotSmf(owner, path);
            return false;
        case FileSystem::ReadResult::Size:
        case FileSystem::ReadResult::Read:
            break;
    }
    ReportSystemError(owner, read.errorCode);
    return false;
}

ConversionOptions ReadOptions() {
    const UINT kilobytes = GetDlgItemInt(MainWindow, IDC_BUFFER_SIZE, nullptr, FALSE);
    return MakeConversionOptions(
        kilobytes, IsDlgButtonChecked(MainWindow, IDC_USE_RUNNING_STATUS) == BST_CHECKED,
        IsDlgButtonChecked(MainWindow, IDC_OMIT_STREAM_IDS) == BST_CHECKED);
}

// The save dialog accepts any existing file, the input too, and the write would then replace the
// song with its own conversion. Files are compared, not names, so that another spelling, a short
// name or a link is caught too; when that cannot be known, nothing is written either. True once
// the refusal is shown.
bool RefuseOutputOverInput(HWND owner, const char* input, const char* output) {
    std::string inputUtf8;
    std::string outputUtf8;
    bool outOfMemory = true;
    const bool same = Utf8FromAnsi(input, inputUtf8) && Utf8FromAnsi(output, outputUtf8) &&
                      FileSystem::IsSameFile(inputUtf8.c_str(), outputUtf8.c_str(), outOfMemory);
    if (outOfMemory) {
        ReportOutOfMemory(owner, output);
        return true;
    }
    if (!same) return false;
    std::string text;
    LoadResourceString(text, IDS_OUTPUT_IS_INPUT);
    ShowError(owner, "'" + std::string(output) + "'\n" + text);
    return true;
}

// Writes song to output, the path the save dialog gave; every failure names that file.
void WriteOutput(HWND owner, const char* output, const ConvertedSong& song) {
    WaitCursor writing;
    std::string utf8;
    const WriteResult written = Utf8FromAnsi(output, utf8)
                                    ? WriteConvertedSong(utf8.c_str(), song)
                                    : WriteResult{false, ERROR_NOT_ENOUGH_MEMORY};
    if (written.ok) return;
    if (IsOutOfMemory(written.errorCode)) {
        ReportOutOfMemory(owner, output);
        return;
    }
    // A failure without a code must still not pass for success.
    const DWORD error = written.errorCode != 0 ? written.errorCode : ERROR_WRITE_FAULT;
    ReportSystemError(owner, error, QuotedPath(output).c_str());
}

}  // namespace

void ConvertFile(HWND owner, const char* path) {
    WaitCursor wait;
    ConvertedSong song;
    {
        ByteBuffer image;  // the conversion releases it as soon as the song is read
        if (!ReadInput(owner, path, image)) return;
        switch (ConvertSmf(image, ReadOptions(), song)) {
            case ConversionStatus::Ok:
                break;
            case ConversionStatus::NotSmf:
                ShowNotSmf(owner, path);
                return;
            case ConversionStatus::EventTooLarge: {
                std::string text;
                LoadResourceString(text, IDS_SYSEX_TOO_LARGE);
                ShowError(MainWindow, text);
                SetFocus(GetDlgItem(MainWindow, IDC_BUFFER_SIZE));
                return;
            }
            case ConversionStatus::OutOfMemory:
                ReportOutOfMemory(owner, path);
                return;
        }
    }

    ByteBuffer filter;
    if (!LoadFilterString(filter, IDS_SAVE_FILTER)) return;
    char output[MAX_PATH];
    ProposeBaseName(path, output, sizeof output);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.hInstance = AppInstance;
    dialog.lpstrFilter = reinterpret_cast<const char*>(filter.Data());
    dialog.nFilterIndex = SaveFilterIndex;
    dialog.lpstrFile = output;
    dialog.nMaxFile = sizeof output;
    dialog.lpstrDefExt = "mds";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (GetSaveFileNameA(&dialog) && !RefuseOutputOverInput(owner, path, output))
        WriteOutput(owner, output, song);
    SaveFilterIndex = dialog.nFilterIndex;
}

void ProposeBaseName(const char* path, char* name, size_t capacity) {
    if (capacity == 0) return;
    const char* start = path;
    const char* dot = nullptr;
    const char* p = path;
    while (*p != '\0') {
        if (*p == '\\' || *p == '/' || *p == ':') {
            start = p + 1;
            dot = nullptr;
        } else if (*p == '.') {
            dot = p;
        }
        p = CharNextA(p);
    }
    const char* end = dot != nullptr ? dot : p;
    size_t length = size_t(end - start);
    if (length > capacity - 1) length = capacity - 1;
    memcpy(name, start, length);
    name[length] = '\0';
}
