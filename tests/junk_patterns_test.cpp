#include "junk_patterns.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Junk, NamesExactlyLocationsWithTheFolderItselfAndAppCachesOnly) {
    const std::pair<const char*, bool> cases[] = {
        // Names match exactly and case-sensitively.
        {"/home/anna/proj/node_modules", true},
        {"/x/Cache", true},
        {"/x/CACHE", false},
        {"/srv/build", true},
        {"/srv/builds", false},
        {"/media/usb/.Trash", true},
        {"/home/anna/report.pdf", false},
        // Locations include the folder itself.
        {"/home/anna/.cache", true},
        {"/home/anna/.cache/mesa/x.bin", true},
        {"/var/tmp", true},
        {"/vartmp", false},
        {"/var/cache/apt/archives", true},
        {"/var/cache/apt", false},
        {"/home/anna/.local/share/Trash/info", true},
        {"/media/usb/.Trash-1000/files/photo.jpg", true},
        {"/var/lib/systemd/coredump", true},
        {"/home/anna/go/pkg/mod", false},
        {"/home/anna/go/pkg/mod/cache/x", true},
        // Snap and Flatpak folders count only in their caches, which must come
        // after the application folder; a later fragment still decides.
        {"/home/anna/snap/app/common/.cache/f", true},
        {"/snap/core22/1234/usr/lib", false},
        {"/home/anna/snap/app/common", false},
        {"/home/anna/.var/app/org.example.App/cache", true},
        {"/home/anna/.var/app/org.example.App/config", false},
        {"/home/anna/.var/app/org.example.App/config/Cache/x", true},
        {"/srv/cache/.var/app/org.example.App/config/x", false},
        {"/snap/core22/var/tmp/f", true},
    };
    for (const auto& [path, junk] : cases) {
        const std::string p = path;
        EXPECT_EQ(junk::is_junk(p.substr(p.rfind('/') + 1), p), junk) << p;
    }
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
