#include "strutil.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* in;
    const char* basename;
    const char* parent;
};

TEST(StrutilPaths, BasenameAndParentFollowTheSlashRules) {
    const PathCase cases[] = {
        {"/", "/", ""},
        {"", "", ""},
        {"/home", "home", "/"},
        {"/home/anna/", "anna", "/home"},
        {"/home/anna///", "anna", "/home"},
        {"file", "file", ""},
        {"dir/file", "file", "dir"},
        {"//", "", ""},
        {"/a/b/c.txt", "c.txt", "/a/b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(su::basename_of(c.in), c.basename) << "basename_of(" << c.in << ")";
        EXPECT_EQ(su::parent_of(c.in), c.parent) << "parent_of(" << c.in << ")";
    }
}

TEST(StrutilPaths, JoinAddsExactlyOneSlashAndNeverNormalises) {
    EXPECT_EQ(su::join_path("", "b"), "b");
    EXPECT_EQ(su::join_path("a", ""), "a");
    EXPECT_EQ(su::join_path("/", "etc"), "/etc");
    EXPECT_EQ(su::join_path("/home/", "anna"), "/home/anna");
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
        {"", ""},
        {".", ""},
        {"x.TaR", "tar"},
        {"f.\xC3\x89T", "\xC3\x89t"},
    };
    for (const auto& [name, ext] : cases)
        EXPECT_EQ(su::extension_of(name), ext) << name;
    EXPECT_EQ(su::lower_ascii("ABC\xC3\x89xyz"), "abc\xC3\x89xyz");
}

TEST(StrutilUtf8, ValidityIsStructural) {
    EXPECT_TRUE(su::is_valid_utf8(""));
    EXPECT_TRUE(su::is_valid_utf8("plain"));
    EXPECT_TRUE(su::is_valid_utf8("a\xC3\xA9"));             // é
    EXPECT_TRUE(su::is_valid_utf8("\xF0\x9F\x93\xA6"));      // 📦
    EXPECT_TRUE(su::is_valid_utf8("\xC0\x80"));              // overlong, accepted
    EXPECT_TRUE(su::is_valid_utf8("\xED\xA0\x80"));          // surrogate, accepted
    EXPECT_FALSE(su::is_valid_utf8("\xE2\x82"));             // truncated at the end
    EXPECT_FALSE(su::is_valid_utf8("\x80"));                 // continuation as lead
    EXPECT_FALSE(su::is_valid_utf8("\xF8\x88\x80\x80\x80")); // five-byte lead
    EXPECT_FALSE(su::is_valid_utf8("\xC3("));                // lead without its continuation
    EXPECT_FALSE(su::is_valid_utf8("\xC3\xC3"));             // a lead where a continuation belongs
}

TEST(StrutilUtf8, SanitizeReplacesEachBrokenByteOnItsOwn) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(su::sanitize_utf8("\xE2x"), fffd + "x");
    EXPECT_EQ(su::sanitize_utf8("\xE2\x82"), fffd + fffd);
    EXPECT_EQ(su::sanitize_utf8("ok\xFF\xC3\xA9"), "ok" + fffd + "\xC3\xA9");
    EXPECT_EQ(su::sanitize_utf8("a\xC3\xA9"), "a\xC3\xA9");
    EXPECT_EQ(su::sanitize_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    // The result is always valid, whatever goes in.
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_TRUE(su::is_valid_utf8(su::sanitize_utf8(all)));
}

TEST(StrutilUtf8, TruncateNeverSplitsACharacter) {
    const std::string ae = "a\xC3\xA9"; // three bytes
    EXPECT_EQ(su::truncate_utf8(ae, 2), "a");
    EXPECT_EQ(su::truncate_utf8(ae, 3), ae);
    EXPECT_EQ(su::truncate_utf8(ae, 99), ae);
    const std::string box = "\xF0\x9F\x93\xA6\xF0\x9F\x93\xA6"; // two four-byte characters
    for (std::size_t limit = 0; limit <= box.size(); ++limit) {
        const std::string cut = su::truncate_utf8(box, limit);
        EXPECT_LE(cut.size(), limit);
        EXPECT_EQ(cut.size() % 4, 0u) << "limit " << limit;
        EXPECT_TRUE(su::is_valid_utf8(cut));
    }
}

} // namespace
