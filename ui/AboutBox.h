// AboutBox.h: the About box with version texts and contact links, and the help command.
#pragma once
#include <windows.h>

#include "win/Handles.h"

// The bold font of the About box's title, made each time the box opens and deleted when it closes.
extern FontHandle AboutTitleFont;

// Dialog procedure of the About box; TRUE only for WM_INITDIALOG.
INT_PTR CALLBACK AboutDialogProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

// Opens "tonflux.html" beside the program with the shell; failures show one error box on owner.
void OpenHelpFile(HWND owner);
