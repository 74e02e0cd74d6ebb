#include "core/OutputFile.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/FileSystem.h"

namespace {

// Different threads of one process writing into the same folder still get different names.
std::atomic<uint32_t> TempCounter{0};

// "~tf%x-%x.tmp" at its longest.
constexpr size_t TempNameChars = 3 + 8 + 1 + 8 + 4;

// The temporary files being written, for RemoveUnfinishedOutputs. A slot belongs to one file
// while taken; its path is there only while the file may exist, and whoever takes the path out
// (the owner once done, or the cleanup of an ending process) is the one to use it.
struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<const char*> path{nullptr};
    std::atomic<intptr_t> folder{FileSystem::NoHandle};
};
Slot Slots[MaxUnfinishedOutputs];

// The cleanup waits for the files being created at that moment, which are not in their slots yet,
// and once it has begun no new file is made: either could outlive the process.
std::atomic<bool> Ending{false};
std::atomic<int> Creating{0};
thread_local bool CreatingHere = false;

int TakeSlot() {
    for (size_t i = 0; i < MaxUnfinishedOutputs; ++i) {
        bool expected = false;
        if (Slots[i].taken.compare_exchange_strong(expected, true)) return int(i);
    }
    return -1;  // more files at once than slots: this one is merely not cleaned up on a signal
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
    const size_t folderLength = FileSystem::FolderLength(target);
    tempPath = new (std::nothrow) char[folderLength + TempNameChars + 1];
    if (!targetPath || !buffer || !tempPath) {
        delete[] tempPath;
        tempPath = nullptr;
        Fail(OutOfMemoryErrorCode());
        return false;
    }
    std::memcpy(tempPath, target, folderLength);
    // The temporary name may be longer than the target's: in a folder so deep that its path
    // passes the system's limit, the file is reached by its name in the folder held open, so
    // that any target the system takes can be written.
    uint32_t error = 0;
    if (folderLength + TempNameChars > FileSystem::LongestPath() &&
        !FileSystem::OpenFolder(target, folderLength, folder, error)) {
        delete[] tempPath;
        tempPath = nullptr;
        Fail(error);
        return false;
    }
    return CreateTemp(uint32_t(folderLength));
}

bool OutputFile::CreateTemp(uint32_t folderLength) {
    // The cleanup of an ending process waits for this step (the file is in its slot before it
    // exists), so no signal is taken on this thread meanwhile: its handler would wait for itself.
    FileSystem::HoldSignals();
    CreatingHere = true;
    Creating.fetch_add(1);
    bool created = false;
    if (Ending.load()) {
        errorCode = InterruptedErrorCode();
    } else {
        registrySlot = TakeSlot();
        const uint32_t process = FileSystem::ProcessId();
        for (int attempt = 0; attempt < 1000 && !created; ++attempt) {
            std::snprintf(tempPath + folderLength, TempNameChars + 1, "~tf%x-%x.tmp",
                          unsigned(process), unsigned(TempCounter.fetch_add(1)));
            if (registrySlot >= 0) {
                Slots[registrySlot].folder.store(folder);
                Slots[registrySlot].path.store(tempPath);
            }
            uint32_t error = 0;
            created = FileSystem::CreateNewFile(folder, tempPath, handle, error);
            if (!created) {
                if (registrySlot >= 0) Slots[registrySlot].path.store(nullptr);
                errorCode = error;
                if (!FileSystem::AlreadyExists(error)) break;
            }
        }
        if (!created && registrySlot >= 0) {
            Slots[registrySlot].taken.store(false);
            registrySlot = -1;
        }
    }
    Creating.fetch_sub(1);
    CreatingHere = false;
    FileSystem::ReleaseSignals();
    if (created) {
        used = 0;
        flushed = 0;
        errorCode = 0;
        return true;
    }
    FileSystem::CloseFolder(folder);
    folder = FileSystem::NoHandle;
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
    const bool moved = replace ? FileSystem::RenameOver(folder, tempPath, targetPath, error)
                               : FileSystem::RenameNoReplace(folder, tempPath, targetPath, error);
    if (!moved) {
        Fail(error);
        Abandon();
        return false;
    }
    Release();
    return true;
}

void OutputFile::Abandon() {
    if (handle != FileSystem::NoHandle) {
        uint32_t ignored = 0;
        FileSystem::CloseFile(handle, ignored);
        handle = FileSystem::NoHandle;
    }
    if (tempPath) {
        FileSystem::RemoveFile(folder, tempPath);
        Release();
    }
    used = 0;
}

void OutputFile::Release() {
    bool held = true;
    if (registrySlot >= 0) {
        held = Slots[registrySlot].path.exchange(nullptr) != nullptr;
        // Taken by the cleanup of an ending process, which may be using the path and the folder
        // this very moment: they stay as they are, and so does the slot.
        if (held) Slots[registrySlot].taken.store(false);
        registrySlot = -1;
    }
    if (held) {
        delete[] tempPath;
        FileSystem::CloseFolder(folder);
    }
    tempPath = nullptr;
    folder = FileSystem::NoHandle;
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
    Ending.store(true);
    // A thread creating its file holds signals off, so a handler never waits here for its own
    // thread, unless a fault's signal struck it right there.
    const int here = CreatingHere ? 1 : 0;
    while (Creating.load() > here) FileSystem::Pause();
    for (Slot& slot : Slots)
        if (const char* path = slot.path.exchange(nullptr))
            FileSystem::RemoveFile(slot.folder.load(), path);
}
