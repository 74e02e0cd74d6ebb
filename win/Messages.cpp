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

void OpenWithShell(HWND owner, const char* target, const char* parameters) {
    // A code left over from an earlier call must not explain this failure.
    SetLastError(0);
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(owner, nullptr, target, parameters, nullptr, SW_SHOWNORMAL));
    if (result > 32) return;
    ReportSystemError(owner, ShellFailureCode(result, GetLastError()));
}

DWORD ShellFailureCode(INT_PTR result, DWORD lastError) {
    if (lastError != 0) return lastError;
    switch (result) {
        case 0:  // out of memory or resources
            return ERROR_NOT_ENOUGH_MEMORY;
        case SE_ERR_SHARE:
            return ERROR_SHARING_VIOLATION;
        case SE_ERR_ASSOCINCOMPLETE:
        case SE_ERR_NOASSOC:
            return ERROR_NO_ASSOCIATION;
        case SE_ERR_DDETIMEOUT:
        case SE_ERR_DDEFAIL:
        case SE_ERR_DDEBUSY:
            return ERROR_DDE_FAIL;
        case SE_ERR_DLLNOTFOUND:
            return ERROR_DLL_NOT_FOUND;
        default:  // the file, path, access, memory and format codes are system codes already
            return result > 0 && result <= 32 ? DWORD(result) : ERROR_GEN_FAILURE;
    }
}
