#include "win/FileDialog.h"

#include <cstddef>

#include "win/Globals.h"

namespace {

// The structure as it was before the three trailing fields of later systems.
constexpr DWORD Version4Size =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
#ifndef _WIN64
static_assert(Version4Size == 76, "OPENFILENAME_SIZE_VERSION_400A");
#endif

}  // namespace

OPENFILENAMEA FileDialogData(HWND owner, const ByteBuffer& filter, DWORD filterIndex, char* file,
                             const char* extension, DWORD flags) {
    OPENFILENAMEA data = {};
    data.lStructSize = Version4Size;
    data.hwndOwner = owner;
    data.hInstance = AppInstance;
    data.lpstrFilter = reinterpret_cast<const char*>(filter.Data());
    data.nFilterIndex = filterIndex;
    data.lpstrFile = file;
    data.nMaxFile = MAX_PATH;
    data.lpstrDefExt = extension;
    data.Flags = flags;
    return data;
}
