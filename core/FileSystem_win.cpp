#include "core/FileSystem.h"

#include <windows.h>

#include "core/OutputFile.h"

namespace FileSystem {

// FILE_SHARE_DELETE lets RemoveUnfinishedOutputs delete the file while it is still open.
bool CreateNewFile(const char* path, intptr_t& handle, uint32_t& error) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error) {
    while (n > 0) {
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, n, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        data += written;
        n -= written;
    }
    return true;
}

bool CloseFile(intptr_t handle, uint32_t& error) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(handle))) {
        error = GetLastError();
        return false;
    }
    return true;
}

bool RenameOver(const char* from, const char* to, uint32_t& error) {
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        return false;
    }
    return true;
}

void RemoveFile(const char* path) {
    DeleteFileA(path);
}

bool ReadWholeFile(const char* path, ByteBuffer& out, uint32_t& error) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (!ok) {
        error = GetLastError();
    } else if (uint64_t(size.QuadPart) > UINT32_MAX - 1) {
        error = ERROR_FILE_TOO_LARGE;
        ok = false;
    } else if (!out.Resize(uint32_t(size.QuadPart))) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        ok = false;
    }
    uint32_t total = 0;
    while (ok && total < out.Size()) {
        DWORD got = 0;
        if (!ReadFile(file, out.Data() + total, out.Size() - total, &got, nullptr)) {
            error = GetLastError();
            ok = false;
        } else if (got == 0) {
            break;  // the file shrank meanwhile: what was read is the image
        } else {
            total += got;
        }
    }
    CloseHandle(file);
    if (ok && total < out.Size())
        ok = out.Resize(total) || (error = ERROR_NOT_ENOUGH_MEMORY, false);
    return ok;
}

bool AlreadyExists(uint32_t error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

size_t FolderLength(const char* path) {
    // A trail byte of a double-byte character may equal a backslash: step over characters whole.
    size_t folder = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (IsDBCSLeadByte(BYTE(path[i])) && path[i + 1]) {
            ++i;
            continue;
        }
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') folder = i + 1;
    }
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
