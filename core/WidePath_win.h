// WidePath_win.h: a UTF-8 path as the wide file API of Windows takes it. The core's file layer
// and the command-line tool both reach files through it.
#pragma once
#include <windows.h>

// A UTF-8 path as the wide file API takes it: absolute, with the \\?\ prefix that lifts the
// 260-character limit. A folder the save dialog accepted may be too deep for a temporary name
// beside the output otherwise. Null when the path is not UTF-8 or memory runs out.
class WidePath {
public:
    explicit WidePath(const char* utf8);
    WidePath(const WidePath&) = delete;
    WidePath& operator=(const WidePath&) = delete;
    ~WidePath() { delete[] path; }

    const wchar_t* Get() const { return path; }
    // The system's code for why there is no wide path.
    DWORD Error() const { return error; }

private:
    wchar_t* path = nullptr;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
};
