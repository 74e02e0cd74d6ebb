#include "win/Text.h"

#include <windows.h>

#include <new>

bool Utf8FromAnsi(const char* ansi, std::string& utf8) {
    utf8.clear();
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, nullptr, 0);
    if (wide <= 0) return false;
    wchar_t* buffer = new (std::nothrow) wchar_t[size_t(wide)];
    if (!buffer) return false;
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, buffer, wide);
    const int narrow = WideCharToMultiByte(CP_UTF8, 0, buffer, wide, nullptr, 0, nullptr, nullptr);
    bool ok = narrow > 0;
    char* out = ok ? new (std::nothrow) char[size_t(narrow)] : nullptr;
    if (out) {
        WideCharToMultiByte(CP_UTF8, 0, buffer, wide, out, narrow, nullptr, nullptr);
        utf8.assign(out);
    }
    ok = out != nullptr;
    delete[] out;
    delete[] buffer;
    return ok;
}
