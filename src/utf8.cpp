#include "utf8.h"

#include <cstdio>

namespace utf8 {

namespace {

// Shown escaped in a terminal: they reorder or break the line around them,
// so a name could pass itself off as another.
bool is_format_hazard(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

void append_hex_byte(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

} // namespace

std::size_t decode(std::string_view s, std::size_t at, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0; // overlong
        if (c == 0xED) hi = 0x9F; // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        if (c == 0xF0) lo = 0x90; // overlong
        if (c == 0xF4) hi = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() - at < len) return 0;
    if (byte(at + 1) < lo || byte(at + 1) > hi) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    return len;
}

bool is_strict(std::string_view s) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = decode(s, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string repair(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = decode(text, i, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

std::string escape_for_terminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = decode(text, i, cp);
        if (len == 0) {
            append_hex_byte(out, static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp == '\\') {
            out += "\\\\";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp < 0x20 || cp == 0x7F) {
            append_hex_byte(out, static_cast<unsigned char>(cp));
        } else if (is_format_hazard(cp)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%04X}", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out;
}

} // namespace utf8
