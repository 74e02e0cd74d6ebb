#include "ui/AboutBox.h"

#include <string>

#include "res/resource.h"
#include "ui/Settings.h"
#include "win/Globals.h"
#include "win/Messages.h"

FontHandle AboutTitleFont;

namespace {

// Always NUL-terminated, even when the path was cut (older systems leave it open then).
void GetProgramPath(char (&path)[MAX_PATH]) {
    if (GetModuleFileNameA(AppInstance, path, MAX_PATH) == 0) path[0] = '\0';
    path[MAX_PATH - 1] = '\0';
}

// Each value goes into the control whose id is that of the string holding its key. A missing
// key leaves its control empty.
void ShowVersionTexts(HWND box, const char* programPath) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(programPath, &ignored);
    if (size == 0) return;
    const GlobalMemory memory(size);
    void* block = memory.Get();
    if (block == nullptr) return;
    if (GetFileVersionInfoA(programPath, 0, size, block) == 1) {
        const UINT ids[] = {IDS_KEY_FILE_DESCRIPTION, IDS_KEY_LEGAL_COPYRIGHT, IDS_KEY_COMMENTS};
        for (UINT id : ids) {
            char key[MAX_PATH] = "";
            LoadStringA(AppInstance, id, key, MAX_PATH);
            char query[sizeof "\\StringFileInfo\\041104b0\\" + MAX_PATH] =
                "\\StringFileInfo\\041104b0\\";
            lstrcatA(query, key);
            void* value = nullptr;
            UINT length = 0;
            if (VerQueryValueA(block, query, &value, &length) && value != nullptr && length > 0) {
                SetDlgItemTextA(box, static_cast<int>(id), static_cast<const char*>(value));
            }
        }
    }
}

void MakeTitleBold(HWND box) {
    HFONT font =
        reinterpret_cast<HFONT>(SendDlgItemMessageA(box, IDC_ABOUT_DESCRIPTION, WM_GETFONT, 0, 0));
    LOGFONTA description = {};
    if (font == nullptr || GetObjectA(font, sizeof description, &description) == 0) {
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    }
    // 16 pixels on a screen of 96 dots per inch, and as large on any other.
    HDC screen = GetDC(nullptr);
    description.lfHeight = MulDiv(16, GetDeviceCaps(screen, LOGPIXELSY), 96);
    ReleaseDC(nullptr, screen);
    description.lfWeight = FW_BOLD;
    AboutTitleFont.Reset(CreateFontIndirectA(&description));
    SendDlgItemMessageA(box, IDC_ABOUT_DESCRIPTION, WM_SETFONT,
                        reinterpret_cast<WPARAM>(AboutTitleFont.Get()), FALSE);
}

void InitAboutBox(HWND box) {
    char programPath[MAX_PATH];
    GetProgramPath(programPath);
    SetDlgItemTextA(box, IDC_ABOUT_PROGRAM_PATH, programPath);
    std::string text;
    LoadResourceString(text, IDS_CONTACT_EMAIL);
    SetDlgItemTextA(box, IDC_ABOUT_EMAIL, text.c_str());
    LoadResourceString(text, IDS_CONTACT_WEB);
    SetDlgItemTextA(box, IDC_ABOUT_WEB, text.c_str());
    ShowVersionTexts(box, programPath);
    MakeTitleBold(box);
}

void SendMail(HWND box) {
    std::string address;
    LoadResourceString(address, IDS_CONTACT_EMAIL);
    OpenWithShell(box, ("mailto:" + address).c_str());
}

void VisitWebPage(HWND box) {
    std::string question;
    std::string title;
    LoadResourceString(question, IDS_CONFIRM_WEB);
    LoadResourceString(title, IDS_CONFIRM_TITLE);
    if (MessageBoxA(box, question.c_str(), title.c_str(), MB_ICONQUESTION | MB_YESNO) != IDYES) {
        return;
    }
    std::string address;
    LoadResourceString(address, IDS_CONTACT_WEB);
    OpenWithShell(box, address.c_str());
}

void ShowInFileManager(HWND box) {
    char programPath[MAX_PATH];
    GetProgramPath(programPath);
    // Quoted: a comma in a folder's name would end the path for the file manager.
    const std::string parameters = std::string("/e, /select, \"") + programPath + "\"";
    OpenWithShell(box, "Explorer", parameters.c_str());
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitAboutBox(box);
            return TRUE;  // focus to the first tab stop, the OK button
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    EndDialog(box, 0);
                    break;
                case IDC_ABOUT_EMAIL:
                    SendMail(box);
                    break;
                case IDC_ABOUT_WEB:
                    VisitWebPage(box);
                    break;
                case IDC_ABOUT_SHOW_PROGRAM:
                    ShowInFileManager(box);
                    break;
                default:
                    break;
            }
            return FALSE;
        case WM_DESTROY:
            AboutTitleFont.Reset();
            return FALSE;
        default:
            return FALSE;
    }
}

void OpenHelpFile(HWND owner) {
    char path[MAX_PATH];
    if (!GetModuleDirectory(path) || !AppendFileName(path, "tonflux.html")) {
        ReportSystemError(owner, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    OpenWithShell(owner, path);
}
