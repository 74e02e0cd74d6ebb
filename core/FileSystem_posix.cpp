#include "core/FileSystem.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "core/FreshMemory.h"
#include "core/OutputFile.h"

namespace {

// Reads until n bytes are in or the file ends; 0, or the system's code for the failure.
int ReadUpTo(int fd, uint8_t* data, uint32_t n, uint32_t& total) {
    total = 0;
    while (total < n) {
        const ssize_t got = read(fd, data + total, n - total);
        if (got < 0) {
            if (errno != EINTR) return errno;
        } else if (got == 0) {
            break;
        } else {
            total += uint32_t(got);
        }
    }
    return 0;
}

// Writes the n bytes at data with write(from, count, bytes written so far), which may take fewer
// than count; false, with the system's code, at the first failure but an interruption.
template <class Write>
bool WriteUntilDone(const uint8_t* data, uint32_t n, uint32_t& error, Write write) {
    uint64_t done = 0;
    while (done < n) {
        const ssize_t written = write(data + done, uint32_t(n - done), done);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = uint32_t(errno);
            return false;
        }
        done += uint64_t(written);
    }
    return true;
}

// Where a path of the calls below is looked up: the open folder, or the current one for a whole
// path.
int At(intptr_t folder) {
    return folder == FileSystem::NoHandle ? AT_FDCWD : int(folder);
}

const char* In(intptr_t folder, const char* path) {
    return folder == FileSystem::NoHandle ? path : path + FileSystem::FolderLength(path);
}

// The signals the calling thread held off, to take again.
thread_local sigset_t HeldBefore;

}  // namespace

namespace FileSystem {

size_t LongestPath() {
    return PATH_MAX - 1;  // and its terminating NUL
}

bool OpenFolder(const char* path, size_t folderLength, intptr_t& folder, uint32_t& error) {
    char* name = new (std::nothrow) char[folderLength + 2];
    if (!name) {
        error = ENOMEM;
        return false;
    }
    std::memcpy(name, path, folderLength);
    name[folderLength] = folderLength ? '\0' : '.';
    name[folderLength + 1] = '\0';
#ifdef O_PATH
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // no read permission needed
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    const int fd = open(name, flags);
    delete[] name;
    if (fd < 0) {
        error = uint32_t(errno);
        return false;
    }
    folder = fd;
    return true;
}

void CloseFolder(intptr_t folder) {
    if (folder != NoHandle) close(int(folder));
}

bool CreateNewFile(intptr_t folder, const char* path, intptr_t& handle, uint32_t& error) {
    const int fd =
        openat(At(folder), In(folder, path), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = uint32_t(errno);
        return false;
    }
    handle = fd;
    return true;
}

bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error) {
    return WriteUntilDone(data, n, error, [&](const uint8_t* from, uint32_t count, uint64_t) {
        return write(int(handle), from, count);
    });
}

bool WriteAllAt(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t n,
                uint32_t& error) {
    return WriteUntilDone(data, n, error, [&](const uint8_t* from, uint32_t count, uint64_t done) {
        return pwrite(int(handle), from, count, off_t(offset + done));
    });
}

bool CloseFile(intptr_t handle, uint32_t& error) {
    // A network or quota file system may report a failed write only here.
    if (close(int(handle)) != 0 && errno != EINTR) {
        error = uint32_t(errno);
        return false;
    }
    return true;
}

bool RenameOver(intptr_t folder, const char* from, const char* to, uint32_t& error) {
    if (renameat(At(folder), In(folder, from), At(folder), In(folder, to)) != 0) {
        error = uint32_t(errno);
        return false;
    }
    return true;
}

bool RenameNoReplace(intptr_t folder, const char* from, const char* to, uint32_t& error) {
    from = In(folder, from);
    to = In(folder, to);
#ifdef RENAME_NOREPLACE
    if (renameat2(At(folder), from, At(folder), to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = uint32_t(errno);
        return false;
    }
#endif
    // A file system without an exclusive rename: a hard link fails as well when the name is taken.
    if (linkat(At(folder), from, At(folder), to, 0) != 0) {
        error = uint32_t(errno);
        return false;
    }
    unlinkat(At(folder), from, 0);
    return true;
}

void RemoveFile(intptr_t folder, const char* path) {
    unlinkat(At(folder), In(folder, path), 0);
}

void HoldSignals() {
    sigset_t all;
    sigfillset(&all);
    // A fault's signal cannot wait: held off, it would end the process without a word.
    for (int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
        sigdelset(&all, synchronous);
    pthread_sigmask(SIG_BLOCK, &all, &HeldBefore);
}

void ReleaseSignals() {
    pthread_sigmask(SIG_SETMASK, &HeldBefore, nullptr);
}

void Pause() {
    const timespec moment = {0, 100000};
    nanosleep(&moment, nullptr);
}

ReadResult ReadWholeFile(const char* path, ByteBuffer& out) {
    ReadResult result;
    auto fail = [&](ReadResult::Step step, int code) {
        result.failed = step;
        result.errorCode = uint32_t(code);
    };
    // Without O_NONBLOCK, opening a FIFO waits for a writer, possibly forever; the type is
    // checked on what was opened, so a name swapped meanwhile cannot slip a device in.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        fail(ReadResult::Open, errno);
        return result;
    }
    struct stat info;
    if (fstat(fd, &info) != 0)
        fail(ReadResult::Size, errno);
    else if (S_ISDIR(info.st_mode))
        fail(ReadResult::Open, EISDIR);
    else if (!S_ISREG(info.st_mode))
        fail(ReadResult::NotAFile, 0);
    else if (uint64_t(info.st_size) > UINT32_MAX - 1)
        fail(ReadResult::Allocate, EFBIG);
    else if (!out.Resize(uint32_t(info.st_size)))
        fail(ReadResult::Allocate, ENOMEM);
    // A file that shrank meanwhile ends early: what was read is the image.
    uint32_t total = 0;
    if (result.Ok()) {
        PopulateFresh(out.Data(), out.Size());
        const int code = ReadUpTo(fd, out.Data(), out.Size(), total);
        if (code) fail(ReadResult::Read, code);
    }
    close(fd);
    if (result.Ok() && total < out.Size() && !out.Resize(total)) fail(ReadResult::Allocate, ENOMEM);
    return result;
}

bool Identify(const char* path, FileId& id, uint32_t& error) {
    struct stat info;
    if (stat(path, &info) != 0) {
        error = uint32_t(errno);
        return false;
    }
    id.device = uint64_t(info.st_dev);
    id.file = uint64_t(info.st_ino);
    return true;
}

ReadResult ReadFileStart(const char* path, uint8_t* out, uint32_t n, uint32_t& got) {
    ReadResult result;
    got = 0;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        result.failed = ReadResult::Open;
        result.errorCode = uint32_t(errno);
        return result;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const int code = ReadUpTo(fd, out, n, got);
        if (code) {
            result.failed = ReadResult::Read;
            result.errorCode = uint32_t(code);
        }
    }
    close(fd);
    return result;
}

bool AlreadyExists(uint32_t error) {
    return error == EEXIST;
}

size_t FolderLength(const char* path) {
    size_t folder = 0;
    for (size_t i = 0; path[i]; ++i)
        if (path[i] == '/') folder = i + 1;
    return folder;
}

uint32_t ProcessId() {
    return uint32_t(getpid());
}

}  // namespace FileSystem

uint32_t FileTooLargeErrorCode() {
    return EFBIG;
}
uint32_t OutOfMemoryErrorCode() {
    return ENOMEM;
}
uint32_t InterruptedErrorCode() {
    return EINTR;
}
