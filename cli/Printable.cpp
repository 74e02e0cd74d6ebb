#include "cli/Printable.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], its character in c; 0 when none
// starts there (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF).
size_t Decode(const std::string& text, size_t at, uint32_t& c) {
    const auto byte = [&](size_t i) { return uint8_t(text[at + i]); };
    const uint8_t lead = byte(0);
    size_t length;
    uint32_t lowest;
    if (lead < 0x80) {
        c = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, lowest = 0x80, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, lowest = 0x800, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, lowest = 0x10000, c = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        c = c << 6 | (byte(i) & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Unicode's East Asian Wide and Fullwidth ranges, and the combining marks, in short.
unsigned Columns(uint32_t c) {
    static const uint32_t Wide[][2] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    static const uint32_t None[][2] = {
        {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x20D0, 0x20FF}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    };
    for (const auto& range : None)
        if (c >= range[0] && c <= range[1]) return 0;
    for (const auto& range : Wide)
        if (c >= range[0] && c <= range[1]) return 2;
    return 1;
}

void Escape(std::string& out, uint8_t b) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(b));
    out += escaped;
}

}  // namespace

std::string Printable(const std::string& path) {
    std::string out;
    for (size_t at = 0; at < path.size();) {
        uint32_t c = 0;
        const size_t length = Decode(path, at, c);
        if (length == 0) {
            Escape(out, uint8_t(path[at++]));
            continue;
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (IsControl(c)) {
            for (size_t i = 0; i < length; ++i) Escape(out, uint8_t(path[at + i]));
        } else {
            out.append(path, at, length);
        }
        at += length;
    }
    return out;
}

size_t DisplayColumns(const std::string& text) {
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        uint32_t c = 0;
        const size_t length = Decode(text, at, c);
        columns += length ? Columns(c) : 1;
        at += length ? length : 1;
    }
    return columns;
}

std::string TailInColumns(const std::string& text, size_t columns) {
    if (DisplayColumns(text) <= columns) return text;
    static const char Cut[] = "...";
    if (columns < sizeof Cut - 1) return std::string(columns, '.');
    // Where each character starts, to take whole ones from the end.
    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size();) {
        uint32_t c = 0;
        const size_t length = Decode(text, at, c);
        starts.push_back(at);
        at += length ? length : 1;
    }
    size_t room = columns - (sizeof Cut - 1);
    size_t from = text.size();
    for (size_t i = starts.size(); i-- > 0;) {
        const std::string one = text.substr(starts[i], from - starts[i]);
        const size_t width = DisplayColumns(one);
        if (width > room) break;
        room -= width;
        from = starts[i];
    }
    return Cut + text.substr(from);
}
