// PeekBox.cpp: finds the message box that a program shows, prints its title and text in UTF-8,
// and presses one of its buttons.
//   blackbox_peekbox.exe [--wait MILLISECONDS] [--press BUTTON_ID] [--file-type]
// Prints "TITLE<TAB>TEXT" (line breaks in the text as \n) and exits 0; exits 1 when no message
// box appeared within the wait. With --file-type it looks for a file dialog instead and prints
// "TITLE<TAB>FILE TYPE", the file type selected in it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The control that tells the kind of window looked for: a message box's text, or a file dialog's
// list of file types (cmb1 of <dlgs.h>).
int Marker = 0xFFFF;
constexpr int FileTypes = 0x470;

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
    char name[16] = "";
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) > 0 &&
        std::strcmp(name, "#32770") == 0 && GetDlgItem(window, Marker) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

std::string Utf8(const char* ansi) {
    int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], wideLength);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
    text.resize(length - 1);
    std::string escaped;
    for (char c : text) {
        if (c == '\n') {
            escaped += "\\n";
        } else if (c != '\r') {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD wait = 5000;
    int press = 0;
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (std::strcmp(argv[i], "--file-type") == 0)
            Marker = FileTypes;
        else if (valued && std::strcmp(argv[i], "--wait") == 0)
            wait = DWORD(std::atoi(argv[++i]));
        else if (valued && std::strcmp(argv[i], "--press") == 0)
            press = std::atoi(argv[++i]);
    }
    HWND box = nullptr;
    for (DWORD waited = 0; box == nullptr && waited <= wait; waited += 50) {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr) Sleep(50);
    }
    if (box == nullptr) return 1;
    char title[512] = "";
    char text[4096] = "";
    GetWindowTextA(box, title, sizeof title);
    GetDlgItemTextA(box, Marker, text, sizeof text);
    std::printf("%s\t%s\n", Utf8(title).c_str(), Utf8(text).c_str());
    std::fflush(stdout);
    if (press != 0) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, press)));
    }
    return 0;
}
