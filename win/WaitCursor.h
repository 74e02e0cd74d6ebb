// WaitCursor.h: the busy cursor for as long as at least one WaitCursor lives. Nests.
#pragma once

class WaitCursor {
public:
    WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    virtual ~WaitCursor();

private:
    static void Adjust(int change);
};
