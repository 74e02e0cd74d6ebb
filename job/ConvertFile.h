// ConvertFile.h: one conversion from an SMF path to a MIDI stream file chosen by the user.
#pragma once
#include <cstddef>

#include <windows.h>

// Converts the file at path (at most 259 characters), asking for the output path with the save
// dialog: an SMF into a MIDI stream file, and a MIDI stream file (known by its content, whatever
// its name) back into a standard MIDI file. Reports every failure itself in a message box on
// owner; everything it makes is released before it returns. The options come from the controls
// of MainWindow; the way back takes only the running status from them.
void ConvertFile(HWND owner, const char* path);

// Whether the file at path begins as a MIDI stream file does (RIFF form MIDS): its conversion then
// needs no buffer size. False for anything that cannot be read, which its conversion reports.
bool IsMdsFile(const char* path);

// The name the save dialog proposes for path: the part after the last backslash, slash or drive
// colon, up to the last dot after it. Double-byte characters of the ANSI code page are stepped
// over whole, so a trail byte 0x5C is no separator. Cut to capacity - 1 characters.
void ProposeBaseName(const char* path, char* name, size_t capacity);
