#include "file_category.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace {

FileCategory classify(const char* name, mode_t mode = S_IFREG | 0644) {
    return category::classify_file(name, mode);
}

TEST(CategoryTable, ExtensionsAreLowerCasedAndTheLastDotDecides) {
    EXPECT_EQ(classify("Photo.JPG"), FileCategory::Image);
    EXPECT_EQ(classify("archive.tar.gz"), FileCategory::Archive);
    EXPECT_EQ(classify("Makefile"), FileCategory::Other);
    EXPECT_EQ(classify("x.makefile"), FileCategory::Code);
    EXPECT_EQ(classify("system.journal"), FileCategory::System);
    EXPECT_EQ(classify("a.verylongextensionthatisnotknown"), FileCategory::Other);
}

TEST(CategoryTable, FirstListWinsForExtensionsListedTwice) {
    EXPECT_EQ(category::from_extension("ts"), FileCategory::Video);
    EXPECT_EQ(category::from_extension("csv"), FileCategory::Document);
    EXPECT_EQ(category::from_extension("appimage"), FileCategory::Archive);
    // from_extension expects lower case already; the scanner lower-cases.
    EXPECT_EQ(category::from_extension("JPG"), FileCategory::Other);
    EXPECT_EQ(category::from_extension(""), FileCategory::Other);
}

TEST(CategoryTable, NameAndModeDecideOnlyWhenTheExtensionSaysOther) {
    EXPECT_EQ(classify("libssl.so.3"), FileCategory::App);
    EXPECT_EQ(classify("libz.so"), FileCategory::App);
    EXPECT_EQ(classify("deploy", S_IFREG | 0755), FileCategory::App);
    EXPECT_EQ(classify("deploy", S_IFREG | 0001), FileCategory::App);
    EXPECT_EQ(classify("deploy", S_IFREG | 0644), FileCategory::Other);
    EXPECT_EQ(classify("notes.txt", S_IFREG | 0755), FileCategory::Document);
    // A symbolic link has every execute bit.
    EXPECT_EQ(classify("current", S_IFLNK | 0777), FileCategory::App);
    EXPECT_EQ(category::from_name_and_mode("libx.so.txt", 0644), FileCategory::App);
    EXPECT_EQ(category::from_name_and_mode("so", 0644), FileCategory::Other);
}

TEST(CategoryTable, OutOfRangeValuesReadAsOther) {
    for (int v : {10, 1000, -1}) {
        const auto c = static_cast<FileCategory>(v);
        EXPECT_STREQ(category::label_key(c), "Other") << v;
        EXPECT_DOUBLE_EQ(category::base_hue(c), category::base_hue(static_cast<FileCategory>(11)));
    }
    const auto& order = category::legend_order();
    EXPECT_EQ(std::set<FileCategory>(order.begin(), order.end()).size(), order.size());
}

} // namespace
