// FileSystem.h: the few file calls the core needs, with the system's own error codes (errno on
// POSIX, GetLastError() on Windows). FileSystem_posix.cpp and FileSystem_win.cpp implement them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/ByteBuffer.h"

namespace FileSystem {

constexpr intptr_t NoHandle = -1;

// Creates path for writing; fails when it exists already (AlreadyExists tells that apart).
bool CreateNewFile(const char* path, intptr_t& handle, uint32_t& error);
bool WriteAll(intptr_t handle, const uint8_t* data, uint32_t n, uint32_t& error);
bool CloseFile(intptr_t handle, uint32_t& error);
// Renames from over to, replacing an existing file at to.
bool RenameOver(const char* from, const char* to, uint32_t& error);
void RemoveFile(const char* path);
// Reads the whole file into out. A file of 4 GB or more is refused as too large.
bool ReadWholeFile(const char* path, ByteBuffer& out, uint32_t& error);
bool AlreadyExists(uint32_t error);
// Length of path's folder part, its last separator included (0 for a bare name).
size_t FolderLength(const char* path);
// Separates temporary names of different processes.
uint32_t ProcessId();

}  // namespace FileSystem
