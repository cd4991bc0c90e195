#include "strutil.h"

#include <gtest/gtest.h>

namespace {

TEST(StrutilPaths, BasenameParentAndJoinFollowTheSlashRules) {
    struct Case {
        const char *in, *basename, *parent;
    } cases[] = {
        {"/", "/", ""},         {"", "", ""},
        {"/home", "home", "/"}, {"/home/anna///", "anna", "/home"},
        {"file", "file", ""},   {"dir/file", "file", "dir"},
        {"//", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(su::basename_of(c.in), c.basename) << c.in;
        EXPECT_EQ(su::parent_of(c.in), c.parent) << c.in;
    }
    // Exactly one slash, never normalised.
    EXPECT_EQ(su::join_path("", "b"), "b");
    EXPECT_EQ(su::join_path("a", ""), "a");
    EXPECT_EQ(su::join_path("/", "etc"), "/etc");
    EXPECT_EQ(su::join_path("/home", "/anna"), "/home//anna");
    EXPECT_EQ(su::join_path("a/./", "../b"), "a/./../b");
}

TEST(StrutilExtensions, LastDotDecidesAndOnlyAsciiIsLowered) {
    const std::pair<const char*, const char*> cases[] = {
        {"archive.tar.gz", "gz"},
        {"Photo.JPG", "jpg"},
        {".bashrc", ""},
        {"notes.", ""},
        {"Makefile", ""},
        {"a.b/c", "b/c"},
        {".", ""},
        {"f.\xC3\x89T", "\xC3\x89t"},
    };
    for (const auto& [name, ext] : cases)
        EXPECT_EQ(su::extension_of(name), ext) << name;
}

TEST(StrutilUtf8, ValidityIsStructuralAndSanitizeReplacesEachBrokenByte) {
    for (const char* valid : {"", "a\xC3\xA9", "\xF0\x9F\x93\xA6", "\xC0\x80" /* overlong */,
                              "\xED\xA0\x80" /* surrogate */})
        EXPECT_TRUE(su::is_valid_utf8(valid)) << valid;
    const std::string_view broken[] = {
        "\xE2\x82", "\x80", "\xF8\x88\x80\x80\x80", "\xC3(", "\xC3\xC3", "\xC3\xFF",
        // Truncated at the end of the view, though the buffer goes on.
        std::string_view("\xE2\x82\xAC", 2)};
    for (const std::string_view b : broken)
        EXPECT_FALSE(su::is_valid_utf8(b)) << b;

    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(su::sanitize_utf8("\xE2x"), fffd + "x");
    EXPECT_EQ(su::sanitize_utf8("\xE2\x82"), fffd + fffd);
    EXPECT_EQ(su::sanitize_utf8("ok\xFF\xC3\xA9"), "ok" + fffd + "\xC3\xA9");
    EXPECT_EQ(su::sanitize_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    std::string all; // the result is always valid, whatever goes in
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_TRUE(su::is_valid_utf8(su::sanitize_utf8(all)));
}

TEST(StrutilUtf8, TruncateNeverSplitsACharacter) {
    EXPECT_EQ(su::truncate_utf8("a\xC3\xA9", 2), "a");
    EXPECT_EQ(su::truncate_utf8("a\xC3\xA9", 99), "a\xC3\xA9");
    const std::string box = "\xF0\x9F\x93\xA6\xF0\x9F\x93\xA6"; // two four-byte characters
    for (std::size_t limit = 0; limit <= box.size(); ++limit)
        EXPECT_EQ(su::truncate_utf8(box, limit).size(), limit / 4 * 4) << limit;
}

} // namespace
