// Numbers, sizes, durations and dates as the user reads them.
//
// Every function formats with the "C" conventions of the C library and then
// applies the decimal mark, digit grouping and date pattern of the effective
// language (I18n). No state of its own: callable from any thread, also while
// the user-interface thread switches the language. Nothing throws;
// the failure cases of date() give "".
#pragma once

#include <cstdint>
#include <string>

namespace fmt {

// Binary multiples with the names B, KB, MB, GB, TB, PB; two decimals from MB
// up ("1.50 MB"), none for B and KB. The unit is picked before rounding, so
// 1,048,575 bytes show as "1,024 KB". Negative sizes show as 0 B.
std::string bytes(int64_t v);
// As bytes() with one decimal from MB up, for tight places ("1.5 MB").
std::string bytes_short(int64_t v);

// Grouped integer ("12,345"; "-1,234").
std::string count(int64_t n);
// "1 file", or "%s files" with count(n); both translated.
std::string files(int64_t n);
// One decimal and the translated unit "s" ("3.4 s"); never minutes.
std::string seconds(double s);
// Short local date by the language's pattern; "" for 0 (unknown time).
std::string date(int64_t t);

} // namespace fmt
