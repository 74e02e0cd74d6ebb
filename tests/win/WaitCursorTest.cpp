#include <gtest/gtest.h>

#include <windows.h>

#include "win/WaitCursor.h"

TEST(WaitCursor, NestedLevelsKeepWaitingAndTheOutermostRestores) {
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    HCURSOR before = LoadCursorA(nullptr, IDC_CROSS);
    SetCursor(before);
    {
        WaitCursor outer;
        EXPECT_EQ(GetCursor(), wait);
        {
            WaitCursor inner;
            EXPECT_EQ(GetCursor(), wait);
            // A message box may have shown the arrow meanwhile; leaving a level fixes that.
            SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        }
        EXPECT_EQ(GetCursor(), wait);
    }
    EXPECT_EQ(GetCursor(), before);

    // The next outermost level saves the cursor current then, not the first one.
    HCURSOR later = LoadCursorA(nullptr, IDC_IBEAM);
    SetCursor(later);
    { WaitCursor again; }
    EXPECT_EQ(GetCursor(), later);
}
