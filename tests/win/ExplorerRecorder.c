/* ExplorerRecorder.c: stands in for the file manager, as Explorer.exe beside the shell tests (the
 * shell looks in the starting program's folder first). It writes its command line into the file
 * that TONFLUX_EXPLORER_RECORD names, under a temporary name first, so a reader never sees half. */
#include <windows.h>

int main(void) {
    char record[MAX_PATH];
    char part[MAX_PATH + 8];
    const char* line = GetCommandLineA();
    DWORD written = 0;
    HANDLE file;
    DWORD length = GetEnvironmentVariableA("TONFLUX_EXPLORER_RECORD", record, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    lstrcpyA(part, record);
    lstrcatA(part, ".part");
    file = CreateFileA(part, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    WriteFile(file, line, (DWORD)lstrlenA(line), &written, NULL);
    CloseHandle(file);
    return MoveFileA(part, record) ? 0 : 1;
}
