// WinTestMain.cpp: the entry of every Windows test program. The resources are linked into the
// test executable, so the program's own instance serves them as in tonflux.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include "win/Globals.h"

int main(int argc, char** argv) {
    AppInstance = GetModuleHandleA(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
