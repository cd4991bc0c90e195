#include "strutil.h"

namespace su {

namespace {

// Length of the well-formed sequence starting at s[i], or 0 when none does.
std::size_t sequence_length(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0)
        len = 2;
    else if ((lead & 0xF0) == 0xE0)
        len = 3;
    else if ((lead & 0xF8) == 0xF0)
        len = 4;
    else
        return 0;
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (c < 0x80 || c > 0xBF) return 0;
    }
    return len;
}

std::string_view without_trailing_slashes(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

} // namespace

std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string basename_of(std::string_view path) {
    if (path == "/") return "/";
    const std::string_view p = without_trailing_slashes(path);
    const auto slash = p.rfind('/');
    if (slash == std::string_view::npos) return std::string(p);
    return std::string(p.substr(slash + 1));
}

std::string parent_of(std::string_view path) {
    if (path.empty()) return {};
    const std::string_view p = without_trailing_slashes(path);
    const auto slash = p.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return p.size() > 1 ? "/" : "";
    return std::string(p.substr(0, slash));
}

std::string join_path(std::string_view a, std::string_view b) {
    if (a.empty()) return std::string(b);
    if (b.empty()) return std::string(a);
    std::string out;
    out.reserve(a.size() + b.size() + 1);
    out.append(a);
    if (a.back() != '/') out.push_back('/');
    out.append(b);
    return out;
}

std::string_view raw_extension_of(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

std::string extension_of(std::string_view name) {
    return lower_ascii(std::string(raw_extension_of(name)));
}

std::string truncate_utf8(const std::string& s, std::size_t max_bytes) {
    if (max_bytes >= s.size()) return s;
    std::size_t pos = max_bytes;
    while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80)
        --pos;
    return s.substr(0, pos);
}

bool is_valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = sequence_length(s, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string sanitize_utf8(std::string_view s) {
    if (is_valid_utf8(s)) return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = sequence_length(s, i);
        if (len == 0) {
            out.append("\xEF\xBF\xBD");
            ++i;
        } else {
            out.append(s.substr(i, len));
            i += len;
        }
    }
    return out;
}

} // namespace su
