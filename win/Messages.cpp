#include "win/Messages.h"

#include <cstring>
#include <new>

#include <shellapi.h>

#include "res/resource.h"
#include "win/Globals.h"

bool LoadResourceString(std::string& text, UINT id) {
    // LoadStringA truncates silently, so a count close to the capacity may mean a cut-off text:
    // retry with more room until there are at least two spare characters.
    int capacity = 256;
    for (;;) {
        char* buffer = new (std::nothrow) char[capacity];
        if (buffer == nullptr) {
            text.clear();
            return false;
        }
        int count = LoadStringA(AppInstance, id, buffer, capacity);
        if (count == 0) buffer[0] = '\0';
        if (capacity - count > 2) {
            text.assign(buffer);
            delete[] buffer;
            return count > 0;
        }
        delete[] buffer;
        capacity += 256;
    }
}

bool LoadFilterString(ByteBuffer& filter, UINT id) {
    std::string text;
    if (!LoadResourceString(text, id)) return false;
    const uint32_t length = uint32_t(text.size());
    ByteBuffer result;
    if (!result.Assign(reinterpret_cast<const uint8_t*>(text.c_str()), length + 1)) return false;
    // Bytewise is safe: in code page 932 no trail byte is 0x0A.
    for (uint32_t i = 0; i < length; ++i) {
        if (result[i] == '\n') result[i] = '\0';
    }
    filter = std::move(result);
    return true;
}

bool FormatSystemError(std::string& text, DWORD code) {
    if (code == 0) return false;
    char* message = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                       reinterpret_cast<char*>(&message), 0, nullptr) != 0) {
        text.assign(message);
        LocalFree(message);
        return true;
    }
    LoadResourceString(text, IDS_UNEXPECTED_ERROR);
    return true;
}

void ReportSystemError(HWND owner, DWORD code, const char* leadingText) {
    if (code == 0) return;
    std::string message;
    FormatSystemError(message, code);
    std::string text = leadingText != nullptr ? leadingText : "";
    text += message;
    std::string title;
    LoadResourceString(title, IDS_ERROR_TITLE);
    MessageBoxA(owner, text.c_str(), title.c_str(), MB_ICONERROR);
}

void OpenWithShell(HWND owner, const char* target) {
    HINSTANCE result = ShellExecuteA(owner, nullptr, target, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) > 32) return;
    ReportSystemError(owner, GetLastError());
}
