// Messages.h: texts from the string table, system error boxes and shell links.
#pragma once
#include <string>

#include <windows.h>

#include "core/ByteBuffer.h"

// Replaces text with string-table entry id of AppInstance. True when the entry exists and is not
// empty; a missing entry leaves text empty.
bool LoadResourceString(std::string& text, UINT id);
// Fills filter with entry id, each line feed turned into a NUL, plus one more NUL: the form the
// common file dialogs take. False, and filter unchanged, when the entry is missing or empty.
bool LoadFilterString(ByteBuffer& filter, UINT id);
// False only for code 0 (text untouched); otherwise text holds the system's message for code,
// or string 1 when the system has none.
bool FormatSystemError(std::string& text, DWORD code);
// An error box on owner with leadingText (if any) directly followed by the system's message for
// code; nothing at all for code 0.
void ReportSystemError(HWND owner, DWORD code, const char* leadingText = nullptr);
// Opens target (a file, a web address, a mailto: link, or a program to start with parameters)
// with its default shell action; a failure shows the system's text for the last error, or for
// the code the shell's result stands for when the last error is 0.
void OpenWithShell(HWND owner, const char* target, const char* parameters = nullptr);
// The system error code to show for a failed ShellExecuteA: lastError, or when that is 0 the
// code that result (32 or less) stands for. Never 0.
DWORD ShellFailureCode(INT_PTR result, DWORD lastError);
