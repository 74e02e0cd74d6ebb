#include "ui/Settings.h"

#include "core/ConversionOptions.h"
#include "res/resource.h"

char SettingsPath[MAX_PATH];
RECT WindowRect;

namespace {

const char Section[] = "Main";
const char BufferSizeKey[] = "StreamBufferSize";
const char RunningStatusKey[] = "UseRunningStatus";
const char OmitStreamIdsKey[] = "CompressStreamID";
const char LeftKey[] = "Left";
const char TopKey[] = "Top";

// Without a settings path the defaults stand: an empty file name would send the profile
// functions to WIN.INI.
int ReadNumber(const char* key, int defaultValue) {
    if (SettingsPath[0] == '\0') return defaultValue;
    return static_cast<int>(GetPrivateProfileIntA(Section, key, defaultValue, SettingsPath));
}

void WriteNumber(const char* key, int value) {
    char text[16];
    wsprintfA(text, "%d", value);
    WritePrivateProfileStringA(Section, key, text, SettingsPath);
}

}  // namespace

bool GetModuleDirectory(char* directory) {
    DWORD length = GetModuleFileNameA(nullptr, directory, MAX_PATH);
    // A path that filled the whole buffer was cut short (and older systems leave it without
    // its NUL): no directory taken from it would be the right one.
    if (length == 0 || length >= MAX_PATH) {
        directory[0] = '\0';
        return false;
    }
    char* lastBackslash = nullptr;
    for (char* p = directory; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\') lastBackslash = p;
    }
    if (lastBackslash != nullptr) *lastBackslash = '\0';
    return true;
}

bool AppendFileName(char* path, const char* fileName) {
    if (lstrlenA(path) + 1 + lstrlenA(fileName) >= MAX_PATH) return false;
    lstrcatA(path, "\\");
    lstrcatA(path, fileName);
    return true;
}

bool GetSettingsPath(char* path) {
    if (GetModuleDirectory(path) && AppendFileName(path, "tonflux.ini")) return true;
    path[0] = '\0';
    return false;
}

void LoadSettings(HWND dialog) {
    UINT bufferSize = static_cast<UINT>(ReadNumber(BufferSizeKey, DefaultBufferKilobytes));
    SetDlgItemInt(dialog, IDC_BUFFER_SIZE, LimitBufferKilobytes(bufferSize), FALSE);
    CheckDlgButton(dialog, IDC_USE_RUNNING_STATUS,
                   ReadNumber(RunningStatusKey, 1) == 1 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OMIT_STREAM_IDS,
                   ReadNumber(OmitStreamIdsKey, 0) == 1 ? BST_CHECKED : BST_UNCHECKED);
    WindowRect.left = ReadNumber(LeftKey, 0);
    WindowRect.top = ReadNumber(TopKey, 0);
    // Not checked against the monitors: a position the user chose off-screen is kept.
    SetWindowPos(dialog, nullptr, WindowRect.left, WindowRect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TrackWindowPosition(HWND dialog) {
    // A minimized window sits at a parking position that must not become the saved one.
    if (!IsIconic(dialog)) GetWindowRect(dialog, &WindowRect);
}

void SaveSettings(HWND dialog) {
    if (SettingsPath[0] == '\0') return;
    BOOL isNumber = FALSE;
    UINT bufferSize = GetDlgItemInt(dialog, IDC_BUFFER_SIZE, &isNumber, FALSE);
    WriteNumber(BufferSizeKey,
                int(isNumber ? LimitBufferKilobytes(bufferSize) : DefaultBufferKilobytes));
    WriteNumber(RunningStatusKey, IsDlgButtonChecked(dialog, IDC_USE_RUNNING_STATUS) != 0 ? 1 : 0);
    WriteNumber(OmitStreamIdsKey, IsDlgButtonChecked(dialog, IDC_OMIT_STREAM_IDS) != 0 ? 1 : 0);
    WriteNumber(LeftKey, WindowRect.left);
    WriteNumber(TopKey, WindowRect.top);
}
