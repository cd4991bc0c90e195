// geometry.json: the exact text, the reading rules, and the live manager's
// size rules in a child process with its own XDG_CONFIG_HOME. The file is
// written through the helpers settings_test.cpp proves on disk.
#include "window_manager.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

bool same(const WindowGeometry& g, int w, int h, bool maximized, bool valid) {
    return g.width == w && g.height == h && g.maximized == maximized && g.valid == valid;
}

} // namespace

TEST(GeometryText, ReadingRules) {
    const struct {
        const char* text;
        int width, height;
        bool maximized;
    } cases[] = {
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
    for (const auto& c : cases) {
        const WindowGeometry g = geometry_io::from_text(c.text);
        EXPECT_TRUE(same(g, c.width, c.height, c.maximized, true))
            << c.text << " -> " << g.width << "x" << g.height << " " << g.maximized;
    }
}

TEST(WindowManagerLive, SmallWindowsNeverOverwriteAndMaximizedOnesDo) {
    TempTree tree;
    const int rc = run_in_child([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        WindowManager& wm = WindowManager::instance();
        if (!same(wm.load(), 0, 0, false, false)) return false; // no file yet
        wm.save(600, 900, false);                               // too narrow: nothing written
        if (exists(WindowManager::path())) return false;
        wm.save(1280, 800, false);
        wm.save(1000, 300, false); // too low: the stored size stays
        if (!same(wm.load(), 1280, 800, false, true)) return false;
        // Maximized is written whatever the size; the size read back is the default.
        wm.save(600, 400, true);
        if (!same(wm.load(), 1100, 720, true, true)) return false;
        // No configuration folder: nothing is written, the size is kept in memory.
        return !wm.save_to("", 1300, 850, false) && same(wm.load_from(""), 1300, 850, false, true);
    });
    EXPECT_EQ(rc, 0);
}
