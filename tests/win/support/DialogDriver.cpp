#include "tests/win/support/DialogDriver.h"

#include <algorithm>

#include <dlgs.h>

#include "win/Globals.h"

namespace {

DialogDriver* Current = nullptr;

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool IsDialog(HWND window) {
    char name[16] = "";
    return GetClassNameA(window, name, sizeof name) > 0 && strcmp(name, "#32770") == 0;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
    SeenWindow& seen = *reinterpret_cast<SeenWindow*>(lParam);
    char name[16] = "";
    GetClassNameA(child, name, sizeof name);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    // Wine gives the icon static id 0x440, Windows another one: find it by its style.
    if (_stricmp(name, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        seen.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    } else if (_stricmp(name, "Button") == 0) {
        seen.buttons.push_back(GetDlgCtrlID(child));
    }
    return TRUE;
}

}  // namespace

std::string Ansi(const char* utf8) {
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], wideLength);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
    text.resize(length - 1);
    return text;
}

DialogDriver::DialogDriver() {
    Current = this;
    hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

DialogDriver::~DialogDriver() {
    UnhookWindowsHookEx(hook);
    Current = nullptr;
}

std::vector<SeenWindow> DialogDriver::MessageBoxes() const {
    std::vector<SeenWindow> boxes;
    for (const SeenWindow& s : seen) {
        if (!s.isFileDialog) boxes.push_back(s);
    }
    return boxes;
}

std::vector<SeenWindow> DialogDriver::FileDialogs() const {
    std::vector<SeenWindow> dialogs;
    for (const SeenWindow& s : seen) {
        if (s.isFileDialog) dialogs.push_back(s);
    }
    return dialogs;
}

LRESULT CALLBACK DialogDriver::Hook(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    // The main dialog is the program's own window, never a box to answer.
    if (Current != nullptr && IsDialog(window) && window != MainWindow) {
        // Activation comes once the box is fully built, and again whenever it gets the
        // focus back (after a nested box): answer each window once.
        std::vector<HWND>& answered = Current->answered;
        if (code == HCBT_ACTIVATE &&
            std::find(answered.begin(), answered.end(), window) == answered.end()) {
            answered.push_back(window);
            Current->Answer(window);
        } else if (code == HCBT_DESTROYWND) {
            answered.erase(std::remove(answered.begin(), answered.end(), window), answered.end());
            if (GetDlgItem(window, cmb13) != nullptr && Current->afterFileDialog) {
                Current->afterFileDialog();
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogDriver::FileDialogTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (Current != nullptr && IsWindow(Current->pendingFileDialog)) {
        Current->AnswerFileDialog(Current->pendingFileDialog);
    }
}

void DialogDriver::AnswerFileDialog(HWND window) {
    SeenWindow s;
    s.isFileDialog = true;
    s.owner = GetWindow(window, GW_OWNER);
    s.title = WindowText(window);
    s.text = WindowText(GetDlgItem(window, cmb13));
    s.filterIndex = int(SendDlgItemMessageA(window, cmb1, CB_GETCURSEL, 0, 0)) + 1;
    const int types = int(SendDlgItemMessageA(window, cmb1, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < types; ++i) {
        char type[256] = "";
        if (SendDlgItemMessageA(window, cmb1, CB_GETLBTEXTLEN, i, 0) < LRESULT(sizeof type))
            SendDlgItemMessageA(window, cmb1, CB_GETLBTEXT, i, LPARAM(type));
        s.filters.push_back(type);
    }
    seen.push_back(s);
    FileDialogAnswer answer;
    if (!fileAnswers.empty()) {
        answer = fileAnswers.front();
        fileAnswers.pop_front();
    }
    // Posted, so the dialog handles them in its own loop, in this order.
    if (answer.filterIndex > 0) {
        HWND types = GetDlgItem(window, cmb1);
        PostMessageA(types, CB_SETCURSEL, answer.filterIndex - 1, 0);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELENDOK), LPARAM(types));
    }
    int button = IDCANCEL;
    if (!answer.path.empty()) {
        SetDlgItemTextA(window, cmb13, answer.path.c_str());
        button = IDOK;
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 LPARAM(GetDlgItem(window, button)));
}

void DialogDriver::Answer(HWND window) {
    if (GetDlgItem(window, cmb13) != nullptr) {
        // The file dialog fills its file type list from messages it posts to itself while it
        // opens: look at it once those are done, when the loop first runs idle.
        pendingFileDialog = window;
        SetTimer(nullptr, 0, 10, FileDialogTimer);
        return;
    }
    SeenWindow s;
    s.owner = GetWindow(window, GW_OWNER);
    s.title = WindowText(window);
    char text[2048] = "";
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    s.text = text;
    EnumChildWindows(window, CollectChild, LPARAM(&s));
    seen.push_back(s);
    int button = 0;
    if (!boxButtons.empty()) {
        button = boxButtons.front();
        boxButtons.pop_front();
    } else {
        for (int candidate : {IDOK, IDNO, IDCANCEL}) {
            if (std::find(s.buttons.begin(), s.buttons.end(), candidate) != s.buttons.end()) {
                button = candidate;
                break;
            }
        }
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 LPARAM(GetDlgItem(window, button)));
}
