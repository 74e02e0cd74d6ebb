// One version: what the built programs and the help page say is the project's version
// (TONFLUX_VERSION, from CMake's project()), read as a user's tools read it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A Unix path of the build as Windows sees it: Wine's drive Z: is the root.
std::string WinPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// The version information of the file at path, read with GetFileVersionInfo; empty if none.
std::vector<char> VersionInfo(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> block(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data())) block.clear();
    return block;
}

std::string FixedVersion(const std::string& path, bool product) {
    std::vector<char> block = VersionInfo(path);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (block.empty() ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        return "(no fixed file info)";
    const DWORD high = product ? fixed->dwProductVersionMS : fixed->dwFileVersionMS;
    const DWORD low = product ? fixed->dwProductVersionLS : fixed->dwFileVersionLS;
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", HIWORD(high) + 0ul, LOWORD(high) + 0ul,
                  HIWORD(low) + 0ul, LOWORD(low) + 0ul);
    return text;
}

std::string StringValue(const std::string& path, const std::string& key) {
    std::vector<char> block = VersionInfo(path);
    char* value = nullptr;
    UINT length = 0;
    const std::string query = "\\StringFileInfo\\041104b0\\" + key;
    if (block.empty() ||
        !VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return "(no " + key + ")";
    return value;
}

// The first line tonflux-convert.exe writes for arguments, run as a separate process.
std::string FirstLineOf(const std::string& arguments) {
    char folder[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "tfv", 0, file))
        return "(no temporary file)";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out =
        CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string command = "\"" + WinPath(TONFLUX_CONVERT_EXE) + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const bool started =
        out != INVALID_HANDLE_VALUE && CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE,
                                                      0, nullptr, nullptr, &startup, &process);
    if (started) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    in.close();
    DeleteFileA(file);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return started ? line : "(tonflux-convert.exe did not start)";
}

bool Contains(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return all.find(text) != std::string::npos;
}

TEST(Version, EveryPlaceSaysTheProjectsVersion) {
    const std::string program = WinPath(TONFLUX_EXE);
    const std::string version = TONFLUX_VERSION;
    const struct {
        const char* where;
        std::string says;
        std::string expected;
    } places[] = {
        {"tonflux.exe, fixed file version", FixedVersion(program, false), version + ".0"},
        {"tonflux.exe, fixed product version", FixedVersion(program, true), version + ".0"},
        {"tonflux.exe, FileVersion", StringValue(program, "FileVersion"), version},
        {"tonflux.exe, ProductVersion", StringValue(program, "ProductVersion"), version},
        {"tonflux.exe, FileDescription", StringValue(program, "FileDescription"),
         "Tonflux " + version},
        {"tonflux-convert.exe --version", FirstLineOf("--version"), "tonflux-convert " + version},
    };
    for (const auto& place : places) EXPECT_EQ(place.says, place.expected) << place.where;
    // The help page beside tonflux.exe, made from its template at build time.
    EXPECT_TRUE(Contains(TONFLUX_HELP_PAGE, "Tonflux バージョン " + version));
    EXPECT_FALSE(Contains(TONFLUX_HELP_PAGE, "@PROJECT_VERSION@"));
}

// The application manifest of the program at path (resource type 24, id 1), its blanks and line
// breaks each made one blank; empty when there is none.
std::string Manifest(const std::string& path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return "";
    std::string text;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    const void* bytes = found ? LockResource(LoadResource(module, found)) : nullptr;
    if (bytes != nullptr) {
        const char* begin = static_cast<const char*>(bytes);
        for (const char* p = begin; p != begin + SizeofResource(module, found); ++p) {
            const bool blank = *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n';
            if (!blank || (!text.empty() && text.back() != ' ')) text += blank ? ' ' : *p;
        }
    }
    FreeLibrary(module);
    return text;
}

TEST(Manifest, BothProgramsAskForThemedControlsDpiAwarenessAndNoElevation) {
    const char* parts[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // Windows 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
    };
    for (const std::string& program : {WinPath(TONFLUX_EXE), WinPath(TONFLUX_CONVERT_EXE)}) {
        SCOPED_TRACE(program);
        const std::string manifest = Manifest(program);
        for (const char* part : parts) EXPECT_NE(manifest.find(part), std::string::npos) << part;
        // The system reads it as the program's activation context.
        ACTCTXA context{};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = program.c_str();
        context.lpResourceName = MAKEINTRESOURCEA(1);
        HANDLE made = CreateActCtxA(&context);
        EXPECT_NE(made, INVALID_HANDLE_VALUE) << GetLastError();
        if (made != INVALID_HANDLE_VALUE) ReleaseActCtx(made);
    }
}

}  // namespace
