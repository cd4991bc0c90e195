#include "file_category.h"

#include <gtest/gtest.h>
#include <tuple>
#include <sys/stat.h>

namespace {

// The extension decides, lower-cased, by its last dot; the first list wins for
// extensions listed twice. Name and mode decide only when it says Other.
TEST(CategoryTable, ExtensionThenNameAndMode) {
    const std::tuple<const char*, mode_t, FileCategory> cases[] = {
        {"Photo.JPG", S_IFREG | 0644, FileCategory::Image},
        {"archive.tar.gz", S_IFREG | 0644, FileCategory::Archive},
        {"Makefile", S_IFREG | 0644, FileCategory::Other},
        {"x.makefile", S_IFREG | 0644, FileCategory::Code},
        {"system.journal", S_IFREG | 0644, FileCategory::System},
        {"a.verylongextensionthatisnotknown", S_IFREG | 0644, FileCategory::Other},
        {"clip.ts", S_IFREG | 0644, FileCategory::Video},
        {"t.csv", S_IFREG | 0644, FileCategory::Document},
        {"x.AppImage", S_IFREG | 0755, FileCategory::Archive},
        {"libssl.so.3", S_IFREG | 0644, FileCategory::App},
        {"libz.so", S_IFREG | 0644, FileCategory::App},
        {"deploy", S_IFREG | 0001, FileCategory::App},
        {"deploy", S_IFREG | 0644, FileCategory::Other},
        {"notes.txt", S_IFREG | 0755, FileCategory::Document},
        {"current", S_IFLNK | 0777, FileCategory::App}, // a link has every execute bit
        {"so", S_IFREG | 0644, FileCategory::Other},
    };
    for (const auto& [name, mode, expected] : cases)
        EXPECT_EQ(category::classify_file(name, mode), expected) << name;
    // from_extension expects lower case already; the scanner lower-cases.
    EXPECT_EQ(category::from_extension("JPG"), FileCategory::Other);
    EXPECT_EQ(category::from_name_and_mode("libx.so.txt", 0644), FileCategory::App);
}

TEST(CategoryTable, OutOfRangeValuesReadAsOther) {
    for (int v : {10, 1000, -1}) {
        const auto c = static_cast<FileCategory>(v);
        EXPECT_STREQ(category::label_key(c), "Other") << v;
        EXPECT_DOUBLE_EQ(category::base_hue(c), category::base_hue(static_cast<FileCategory>(11)));
    }
}

} // namespace
