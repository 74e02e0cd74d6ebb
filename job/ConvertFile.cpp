#include "job/ConvertFile.h"

#include <cstddef>
#include <cstring>
#include <string>

#include <commdlg.h>

#include "core/ByteBuffer.h"
#include "core/Conversion.h"
#include "core/MdsWriter.h"
#include "core/Song.h"
#include "core/StreamBlocks.h"
#include "res/resource.h"
#include "ui/Globals.h"
#include "ui/Messages.h"
#include "ui/WaitCursor.h"

namespace {

// The version 4 structure size: every Windows accepts it, and shows the same dialog for it.
static_assert(sizeof(void*) != 4 || offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the 32-bit save dialog structure is 76 bytes");

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    virtual ~FileHandle() {
        if (IsOpen()) CloseHandle(handle);
    }
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle; }

private:
    HANDLE handle;
};

// The leading text that names a file in front of a system error text.
std::string QuotedPath(const char* path) {
    return "'" + std::string(path) + "'\n\n";
}

void ReportOutOfMemory(HWND owner, const char* path) {
    ReportSystemError(owner, ERROR_NOT_ENOUGH_MEMORY, QuotedPath(path).c_str());
}

void ShowError(HWND owner, const std::string& text) {
    std::string title;
    LoadResourceString(title, IDS_ERROR_TITLE);
    MessageBoxA(owner, text.c_str(), title.c_str(), MB_ICONERROR);
}

// False once it has shown its message. A file of 4 GB or more cannot be held as one image, which
// is running out of memory as far as the user is concerned.
bool ReadWholeFile(HWND owner, const char* path, const FileHandle& input, ByteBuffer& image) {
    DWORD high = 0;
    const DWORD size = GetFileSize(input.Get(), &high);
    if (size == INVALID_FILE_SIZE) {
        const DWORD error = GetLastError();
        if (error != NO_ERROR) {
            ReportSystemError(owner, error);
            return false;
        }
    }
    if (high != 0 || !image.Resize(size)) {
        ReportOutOfMemory(owner, path);
        return false;
    }
    DWORD read = 0;
    if (!ReadFile(input.Get(), image.Data(), size, &read, nullptr)) {
        ReportSystemError(owner, GetLastError());
        return false;
    }
    image.Resize(read);  // shrinking never fails
    return true;
}

ConversionOptions ReadOptions() {
    ConversionOptions options;
    const UINT kilobytes = GetDlgItemInt(MainWindow, IDC_BUFFER_SIZE, nullptr, FALSE);
    options.maxBufferBytes = kilobytes * 1024;
    options.useRunningStatus =
        IsDlgButtonChecked(MainWindow, IDC_USE_RUNNING_STATUS) == BST_CHECKED;
    options.omitStreamIds = IsDlgButtonChecked(MainWindow, IDC_OMIT_STREAM_IDS) == BST_CHECKED;
    return options;
}

}  // namespace

void ConvertFile(HWND owner, const char* path) {
    WaitCursor wait;

    FileHandle input(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input.IsOpen()) {
        const DWORD error = GetLastError();
        ReportSystemError(owner, error, QuotedPath(path).c_str());
        return;
    }
    ByteBuffer image;
    if (!ReadWholeFile(owner, path, input, image)) return;

    Song song;
    ByteBuffer title;
    ByteBuffer copyright;
    const PrepareResult prepared = PrepareSong(image.Data(), image.Size(), song, title, copyright);
    // The song holds its own copy of every event: the image is only weight from here on.
    image.Clear();
    if (prepared == PrepareResult::OutOfMemory) {
        song.Reset();  // the message box needs memory of its own
        ReportOutOfMemory(owner, path);
        return;
    }
    if (prepared != PrepareResult::Ok) {
        std::string text;
        LoadResourceString(text, IDS_NOT_SMF);
        ShowError(owner, "'" + std::string(path) + "'\n" + text);
        return;
    }

    const ConversionOptions options = ReadOptions();
    StreamBlockList blocks;
    const BuildResult built = BuildStreamBlocks(*song.FirstTrack(), options, blocks);
    if (built == BuildResult::OutOfMemory) {
        blocks.Clear();  // the message box needs memory of its own
        song.Reset();
        ReportOutOfMemory(owner, path);
        return;
    }
    if (built != BuildResult::Ok) {
        std::string text;
        LoadResourceString(text, IDS_SYSEX_TOO_LARGE);
        ShowError(MainWindow, text);
        SetFocus(GetDlgItem(MainWindow, IDC_BUFFER_SIZE));
        return;
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
    if (GetSaveFileNameA(&dialog)) {
        WaitCursor writing;
        const WriteResult written =
            WriteMdsFile(output, song.Division(), options, blocks, title, copyright);
        if (!written.ok) {
            if (written.errorCode == ERROR_NOT_ENOUGH_MEMORY ||
                written.errorCode == ERROR_OUTOFMEMORY) {
                ReportOutOfMemory(owner, path);
            } else {
                // A failure without a code must still not pass for success.
                const DWORD error = written.errorCode != 0 ? written.errorCode : ERROR_WRITE_FAULT;
                ReportSystemError(owner, error, QuotedPath(output).c_str());
            }
        }
    }
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
