#include "core/FileSystem.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "core/Encoding_win.h"
#include "core/OutputFile.h"
#include "core/WidePath_win.h"

WidePath::WidePath(const char* utf8) {
    int n = 0;
    wchar_t* given = NewWideText(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, n);
    if (!given) {
        if (n <= 0) error = ERROR_INVALID_NAME;  // not UTF-8
        return;
    }
    // The prefix turns off the system's own clean-up of the path, so it is done here first:
    // separators, "." and "..", the current folder.
    const DWORD full = GetFullPathNameW(given, 0, nullptr, nullptr);
    if (full == 0) {
        error = GetLastError();
        delete[] given;
        return;
    }
    const wchar_t Local[] = L"\\\\?\\";
    const wchar_t Unc[] = L"\\\\?\\UNC";  // replaces the first of the two leading backslashes
    path = new (std::nothrow) wchar_t[full + 8];
    if (path) {
        const DWORD length = GetFullPathNameW(given, full, path + 7, nullptr);
        wchar_t* p = path + 7;
        if (length == 0 || length >= full) {
            delete[] path;
            path = nullptr;
        } else if (p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.')) {
            std::memmove(path, p, (length + 1) * sizeof(wchar_t));  // a device or prefixed
        } else if (p[0] == L'\\' && p[1] == L'\\') {
            std::memcpy(path, Unc, 7 * sizeof(wchar_t));  // \\server\share\...
            std::memmove(path + 7, p + 1, length * sizeof(wchar_t));
        } else {
            std::memcpy(path, Local, 4 * sizeof(wchar_t));
            std::memmove(path + 4, p, (length + 1) * sizeof(wchar_t));
        }
    }
    delete[] given;
}

