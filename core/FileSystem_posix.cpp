#include "core/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include "core/OutputFile.h"

namespace FileSystem {

bool CreateNewFile(const char* path, intptr_t& handle, uint32_t& error) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = uint32_t(errno);
        return false;
    }
    handle = fd;
    return true;
}

bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error) {
    while (n > 0) {
        const ssize_t written = write(int(handle), data, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = uint32_t(errno);
            return false;
        }
        data += written;
        n -= uint32_t(written);
    }
    return true;
}

bool CloseFile(intptr_t handle, uint32_t& error) {
    // A network or quota file system may report a failed write only here.
    if (close(int(handle)) != 0 && errno != EINTR) {
        error = uint32_t(errno);
        return false;
    }
    return true;
}

bool RenameOver(const char* from, const char* to, uint32_t& error) {
    if (rename(from, to) != 0) {
        error = uint32_t(errno);
        return false;
    }
    return true;
}

bool RenameNoReplace(const char* from, const char* to, uint32_t& error) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = uint32_t(errno);
        return false;
    }
#endif
    // A file system without an exclusive rename: a hard link fails as well when the name is taken.
    if (link(from, to) != 0) {
        error = uint32_t(errno);
        return false;
    }
    unlink(from);
    return true;
}

void RemoveFile(const char* path) {
    unlink(path);
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
    uint32_t total = 0;
    while (result.Ok() && total < out.Size()) {
        const ssize_t got = read(fd, out.Data() + total, out.Size() - total);
        if (got < 0) {
            if (errno != EINTR) fail(ReadResult::Read, errno);
        } else if (got == 0) {
            break;  // the file shrank meanwhile: what was read is the image
        } else {
            total += uint32_t(got);
        }
    }
    close(fd);
    if (result.Ok() && total < out.Size() && !out.Resize(total)) fail(ReadResult::Allocate, ENOMEM);
    return result;
}

bool Identify(const char* path, FileId& id) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    id.device = uint64_t(info.st_dev);
    id.file = uint64_t(info.st_ino);
    return true;
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
