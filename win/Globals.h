// Globals.h: the program-wide values that the shell and the conversion job share. One thread
// touches them, so they are plain values.
#pragma once
#include <windows.h>

extern HINSTANCE AppInstance;      // every resource and dialog comes from here; set by WinMain
extern HWND MainWindow;            // the main dialog: owner of messages, source of the options
extern DWORD SaveFilterIndex;      // filter last chosen in the save dialog, starts at 1
extern DWORD MidiSaveFilterIndex;  // the same for the save dialog of the way back
