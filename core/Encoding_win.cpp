#include "core/Encoding_win.h"

#include <new>

wchar_t* NewWideText(UINT page, DWORD flags, const char* text, int length, int& count) {
    count = length == 0 ? 0 : MultiByteToWideChar(page, flags, text, length, nullptr, 0);
    if (count < 0 || (count == 0 && length != 0)) return nullptr;
    wchar_t* wide = new (std::nothrow) wchar_t[size_t(count) + 1];
    if (!wide) return nullptr;
    if (count) MultiByteToWideChar(page, flags, text, length, wide, count);
    wide[count] = L'\0';
    return wide;
}

char* NewNarrowText(UINT page, const wchar_t* text, int length, int& count) {
    count =
        length == 0 ? 0 : WideCharToMultiByte(page, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (count < 0 || (count == 0 && length != 0)) return nullptr;
    char* narrow = new (std::nothrow) char[size_t(count) + 1];
    if (!narrow) return nullptr;
    if (count) WideCharToMultiByte(page, 0, text, length, narrow, count, nullptr, nullptr);
    narrow[count] = '\0';
    return narrow;
}
