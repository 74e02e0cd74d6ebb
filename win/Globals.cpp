#include "win/Globals.h"

HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
DWORD SaveFilterIndex = 1;
DWORD MidiSaveFilterIndex = 1;
