#include "utf8.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

TEST(Utf8, TerminalTextShowsEveryHazardEscaped) {
    const std::pair<std::string, std::string> table[] = {
        {"plain name.txt", "plain name.txt"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
         "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"esc\x1b[31mred", "esc\\x1b[31mred"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\\\slash"},
        // C1 controls: U+009B is a one-byte CSI to some terminals.
        {"c1\xC2\x9B"
         "2J",
         "c1\\u{009B}2J"},
        {"\xC2\x80\xC2\x9F\xC2\xA0", "\\u{0080}\\u{009F}\xC2\xA0"},
        // Bidirectional overrides, isolates and marks reorder what follows.
        {"evil\xE2\x80\xAEtxt.exe", "evil\\u{202E}txt.exe"},
        {"\xE2\x81\xA6x\xE2\x81\xA9", "\\u{2066}x\\u{2069}"},
        {"\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", "\\u{200E}\\u{200F}\\u{061C}"},
        {"line\xE2\x80\xA8sep", "line\\u{2028}sep"},
        // Ill-formed UTF-8: each byte on its own.
        {"bad\xFF", "bad\\xff"},
        {"over\xC0\xAF", "over\\xc0\\xaf"},
        {"over\xE0\x80\xAF", "over\\xe0\\x80\\xaf"},
        {"sur\xED\xA0\x80", "sur\\xed\\xa0\\x80"},
        {"big\xF4\x90\x80\x80", "big\\xf4\\x90\\x80\\x80"},
        {"cut\xE6\x97", "cut\\xe6\\x97"},
        {"", ""},
    };
    for (const auto& [in, out] : table)
        EXPECT_EQ(utf8::escape_for_terminal(in), out) << in;
}

TEST(Utf8, StrictDecodingAcceptsTheEdgesOfEachRange) {
    const std::pair<std::string, bool> table[] = {
        {"\x7F", true},
        {"\xC2\x80", true},
        {"\xDF\xBF", true},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},
        {"\xEE\x80\x80", true},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xC1\xBF", false},
        {"\xE0\x9F\xBF", false},
        {"\xED\xA0\x80", false},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},
    };
    for (const auto& [in, ok] : table) {
        EXPECT_EQ(utf8::is_strict(in), ok) << in;
        EXPECT_EQ(utf8::is_strict(utf8::repair(in)), true) << in;
    }
}
