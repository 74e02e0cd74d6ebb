// WinMain.cpp: the program's entry and its message loop.
#include <windows.h>

#include <commctrl.h>

#include "res/resource.h"
#include "ui/MainDialog.h"
#include "ui/Settings.h"
#include "win/Globals.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InitCommonControls();  // registers the up-down control's class before the dialog needs it
    GetSettingsPath(SettingsPath);
    AppInstance = instance;
    MainWindow = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(),
                                    MainDialogProc, 0);
    if (MainWindow == nullptr) return 0;
    ShowWindow(MainWindow, SW_SHOW);
    UpdateWindow(MainWindow);
    HACCEL accelerators = LoadAcceleratorsA(AppInstance, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    MSG message = {};
    for (;;) {
        BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0 || result == -1) break;
        // Accelerators first, for every message of the thread: Ctrl+O and F1 then work wherever
        // the focus is inside the dialog. IsDialogMessage must see keys before dispatch, or Tab,
        // Enter and the mnemonics do nothing in a modeless dialog.
        if (TranslateAcceleratorA(MainWindow, accelerators, &message)) continue;
        if (IsDialogMessageA(MainWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
