#include "ui/Globals.h"

HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
DWORD OpenFilterIndex = 1;
DWORD SaveFilterIndex = 1;
