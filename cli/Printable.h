// Printable.h: names as a report line may hold them, and the room they take on a terminal.
#pragma once
#include <cstddef>
#include <string>

// A path as a report line may hold it: one line of UTF-8 that a terminal shows as it stands.
// Control characters (C0, DEL, and C1, which many terminals obey even as U+0080 to U+009F) would
// break the one line per file that logs rely on or steer the terminal, and bytes that are not
// UTF-8 would mix encodings on the line: all of them are shown escaped (\n, \t, \r, \xNN for each
// byte).
std::string Printable(const std::string& path);

// The columns text (as Printable makes it) takes on a terminal: two for a wide character (CJK,
// kana, Hangul, fullwidth forms, emoji), none for a combining mark, one for the rest.
size_t DisplayColumns(const std::string& text);

// text whole when it fits in columns; else its end behind "...", in columns at most.
std::string TailInColumns(const std::string& text, size_t columns);
