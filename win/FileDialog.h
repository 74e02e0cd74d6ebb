// FileDialog.h: the common open and save dialogs as the program fills them in.
#pragma once
#include <windows.h>

#include <commdlg.h>

#include "core/ByteBuffer.h"

// The dialog's data: owned by owner, from AppInstance, in the structure's version 4 size, which
// every Windows accepts and shows the same dialog for. It starts on filterIndex of filter (as
// LoadFilterString makes it) and on the name in file (MAX_PATH characters, the result's place);
// extension goes to a name typed without one.
OPENFILENAMEA FileDialogData(HWND owner, const ByteBuffer& filter, DWORD filterIndex, char* file,
                             const char* extension, DWORD flags);
