#include "win/Text.h"

#include <windows.h>

#include "core/Encoding_win.h"

bool Utf8FromAnsi(const char* ansi, std::string& utf8) {
    utf8.clear();
    int wide = 0, narrow = 0;
    wchar_t* buffer = NewWideText(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, wide);
    char* out = buffer ? NewNarrowText(CP_UTF8, buffer, wide, narrow) : nullptr;
    if (out) utf8.assign(out);
    delete[] out;
    delete[] buffer;
    return out != nullptr;
}
