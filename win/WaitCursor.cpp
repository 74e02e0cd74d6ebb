#include "win/WaitCursor.h"

#include <windows.h>

namespace {
int Nesting = 0;
HCURSOR SavedCursor = nullptr;  // current when the outermost level was entered
}  // namespace

WaitCursor::WaitCursor() {
    Adjust(+1);
}

WaitCursor::~WaitCursor() {
    Adjust(-1);
}

void WaitCursor::Adjust(int change) {
    Nesting += change;
    if (Nesting > 0) {
        // Set again on every change: a message box shown meanwhile may have put the arrow back.
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        if (change > 0 && Nesting == 1) SavedCursor = previous;
    } else {
        Nesting = 0;
        SetCursor(SavedCursor);
    }
}
