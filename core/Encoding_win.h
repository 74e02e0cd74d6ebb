// Encoding_win.h: text between the encodings of Windows, in one place: UTF-8 (the core's file
// names, the command-line tool's texts), UTF-16 (the wide API) and a code page of the narrow API
// (the ANSI code page, 932 for Japanese, or a console's).
#pragma once
#include <windows.h>

// The UTF-16 of length bytes of text in code page page (length -1: up to and including its NUL)
// in a new[] array of count characters and a NUL. Null when memory runs out or, with flags
// MB_ERR_INVALID_CHARS, when the bytes are no text of that page.
wchar_t* NewWideText(UINT page, DWORD flags, const char* text, int length, int& count);
// The bytes of length UTF-16 characters of text in code page page, the same way.
char* NewNarrowText(UINT page, const wchar_t* text, int length, int& count);
