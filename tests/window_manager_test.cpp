// geometry.json: the exact text, the reading rules, and the live manager in
// child processes with their own XDG_CONFIG_HOME.
#include "window_manager.h"

#include <cstdlib>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "temp_tree.h"

using namespace testing_support;

namespace {

bool same(const WindowGeometry& g, int w, int h, bool maximized, bool valid) {
    return g.width == w && g.height == h && g.maximized == maximized && g.valid == valid;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int entries_in(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    ::closedir(d);
    return n;
}

} // namespace

TEST(GeometryText, WrittenExactly) {
    EXPECT_EQ(geometry_io::to_text(1280, 800, false),
              "{\n  \"width\": 1280,\n  \"height\": 800,\n  \"maximized\": false\n}\n");
    EXPECT_EQ(geometry_io::to_text(600, 400, true),
              "{\n  \"width\": 600,\n  \"height\": 400,\n  \"maximized\": true\n}\n");
}

TEST(GeometryText, ReadingRules) {
    struct Case {
        const char* text;
        int width;
        int height;
        bool maximized;
    };
    const Case cases[] = {
        {"{\n  \"width\": 1280,\n  \"height\": 800,\n  \"maximized\": false\n}\n", 1280, 800,
         false},
        {"{\n  \"width\": 1280,\n  \"height\": 800,\n  \"maximized\": true\n}\n", 1280, 800, true},
        {"{}", 1100, 720, false},
        {"", 1100, 720, false},
        {R"({"width": 1280, "height": 800, "maximized":true})", 1280, 800, false},
        {R"({"width": 1280, "height": 800, "maximized":  true})", 1280, 800, false},
        {R"({"width": 719, "height": 479})", 1100, 720, false},
        {R"({"width": 720, "height": 480})", 720, 480, false},
        {R"({"width": -2000, "height": +900})", 1100, 900, false},
        {R"({"width":   1300px, "height": 900e3})", 1300, 900,
         false}, // like stoi: the rest ignored
        {R"({"width": 99999999999, "height": 2147483647})", 1100, 2147483647, false},
        {R"({"width": 2147483648, "height": -2147483648})", 1100, 720, false},
        {R"({"width": "wide", "height": })", 1100, 720, false},
        {R"({"width" 1300})", 1100, 720, false},
        {"{\"width\":\n\t1500,\"height\": 1000}", 1500, 1000, false},
    };
    for (const Case& c : cases) {
        const WindowGeometry g = geometry_io::from_text(c.text);
        EXPECT_TRUE(same(g, c.width, c.height, c.maximized, true))
            << c.text << " -> " << g.width << "x" << g.height << " " << g.maximized;
    }
}

TEST(WindowManagerLive, SmallWindowsNeverOverwriteAndMaximizedOnesDo) {
    TempTree tree;
    const int rc = run_in_child([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        const std::string file = tree.root() + "/Spacemole/geometry.json";
        WindowManager& wm = WindowManager::instance();
        if (WindowManager::path() != file) return false;
        if (!same(wm.load(), 0, 0, false, false)) return false; // no file yet

        wm.save(600, 900, false); // too narrow: nothing written
        if (exists(file)) return false;
        wm.save(1280, 800, false);
        if (read_file(file) != geometry_io::to_text(1280, 800, false)) return false;
        if (!same(wm.load(), 1280, 800, false, true)) return false;
        wm.save(1000, 300, false); // too low: the stored size stays
        if (!same(wm.load(), 1280, 800, false, true)) return false;

        wm.save(600, 400, true);
        if (read_file(file) != geometry_io::to_text(600, 400, true)) return false;
        return same(wm.load(), 1100, 720, true, true) && !exists(file + ".tmp");
    });
    EXPECT_EQ(rc, 0);
}

TEST(WindowManagerLive, CorruptFileGivesDefaultSize) {
    TempTree tree;
    write_file(tree.root() + "/Spacemole/geometry.json", "<xml width=\"5000\"/>\n\xff\xfe");
    const int rc = run_in_child([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        return same(WindowManager::instance().load(), 1100, 720, false, true);
    });
    EXPECT_EQ(rc, 0);
}

TEST(WindowManagerLive, UnwritableFolderLeavesTheOldFileIntact) {
    TempTree tree;
    const std::string file = tree.root() + "/Spacemole/geometry.json";
    const std::string old_text = geometry_io::to_text(1500, 900, false);
    write_file(file, old_text);
    tree.chmod("Spacemole", 0555);
    const int rc = run_unprivileged([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        WindowManager& wm = WindowManager::instance();
        wm.save(2000, 1200, true);
        return same(wm.load(), 1500, 900, false, true);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(read_file(file), old_text);
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST(WindowManagerLive, NoFolderKeepsTheGeometryInMemoryAndWritesNothing) {
    TempTree tree;
    const std::string cwd = tree.dir("cwd");
    const int rc = run_in_child([&cwd] {
        if (::chdir(cwd.c_str()) != 0) return false;
        WindowManager& wm = WindowManager::instance();
        if (!same(wm.load_from(""), 0, 0, false, false)) return false;
        if (wm.save_to("", 1300, 850, false)) return false;
        if (!same(wm.load_from(""), 1300, 850, false, true)) return false;
        wm.save_to("", 500, 500, false); // small: the remembered size stays
        return same(wm.load_from(""), 1300, 850, false, true);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(entries_in(cwd), 0);
}
