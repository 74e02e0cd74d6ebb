#include "core/OutputFile.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/FileSystem.h"

namespace {

// Different threads of one process writing into the same folder still get different names.
std::atomic<uint32_t> TempCounter{0};

// The temporary files being written, for RemoveUnfinishedOutputs. Plain atomics, so that a signal
// handler may read them while other threads register and unregister.
constexpr size_t RegistrySlots = MaxUnfinishedOutputs;
std::atomic<const char*> Unfinished[RegistrySlots];

int Register(const char* path) {
    for (size_t i = 0; i < RegistrySlots; ++i) {
        const char* expected = nullptr;
        if (Unfinished[i].compare_exchange_strong(expected, path)) return int(i);
    }
    return -1;  // more files at once than slots: this one is merely not cleaned up on a signal
}

void Unregister(int slot) {
    if (slot >= 0) Unfinished[slot].store(nullptr);
}

char* CopyString(const char* s, size_t extra) {
    const size_t n = std::strlen(s);
    char* copy = new (std::nothrow) char[n + extra + 1];
    if (copy) std::memcpy(copy, s, n + 1);
    return copy;
}

}  // namespace

OutputFile::~OutputFile() {
    Abandon();
    delete[] targetPath;
    delete[] buffer;
}

bool OutputFile::Create(const char* target) {
    Abandon();
    delete[] targetPath;
    targetPath = CopyString(target, 0);
    if (!buffer) buffer = new (std::nothrow) uint8_t[BufferBytes];
    // The short name keeps the temporary path within the limits the target's path already meets.
    static const char Pattern[] = "~tf%x-%x.tmp";
    const size_t folder = FileSystem::FolderLength(target);
    tempPath = new (std::nothrow) char[folder + sizeof Pattern + 2 * 8];
    if (!targetPath || !buffer || !tempPath) {
        Fail(OutOfMemoryErrorCode());
        return false;
    }
    std::memcpy(tempPath, target, folder);
    const uint32_t process = FileSystem::ProcessId();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::snprintf(tempPath + folder, sizeof Pattern + 2 * 8, Pattern, unsigned(process),
                      unsigned(TempCounter.fetch_add(1)));
        uint32_t error = 0;
        if (FileSystem::CreateNewFile(tempPath, handle, error)) {
            registrySlot = Register(tempPath);
            used = 0;
            flushed = 0;
            errorCode = 0;
            return true;
        }
        errorCode = error;
        if (!FileSystem::AlreadyExists(error)) break;
    }
    delete[] tempPath;
    tempPath = nullptr;
    return false;
}

uint8_t* OutputFile::Room(uint32_t n) {
    if (handle == FileSystem::NoHandle || n > BufferBytes) return nullptr;
    if (BufferBytes - used < n && !Flush()) return nullptr;
    return buffer + used;
}

bool OutputFile::Write(const uint8_t* data, uint32_t n) {
    if (handle == FileSystem::NoHandle) return false;
    if (data == buffer + used && n <= BufferBytes - used) {  // filled in place (Room)
        used += n;
        return true;
    }
    while (n > 0) {
        if (used == BufferBytes && !Flush()) return false;
        const uint32_t room = BufferBytes - used;
        const uint32_t count = n < room ? n : room;
        std::memcpy(buffer + used, data, count);
        used += count;
        data += count;
        n -= count;
    }
    return true;
}

bool OutputFile::WriteAt(uint64_t offset, const uint8_t* data, uint32_t n) {
    if (handle == FileSystem::NoHandle || offset + n > flushed + used) return false;
    if (offset >= flushed) {  // still in the buffer
        std::memcpy(buffer + (offset - flushed), data, n);
        return true;
    }
    uint32_t error = 0;
    if (!Flush() || !FileSystem::WriteAllAt(handle, offset, data, n, error)) {
        Fail(error);
        return false;
    }
    return true;
}

bool OutputFile::Commit(bool replace) {
    if (handle == FileSystem::NoHandle || !Flush() || !CloseTemp()) {
        Abandon();
        return false;
    }
    uint32_t error = 0;
    const bool moved = replace ? FileSystem::RenameOver(tempPath, targetPath, error)
                               : FileSystem::RenameNoReplace(tempPath, targetPath, error);
    if (!moved) {
        Fail(error);
        Abandon();
        return false;
    }
    Unregister(registrySlot);
    registrySlot = -1;
    delete[] tempPath;
    tempPath = nullptr;
    return true;
}

void OutputFile::Abandon() {
    if (handle != FileSystem::NoHandle) {
        uint32_t ignored = 0;
        FileSystem::CloseFile(handle, ignored);
        handle = FileSystem::NoHandle;
    }
    if (tempPath) {
        FileSystem::RemoveFile(tempPath);
        Unregister(registrySlot);
        registrySlot = -1;
        delete[] tempPath;
        tempPath = nullptr;
    }
    used = 0;
}

bool OutputFile::Flush() {
    uint32_t error = 0;
    if (used && !FileSystem::WriteAll(handle, buffer, used, error)) {
        Fail(error);
        return false;
    }
    flushed += used;
    used = 0;
    return true;
}

void OutputFile::Fail(uint32_t code) {
    if (errorCode == 0) errorCode = code;
}

bool OutputFile::CloseTemp() {
    uint32_t error = 0;
    const bool closed = FileSystem::CloseFile(handle, error);
    handle = FileSystem::NoHandle;
    if (!closed) Fail(error);
    return closed;
}

void RemoveUnfinishedOutputs() {
    for (size_t i = 0; i < RegistrySlots; ++i)
        if (const char* path = Unfinished[i].load()) FileSystem::RemoveFile(path);
}
