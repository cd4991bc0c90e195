// Strict UTF-8 for text that leaves the program: JSON for other readers and
// names printed in a terminal.
//
// "Strict" is what JSON readers and terminals accept: no surrogates, no
// overlong forms, nothing above U+10FFFF. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf8 {

// Length of the well-formed sequence starting at `at` (1 to 4), with its code
// point in `cp`; 0 when the byte there starts no well-formed sequence.
std::size_t decode(std::string_view s, std::size_t at, char32_t& cp);

bool is_strict(std::string_view s);

// `text` with every byte that starts no well-formed sequence as U+FFFD.
std::string repair(std::string_view text);

// `text` safe to print in a terminal, on one line: C0 controls, DEL and
// backslash as \t, \n, \r, \\ or \xHH; C1 controls, bidirectional overrides,
// marks and isolates and the line and paragraph separators as \u{HHHH}; each
// byte of an ill-formed sequence as \xHH. Everything else is kept as is.
std::string escape_for_terminal(std::string_view text);

} // namespace utf8
