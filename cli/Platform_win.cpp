#include "cli/Platform.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "core/OutputFile.h"
#include "core/WidePath_win.h"
#include "win/Handles.h"

namespace Platform {

namespace {

std::string Utf8(const wchar_t* text, int length = -1) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr);
    if (length < 0) out.pop_back();  // the terminating NUL
    return out;
}

std::wstring Wide(const std::string& utf8, UINT codePage = CP_UTF8) {
    const int n = MultiByteToWideChar(codePage, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) return L"";
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, utf8.data(), int(utf8.size()), &out[0], n);
    return out;
}

bool Walk(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    const std::string prefix =
        folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
    const WidePath pattern((prefix + "*").c_str());
    if (!pattern.Get()) {
        error = pattern.Error();
        return false;
    }
    WIN32_FIND_DATAW found;
    const FindHandle find(FindFirstFileW(pattern.Get(), &found));
    if (!find.IsOpen()) {
        error = GetLastError();
        return false;
    }
    std::vector<std::pair<std::string, bool>> entries;
    do {
        const std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..") continue;
        // A junction or link to a folder is not followed, so a loop cannot recurse forever.
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                              !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        entries.push_back({name, isFolder});
    } while (FindNextFileW(find.Get(), &found));
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

// Output redirected to a file has no console; its text then follows the ANSI code page.
UINT ConsoleCodePage() {
    const UINT page = GetConsoleOutputCP();
    return page ? page : GetACP();
}

std::string ToConsole(const std::wstring& text) {
    const UINT page = ConsoleCodePage();
    if (page == CP_UTF8) return Utf8(text.c_str(), int(text.size()));
    const int n =
        WideCharToMultiByte(page, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(page, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
    // The narrow arguments lose every character outside the ANSI code page: take the wide ones.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

PathKind Kind(const std::string& path) {
    const WidePath wide(path.c_str());
    const DWORD attributes = wide.Get() ? GetFileAttributesW(wide.Get()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool ListFiles(const std::string& folder, std::vector<std::string>& files, uint32_t& error) {
    return Walk(folder, files, error);
}

std::string SameFileKey(const std::string& path) {
    const WidePath wide(path.c_str());
    if (!wide.Get()) return path;
    std::wstring key = wide.Get();
    CharUpperBuffW(&key[0], DWORD(key.size()));  // the file system ignores case
    return Utf8(key.c_str(), int(key.size()));
}

std::string ErrorText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = n && text ? std::wstring(text, n) : L"";
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' '))
        out.pop_back();
    if (out.empty()) return ConsoleText("予期しないエラーが発生しました。");
    return ToConsole(out);
}

std::string ConsoleText(const std::string& utf8) {
    return ToConsole(Wide(utf8));
}

std::string ConsolePath(const std::string& path) {
    return ToConsole(Wide(path));
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
