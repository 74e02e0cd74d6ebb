#include "cli/Platform.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <streambuf>

#include "cli/Messages.h"
#include "core/Encoding_win.h"
#include "core/OutputFile.h"
#include "core/WidePath_win.h"
#include "win/Handles.h"

namespace Platform {

namespace {

// The bytes of text in page, without a terminating NUL; empty when there are none.
std::string Narrow(UINT page, const wchar_t* text, int length) {
    int n = 0;
    char* bytes = NewNarrowText(page, text, length, n);
    if (length < 0 && n > 0) --n;  // the terminating NUL
    std::string out(bytes ? bytes : "", bytes ? size_t(n) : 0);
    delete[] bytes;
    return out;
}

std::string Utf8(const wchar_t* text, int length = -1) {
    return Narrow(CP_UTF8, text, length);
}

std::wstring Wide(const std::string& utf8) {
    int n = 0;
    wchar_t* wide = NewWideText(CP_UTF8, 0, utf8.data(), int(utf8.size()), n);
    std::wstring out(wide ? wide : L"", wide ? size_t(n) : 0);
    delete[] wide;
    return out;
}

// False, with the code, when folder itself cannot be read; whatever below it cannot be read goes
// into entries in its place, and the rest is still listed.
bool Walk(const std::string& folder, std::vector<FolderEntry>& entries, uint32_t& error) {
    const std::string prefix =
        folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
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
    std::vector<std::pair<std::string, bool>> names;
    do {
        const std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..") continue;
        // A junction or link to a folder is not followed, so a loop cannot recurse forever.
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                              !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        names.push_back({name, isFolder});
    } while (FindNextFileW(find.Get(), &found));
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string path = prefix + name.first;
        uint32_t failed = 0;
        if (!name.second)
            entries.push_back({path, 0});
        else if (!Walk(path, entries, failed))
            entries.push_back({path, failed});
    }
    return true;
}

// The program's texts are UTF-8 throughout. A console shows them as Unicode, whatever its code
// page; output redirected to a file or a pipe gets the console's code page, else the ANSI one.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(DWORD which) : handle(GetStdHandle(which)) {
        DWORD mode = 0;
        console = GetConsoleMode(handle, &mode) != 0;
    }

protected:
    int overflow(int c) override {
        if (c != traits_type::eof()) pending.push_back(char(c));
        return c == '\n' && sync() != 0 ? traits_type::eof() : traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        pending.append(text, size_t(n));
        return n;
    }
    int sync() override {
        if (pending.empty()) return 0;
        const std::wstring wide = Wide(pending);
        pending.clear();
        if (console) {
            DWORD written = 0;
            return WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr) ? 0
                                                                                             : -1;
        }
        const UINT page = GetConsoleOutputCP() ? GetConsoleOutputCP() : GetACP();
        const std::string bytes = Narrow(page, wide.data(), int(wide.size()));
        DWORD written = 0;
        return WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                       written == bytes.size()
                   ? 0
                   : -1;
    }

private:
    HANDLE handle;
    bool console = false;
    std::string pending;
};

}  // namespace

void GuardStandardStreams() {}

}  // namespace Platform

Language UserLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese
                                                                      : Language::English;
}

namespace Platform {

bool ErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

unsigned ErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return unsigned(info.srWindow.Right - info.srWindow.Left + 1);
}

void InstallConsoleStreams() {
    // The counter wipes its line with a terminal sequence, which a console takes once asked to.
    DWORD mode = 0;
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    static ConsoleBuffer out(STD_OUTPUT_HANDLE), err(STD_ERROR_HANDLE);
    std::cout.rdbuf(&out);
    std::cerr.rdbuf(&err);
}

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

namespace {

DWORD Attributes(const std::string& path) {
    const WidePath wide(path.c_str());
    return wide.Get() ? GetFileAttributesW(wide.Get()) : INVALID_FILE_ATTRIBUTES;
}

}  // namespace

// Devices and pipes are told apart only once opened (the core's reader refuses them).
PathKind Kind(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// A link is not followed here, so one that leads nowhere still counts.
bool Exists(const std::string& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

bool ListFiles(const std::string& folder, std::vector<FolderEntry>& entries, uint32_t& error) {
    return Walk(folder, entries, error);
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
    if (out.empty()) return "予期しないエラーが発生しました。";
    return Utf8(out.c_str(), int(out.size()));
}

uint32_t LastError() {
    return GetLastError();
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
