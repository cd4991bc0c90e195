#include "junk_patterns.h"

#include <gtest/gtest.h>

namespace {

struct JunkCase {
    const char* name;
    const char* path;
    bool junk;
};

TEST(Junk, NamesMatchExactlyAndCaseSensitively) {
    const JunkCase cases[] = {
        {"node_modules", "/home/anna/proj/node_modules", true},
        {"cache", "/home/anna/notes/cache", true},
        {"Cache", "/x/Cache", true},
        {"CACHE", "/x/CACHE", false},
        {"build", "/srv/build", true},
        {"builds", "/srv/builds", false},
        {".Trash", "/media/usb/.Trash", true},
        {"target", "/home/anna/rust/target", true},
        {"report.pdf", "/home/anna/report.pdf", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(junk::is_junk(c.name, c.path), c.junk) << c.path;
}

TEST(Junk, LocationsIncludeTheFolderItselfThroughTheAppendedSlash) {
    const JunkCase cases[] = {
        {".cache", "/home/anna/.cache", true},
        {"x.bin", "/home/anna/.cache/mesa/x.bin", true},
        {"tmp", "/var/tmp", true},
        {"f", "/var/tmp/f", true},
        {"vartmp", "/vartmp", false},
        {"archives", "/var/cache/apt/archives", true},
        {"apt", "/var/cache/apt", false},
        {"Trash", "/home/anna/.local/share/Trash", true},
        {"info", "/home/anna/.local/share/Trash/info", true},
        {".Trash-1000", "/media/usb/.Trash-1000", true},
        {"photo.jpg", "/media/usb/.Trash-1000/files/photo.jpg", true},
        {"coredump", "/var/lib/systemd/coredump", true},
        {"mod", "/home/anna/go/pkg/mod", false},
        {"x", "/home/anna/go/pkg/mod/cache/x", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(junk::is_junk(c.name, c.path), c.junk) << c.path;
}

TEST(Junk, SnapAndFlatpakFoldersCountOnlyInTheirCaches) {
    const JunkCase cases[] = {
        {"f", "/home/anna/snap/app/common/.cache/f", true},
        {"lib", "/snap/core22/1234/usr/lib", false},
        {"common", "/home/anna/snap/app/common", false},
        {"cache", "/home/anna/.var/app/org.example.App/cache", true},
        {"config", "/home/anna/.var/app/org.example.App/config", false},
        {"x", "/home/anna/.var/app/org.example.App/config/Cache/x", true},
        // The cache part must come after the application folder.
        {"x", "/srv/cache/.var/app/org.example.App/config/x", false},
        // A later fragment still decides when the snap rule did not count.
        {"f", "/snap/core22/var/tmp/f", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(junk::is_junk(c.name, c.path), c.junk) << c.path;
}

TEST(Junk, DegenerateInputsAreNotJunk) {
    EXPECT_FALSE(junk::is_junk("", ""));
    EXPECT_FALSE(junk::is_junk("/", "/"));
    EXPECT_FALSE(junk::is_junk("a", "a"));
}

} // namespace
