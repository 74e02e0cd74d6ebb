// Handles.h: one scoped owner for each kind of Win32 handle the program holds, so that every
// path out of a function releases what it took. Copying is deleted: a handle has one owner.
#pragma once
#include <windows.h>

// A kernel handle closed by Close; INVALID_HANDLE_VALUE when there is none.
template <BOOL(WINAPI* Close)(HANDLE)>
class KernelHandle {
public:
    explicit KernelHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle(handle) {}
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    virtual ~KernelHandle() {
        if (IsOpen()) Close(handle);
    }
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle; }

private:
    HANDLE handle;
};

using FileHandle = KernelHandle<CloseHandle>;  // a file opened with CreateFile
using FindHandle = KernelHandle<FindClose>;    // a search of FindFirstFile

// A GDI font; a window that uses it must let it go (WM_SETFONT) before it is reset.
class FontHandle {
public:
    explicit FontHandle(HFONT font = nullptr) : font(font) {}
    FontHandle(const FontHandle&) = delete;
    FontHandle& operator=(const FontHandle&) = delete;
    virtual ~FontHandle() { Reset(); }
    // Deletes the font held and takes font in its place.
    void Reset(HFONT replacement = nullptr) {
        if (font) DeleteObject(font);
        font = replacement;
    }
    HFONT Get() const { return font; }

private:
    HFONT font;
};

// A fixed block of GlobalAlloc; null when there is none.
class GlobalMemory {
public:
    explicit GlobalMemory(SIZE_T bytes) : block(GlobalAlloc(GMEM_FIXED, bytes)) {}
    GlobalMemory(const GlobalMemory&) = delete;
    GlobalMemory& operator=(const GlobalMemory&) = delete;
    virtual ~GlobalMemory() {
        if (block) GlobalFree(block);
    }
    void* Get() const { return block; }

private:
    HGLOBAL block;
};
