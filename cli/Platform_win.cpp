#include "cli/Platform.h"

#include <windows.h>

#include <algorithm>

#include "core/OutputFile.h"

namespace Platform {

PathKind Kind(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

namespace {

bool Walk(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    const std::string prefix =
        folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    std::vector<std::pair<std::string, bool>> entries;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        // A junction or link to a folder is not followed, so a loop cannot recurse forever.
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        entries.push_back({name, folder});
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        const std::string path = prefix + entry.first;
        if (entry.second) {
            if (!Walk(path, files, error)) return false;
        } else {
            files.push_back(path);
        }
    }
    return true;
}

std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty() || from == to) return text;
    const int wide = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
    if (wide <= 0) return text;
    std::wstring buffer(size_t(wide), L'\0');
    MultiByteToWideChar(from, 0, text.data(), int(text.size()), &buffer[0], wide);
    const int narrow =
        WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return text;
    std::string out(size_t(narrow), '\0');
    WideCharToMultiByte(to, 0, buffer.data(), wide, &out[0], narrow, nullptr, nullptr);
    return out;
}

// Output redirected to a file has no console; its text then follows the ANSI code page.
UINT ConsoleCodePage() {
    const UINT page = GetConsoleOutputCP();
    return page ? page : GetACP();
}

}  // namespace

bool ListFiles(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    return Walk(folder, files, error);
}

std::string SameFileKey(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::string key = n > 0 && n < MAX_PATH ? std::string(full, n) : path;
    CharUpperBuffA(&key[0], DWORD(key.size()));  // the file system ignores case
    for (char& c : key)
        if (c == '/') c = '\\';
    return key;
}

std::string ErrorText(uint32_t code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "";
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    if (out.empty()) return ConsoleText("予期しないエラーが発生しました。");
    return Convert(out, CP_ACP, ConsoleCodePage());
}

std::string ConsoleText(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, ConsoleCodePage());
}

std::string ConsolePath(const std::string& path) {
    return Convert(path, CP_ACP, ConsoleCodePage());
}

char PreferredSeparator() {
    return '\\';
}

namespace {

// Runs on a thread of its own; FALSE lets the default handler end the process as before. The
// files, opened for sharing deletion, vanish when the ending process closes them.
BOOL WINAPI OnConsoleEvent(DWORD) {
    RemoveUnfinishedOutputs();
    return FALSE;
}

}  // namespace

void InstallInterruptCleanup() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace Platform
