#include "job/ConvertFile.h"

#include "ui/WaitCursor.h"

void ConvertFile(HWND owner, const char* path) {
    WaitCursor wait;
    (void)owner;
    (void)path;
}
