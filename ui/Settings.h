// Settings.h: the options and the window position, kept in "tonflux.ini" beside the program.
#pragma once
#include <windows.h>

// The program's directory followed by "\tonflux.ini"; empty when that path does not fit, and
// then nothing is read from or written to any file.
extern char SettingsPath[MAX_PATH];
// The main window's last recorded position; only left and top are used.
extern RECT WindowRect;

// Fills directory (MAX_PATH characters) with the running program's folder, no trailing
// backslash. False, with directory empty, when the program's own path does not fit.
bool GetModuleDirectory(char* directory);
// Appends fileName to path (MAX_PATH characters) after a backslash. False, with path left as it
// was, when the result would not fit.
bool AppendFileName(char* path, const char* fileName);
// GetModuleDirectory followed by "\tonflux.ini"; false, with path empty, when that does not fit.
bool GetSettingsPath(char* path);

// Reads the file into the main dialog's controls and moves the window; once, while it opens.
void LoadSettings(HWND dialog);
// Records where the window is unless it is minimized; on every end of a move.
void TrackWindowPosition(HWND dialog);
// Writes the controls and the recorded position; once, when the main dialog closes.
void SaveSettings(HWND dialog);
