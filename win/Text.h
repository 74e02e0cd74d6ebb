// Text.h: the program's narrow texts (the ANSI code page, 932 for Japanese) as the core takes
// file names: in UTF-8.
#pragma once
#include <string>

// False when ansi is not text of the ANSI code page or memory runs out; utf8 is then empty.
bool Utf8FromAnsi(const char* ansi, std::string& utf8);
