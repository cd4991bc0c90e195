// Byte-string helpers for file names and paths.
//
// Every function works on bytes and never consults the locale, so the scan
// workers may call them from any thread. Paths are not normalised: callers
// that need "." and ".." resolved do it themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace su {

// A to Z become a to z; every other byte, including 0x80 and above, is kept.
std::string lower_ascii(std::string s);

bool starts_with(std::string_view s, std::string_view prefix);
bool ends_with(std::string_view s, std::string_view suffix);

// "/" -> "/"; trailing slashes ignored; "/home/anna/" -> "anna"; "" -> "".
std::string basename_of(std::string_view path);

// Trailing slashes ignored; "/home" -> "/", "/home/anna/" -> "/home";
// "/" -> "", "file" -> "", "" -> "".
std::string parent_of(std::string_view path);

// Joins with exactly one "/" unless either side is empty; no normalisation.
std::string join_path(std::string_view a, std::string_view b);

// Lower-cased text after the last "." of a file name; empty when there is no
// dot, the dot is the first or the last byte. Does not stop at "/".
std::string extension_of(std::string_view name);

// Like extension_of, but returns a view into `name` without lower-casing, so
// hot paths can look the extension up without allocating.
std::string_view raw_extension_of(std::string_view name);

// At most `max_bytes` bytes, never splitting a multi-byte character.
std::string truncate_utf8(const std::string& s, std::size_t max_bytes);

// Structural UTF-8 check (lead/continuation bytes only; overlong forms,
// surrogates and values above U+10FFFF are accepted).
bool is_valid_utf8(std::string_view s);

// `s` unchanged when valid; otherwise every byte that starts no well-formed
// sequence becomes U+FFFD on its own.
std::string sanitize_utf8(std::string_view s);

} // namespace su
