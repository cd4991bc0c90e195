#include "junk_patterns.h"

#include <algorithm>
#include <string>

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

// The scan reads each folder's path once and extends it per entry and per
// subfolder; every entry on the way down must get the answer a whole-path
// check gives, also where a pattern spans the folder's name and the entry's.
TEST(Junk, FolderByFolderAgreesWithTheWholePath) {
    const char* const paths[] = {
        "/home/anna/.cache/mesa/x.bin",
        "/home/anna/.var/app/org.x.Y/cache/z/f",
        "/home/anna/.var/app/org.x.Y/data/cache/f",
        "/home/anna/.var/app/org.x.Y/data/f",
        "/cache/.var/app/a/b",
        "/var/lib/systemd/coredump/core.1",
        "/srv/deep/a/b/c/d/e/f/g/h/i/j/k/l/var/cache/apt/archives/p.deb",
        "/srv/deep/a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z/.local/share/Trash/f",
        "/home/anna/snap/app/1/docs/report.pdf",
        "/home/anna/snap/app/common/.cache/f",
        "/media/usb/.Trash-1000/files/a",
        "/home/anna/go/pkg/mod/cache/download/x",
        "/home/anna/projects/app/src/main.cpp",
        "/",
    };
    for (const std::string full : paths) {
        std::string prefix = "/";
        junk::PathState state = junk::folder_state(prefix);
        std::size_t start = 1;
        while (start < full.size()) {
            const std::size_t end = std::min(full.find('/', start), full.size());
            const std::string name = full.substr(start, end - start);
            const std::string path = prefix + name;
            EXPECT_EQ(junk::is_junk(name, path, state), junk::is_junk(name, path)) << path;
            prefix = path + "/";
            state = junk::folder_state(prefix, &state);
            start = end + 1;
        }
    }
}

} // namespace
