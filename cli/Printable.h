// Printable.h: names as a report line may hold them.
#pragma once
#include <cstdio>
#include <string>

// A path as a report line may hold it: control bytes would break the one line per file that
// logs rely on, so they are shown escaped.
inline std::string Printable(const std::string& path) {
    std::string out;
    for (const char c : path) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(b));
            out += escaped;
        }
    }
    return out;
}
