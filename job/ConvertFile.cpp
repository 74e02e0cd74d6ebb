#include "job/ConvertFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/Conversion.h"
#include "core/FileSystem.h"
#include "core/MdsReader.h"
#include "res/resource.h"
#include "win/FileDialog.h"
#include "win/Globals.h"
#include "win/Messages.h"
#include "win/Text.h"
#include "win/WaitCursor.h"

namespace {

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

// Shows the save dialog for input's conversion, starting on the name in output, with filter (a
// string id), the filter index it keeps and extension for a name typed without one. True when the
// user confirmed a path that may be written: output then holds it.
bool AskOutputPath(HWND owner, const char* input, UINT filterId, DWORD& filterIndex,
                   const char* extension, char (&output)[MAX_PATH]) {
    ByteBuffer filter;
    if (!LoadFilterString(filter, filterId)) return false;
    OPENFILENAMEA dialog =
        FileDialogData(owner, filter, filterIndex, output, extension,
                       OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST);
    const bool confirmed = GetSaveFileNameA(&dialog) != 0;
    // Kept even when cancelled: the next dialog starts on the user's last choice.
    filterIndex = dialog.nFilterIndex;
    return confirmed && !RefuseOutputOverInput(owner, input, output);
}

WriteResult Write(const char* path, const ConvertedSong& song) {
    return WriteConvertedSong(path, song);
}
WriteResult Write(const char* path, const ConvertedMidi& midi) {
    return WriteConvertedMidi(path, midi);
}

// Writes a conversion to output, the path the save dialog gave; every failure names that file.
template <typename Converted>
void WriteOutput(HWND owner, const char* output, const Converted& converted) {
    WaitCursor writing;
    std::string utf8;
    const WriteResult written = Utf8FromAnsi(output, utf8)
                                    ? Write(utf8.c_str(), converted)
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

// The text of string id, a format with one unsigned number, filled with offset.
std::string WithOffset(UINT id, uint32_t offset) {
    std::string format;
    LoadResourceString(format, id);
    std::string text(format.size() + 16, '\0');
    const int length = snprintf(&text[0], text.size(), format.c_str(), unsigned(offset));
    text.resize(length > 0 ? std::min(size_t(length), text.size() - 1) : 0);
    return text;
}

// Why a MIDI stream file cannot become a standard MIDI file, in tonflux-convert's words.
std::string MdsRefusalText(MdsConversionStatus status, const MdsCheck& fault) {
    std::string text;
    switch (status) {
        case MdsConversionStatus::NotMds:
            LoadResourceString(text, IDS_NOT_MDS);
            return text;
        case MdsConversionStatus::Malformed:
            LoadResourceString(text, IDS_MDS_FAULT_FIRST + UINT(fault.fault));
            return WithOffset(IDS_MDS_FAULTY, fault.offset) + text;
        case MdsConversionStatus::DeltaTooLarge:
            return WithOffset(IDS_MDS_DELTA_TOO_LARGE, fault.offset);
        case MdsConversionStatus::TextTooLong:
            return WithOffset(IDS_MDS_TEXT_TOO_LONG, fault.offset);
        case MdsConversionStatus::Ok:
            break;
    }
    LoadResourceString(text, IDS_UNEXPECTED_ERROR);
    return text;
}

// The way back: the MIDI stream file in image becomes the standard MIDI file tonflux-convert
// writes for it. Of the options only running status means anything here.
void ConvertBack(HWND owner, const char* path, const ByteBuffer& image) {
    ConvertedMidi midi;  // points into image
    const bool useRunningStatus =
        IsDlgButtonChecked(MainWindow, IDC_USE_RUNNING_STATUS) == BST_CHECKED;
    const MdsConversionStatus status =
        ConvertMds(image.Data(), image.Size(), useRunningStatus, midi);
    if (status != MdsConversionStatus::Ok) {
        ShowError(owner, "'" + std::string(path) + "'\n" + MdsRefusalText(status, midi.fault));
        return;
    }
    char output[MAX_PATH];
    ProposeBaseName(path, output, sizeof output - 4);
    lstrcatA(output, ".mid");
    if (AskOutputPath(owner, path, IDS_MIDI_SAVE_FILTER, MidiSaveFilterIndex, "mid", output))
        WriteOutput(owner, output, midi);
}

}  // namespace

void ConvertFile(HWND owner, const char* path) {
    WaitCursor wait;
    ConvertedSong song;
    {
        ByteBuffer image;
        if (!ReadInput(owner, path, image)) return;
        if (IsMdsImage(image.Data(), image.Size())) {
            ConvertBack(owner, path, image);
            return;
        }
        ConversionRequest request;
        request.image = image.Data();
        request.size = image.Size();
        request.options = ReadOptions();
        switch (ConvertSmf(request, song).status) {
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
            case ConversionStatus::OutputTooLarge:
                // What saving such a file would have shown, before the save dialog asks for it.
                ReportSystemError(owner, ERROR_FILE_TOO_LARGE, QuotedPath(path).c_str());
                return;
            case ConversionStatus::OutOfMemory:
            case ConversionStatus::WriteFailed:  // kept in memory: nothing is written here
                ReportOutOfMemory(owner, path);
                return;
        }
    }

    char output[MAX_PATH];
    ProposeBaseName(path, output, sizeof output);
    if (AskOutputPath(owner, path, IDS_SAVE_FILTER, SaveFilterIndex, "mds", output))
        WriteOutput(owner, output, song);
}

bool IsMdsFile(const char* path) {
    std::string utf8;
    uint8_t head[12];
    uint32_t got = 0;
    return Utf8FromAnsi(path, utf8) &&
           FileSystem::ReadFileStart(utf8.c_str(), head, sizeof head, got).Ok() &&
           IsMdsImage(head, got);
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
