#include "ui/MainDialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <string>

#include "core/ByteBuffer.h"
#include "core/ConversionOptions.h"
#include "job/ConvertFile.h"
#include "res/resource.h"
#include "ui/AboutBox.h"
#include "ui/Settings.h"
#include "win/FileDialog.h"
#include "win/Globals.h"
#include "win/Messages.h"

DWORD OpenFilterIndex = 1;

namespace {

void SetLargeIcon(HWND dialog) {
    HICON icon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_TONFLUX));
#ifdef _WIN64
    SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
#else
    SetClassLongA(dialog, GCL_HICON, reinterpret_cast<LONG>(icon));
#endif
}

void InitMainDialog(HWND dialog) {
    SetLargeIcon(dialog);
    SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE_SPIN, UDM_SETRANGE, 0,
                        MAKELPARAM(MaxBufferKilobytes, MinBufferKilobytes));
    LoadSettings(dialog);
}

void RestoreDefaults(HWND dialog) {
    const ConversionOptions defaults;
    SetDlgItemInt(dialog, IDC_BUFFER_SIZE, DefaultBufferKilobytes, FALSE);
    CheckDlgButton(dialog, IDC_USE_RUNNING_STATUS,
                   defaults.useRunningStatus ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OMIT_STREAM_IDS,
                   defaults.omitStreamIds ? BST_CHECKED : BST_UNCHECKED);
}

void OpenAndConvert(HWND dialog) {
    if (!ValidateBufferSizeField()) return;
    ByteBuffer filter;
    if (!LoadFilterString(filter, IDS_OPEN_FILTER)) return;
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialogData = FileDialogData(dialog, filter, OpenFilterIndex, path, "mid",
                                              OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    if (GetOpenFileNameA(&dialogData)) ConvertFile(dialog, path);
    // Kept even when cancelled: the user's last choice of filter is what the next dialog shows.
    OpenFilterIndex = dialogData.nFilterIndex;
}

void ConvertDroppedFile(HWND dialog, HDROP drop) {
    SetForegroundWindow(dialog);
    // A name longer than the buffer would arrive cut short and could name another file.
    UINT length = DragQueryFileA(drop, 0, nullptr, 0);
    char path[MAX_PATH] = "";
    if (length > 0 && length < MAX_PATH) DragQueryFileA(drop, 0, path, MAX_PATH);
    DragFinish(drop);
    // The way back takes no buffer size, so a MIDI stream file converts whatever the field holds.
    if (!IsMdsFile(path) && !ValidateBufferSizeField()) return;
    if (length >= MAX_PATH) {
        ReportSystemError(dialog, ERROR_FILENAME_EXCED_RANGE);
    } else if (path[0] != '\0') {
        ConvertFile(dialog, path);
    }
}

void OnCommand(HWND dialog, WORD id) {
    switch (id) {
        case IDC_RESTORE_DEFAULTS:
            RestoreDefaults(dialog);
            break;
        case IDM_EXIT:
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            break;
        case IDM_CONVERT:
            OpenAndConvert(dialog);
            break;
        case IDM_HELP_CONTENTS:
            OpenHelpFile(dialog);
            break;
        case IDM_ABOUT:
            DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0);
            break;
        default:  // IDCANCEL among them: Esc must not close the window
            break;
    }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitMainDialog(dialog);
            return TRUE;  // the system then focuses the first tab stop
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam));
            return TRUE;
        case WM_EXITSIZEMOVE:
            TrackWindowPosition(dialog);
            return TRUE;
        case WM_DROPFILES:
            ConvertDroppedFile(dialog, reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_CLOSE:
            SaveSettings(dialog);
            DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
    }
}

bool ValidateBufferSizeField() {
    // A field without a number reads as 0 and is refused with the rest.
    UINT kilobytes = GetDlgItemInt(MainWindow, IDC_BUFFER_SIZE, nullptr, FALSE);
    if (IsValidBufferKilobytes(kilobytes)) return true;
    std::string title;
    std::string text;
    LoadResourceString(title, IDS_WARNING_TITLE);
    LoadResourceString(text, IDS_BAD_BUFFER_SIZE);
    MessageBoxA(MainWindow, text.c_str(), title.c_str(), MB_ICONWARNING);
    SetFocus(GetDlgItem(MainWindow, IDC_BUFFER_SIZE));
    return false;
}