namespace {

// Reads until n bytes are in or the file ends; 0, or the system's code for the failure.
DWORD ReadUpTo(HANDLE file, uint8_t* data, uint32_t n, uint32_t& total) {
    total = 0;
    while (total < n) {
        DWORD got = 0;
        if (!ReadFile(file, data + total, n - total, &got, nullptr)) return GetLastError();
        if (got == 0) break;
        total += got;
    }
    return 0;
}

// Writes the n bytes at data, where the file pointer stands or, with offset, there.
bool WriteUntilDone(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error,
                    const uint64_t* offset) {
    uint64_t done = 0;
    while (done < n) {
        OVERLAPPED at{};
        if (offset) {
            at.Offset = DWORD(*offset + done);
            at.OffsetHigh = DWORD((*offset + done) >> 32);
        }
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), data + done, DWORD(n - done), &written,
                       offset ? &at : nullptr)) {
            error = GetLastError();
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

namespace FileSystem {

size_t LongestPath() {
    return SIZE_MAX;  // WidePath lifts the limit
}

bool OpenFolder(const char*, size_t, intptr_t& folder, uint32_t&) {
    folder = NoHandle;
    return true;
}

void CloseFolder(intptr_t) {}

// FILE_SHARE_DELETE lets RemoveUnfinishedOutputs delete the file while it is still open.
bool CreateNewFile(intptr_t, const char* path, intptr_t& handle, uint32_t& error) {
    const WidePath wide(path);
    if (!wide.Get()) {
        error = wide.Error();
        return false;
    }
    HANDLE file = CreateFileW(wide.Get(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error) {
    return WriteUntilDone(handle, data, n, error, nullptr);
}

bool WriteAllAt(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t n,
                uint32_t& error) {
    return WriteUntilDone(handle, data, n, error, &offset);
}

bool CloseFile(intptr_t handle, uint32_t& error) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(handle))) {
        error = GetLastError();
        return false;
    }
    return true;
}

namespace {

bool Move(const char* from, const char* to, DWORD flags, uint32_t& error) {
    const WidePath wideFrom(from);
    const WidePath wideTo(to);
    if (!wideFrom.Get() || !wideTo.Get()) {
        error = wideFrom.Get() ? wideTo.Error() : wideFrom.Error();
        return false;
    }
    if (!MoveFileExW(wideFrom.Get(), wideTo.Get(), flags)) {
        error = GetLastError();
        return false;
    }
    return true;
}

}  // namespace

bool RenameOver(intptr_t, const char* from, const char* to, uint32_t& error) {
    return Move(from, to, MOVEFILE_REPLACE_EXISTING, error);
}

bool RenameNoReplace(intptr_t, const char* from, const char* to, uint32_t& error) {
    return Move(from, to, 0, error);
}

void RemoveFile(intptr_t, const char* path) {
    const WidePath wide(path);
    if (wide.Get()) DeleteFileW(wide.Get());
}

void HoldSignals() {}

void ReleaseSignals() {}

void Pause() {
    Sleep(1);
}

ReadResult ReadWholeFile(const char* path, ByteBuffer& out) {
    ReadResult result;
    auto fail = [&](ReadResult::Step step, DWORD code) {
        result.failed = step;
        result.errorCode = code;
    };
    const WidePath wide(path);
    if (!wide.Get()) {
        fail(ReadResult::Open, wide.Error());
        return result;
    }
    HANDLE file = CreateFileW(wide.Get(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail(ReadResult::Open, GetLastError());
        return result;
    }
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK)
        fail(ReadResult::NotAFile, 0);  // a console, a pipe, a device
    else if (!GetFileSizeEx(file, &size))
        fail(ReadResult::Size, GetLastError());
    else if (uint64_t(size.QuadPart) > UINT32_MAX - 1)
        fail(ReadResult::Allocate, ERROR_FILE_TOO_LARGE);
    else if (!out.Resize(uint32_t(size.QuadPart)))
        fail(ReadResult::Allocate, ERROR_NOT_ENOUGH_MEMORY);
    // A file that shrank meanwhile ends early: what was read is the image.
    uint32_t total = 0;
    if (result.Ok()) {
        const DWORD code = ReadUpTo(file, out.Data(), out.Size(), total);
        if (code) fail(ReadResult::Read, code);
    }
    CloseHandle(file);
    if (result.Ok() && total < out.Size() && !out.Resize(total))
        fail(ReadResult::Allocate, ERROR_NOT_ENOUGH_MEMORY);
    return result;
}

bool Identify(const char* path, FileId& id, uint32_t& error) {
    const WidePath wide(path);
    if (!wide.Get()) {
        error = wide.Error();
        return false;
    }
    // No access asked: the identity of a file held open by others can still be read.
    HANDLE file = CreateFileW(wide.Get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    error = known ? 0 : GetLastError();
    CloseHandle(file);
    if (!known) return false;
    id.device = info.dwVolumeSerialNumber;
    id.file = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

ReadResult ReadFileStart(const char* path, uint8_t* out, uint32_t n, uint32_t& got) {
    ReadResult result;
    got = 0;
    const WidePath wide(path);
    HANDLE file = wide.Get() ? CreateFileW(wide.Get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        result.failed = ReadResult::Open;
        result.errorCode = wide.Get() ? GetLastError() : wide.Error();
        return result;
    }
    if (GetFileType(file) == FILE_TYPE_DISK) {
        const DWORD code = ReadUpTo(file, out, n, got);
        if (code) {
            result.failed = ReadResult::Read;
            result.errorCode = code;
        }
    }
    CloseHandle(file);
    return result;
}

bool AlreadyExists(uint32_t error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

size_t FolderLength(const char* path) {
    // UTF-8: no byte of a multi-byte character is a separator.
    size_t folder = 0;
    for (size_t i = 0; path[i]; ++i)
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') folder = i + 1;
    return folder;
}

uint32_t ProcessId() {
    return GetCurrentProcessId();
}

}  // namespace FileSystem

uint32_t FileTooLargeErrorCode() {
    return ERROR_FILE_TOO_LARGE;
}
uint32_t OutOfMemoryErrorCode() {
    return ERROR_NOT_ENOUGH_MEMORY;
}
uint32_t InterruptedErrorCode() {
    return ERROR_OPERATION_ABORTED;
}
