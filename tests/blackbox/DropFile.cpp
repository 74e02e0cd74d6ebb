// DropFile.cpp: drops files on a window of another process, as the shell does after a drag.
//   blackbox_dropfile.exe "Window title" C:\path\first.mid [more files...]
// The drop handle must be valid inside the target, so the DROPFILES block is written into the
// target's own memory; a handle from this process would mean nothing there.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: blackbox_dropfile.exe TITLE FILE...\n");
        return 2;
    }
    HWND target = FindWindowA(nullptr, argv[1]);
    if (target == nullptr) {
        std::fprintf(stderr, "blackbox_dropfile: no window titled %s\n", argv[1]);
        return 1;
    }
    std::string block(sizeof(DROPFILES), '\0');
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = FALSE;
    block.replace(0, sizeof header, reinterpret_cast<const char*>(&header), sizeof header);
    for (int i = 2; i < argc; ++i) block += std::string(argv[i]) + '\0';
    block += '\0';

    DWORD processId = 0;
    GetWindowThreadProcessId(target, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) return 1;
    void* remote =
        VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool ok = remote != nullptr &&
              WriteProcessMemory(process, remote, block.data(), block.size(), nullptr) &&
              PostMessageA(target, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    CloseHandle(process);
    return ok ? 0 : 1;
}
