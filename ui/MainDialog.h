// MainDialog.h: the main window, a modeless dialog with the options and the convert command.
#pragma once
#include <windows.h>

// The filter last chosen in the open dialog; starts at 1 and is not saved in the settings.
extern DWORD OpenFilterIndex;

// Dialog procedure of the main dialog; TRUE for every message it handles.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// True when the buffer-size field of MainWindow holds a number from 1 to 63; otherwise shows the
// warning, puts the focus into the field and returns false.
bool ValidateBufferSizeField();
