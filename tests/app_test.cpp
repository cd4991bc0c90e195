// Journeys through the App without a display: build it over a real temp
// tree, scan, draw frames into a cairo image surface, read pixels and hit
// targets, click and press keys as a user would.
#include "app.h"

#include <clocale>
#include <cmath>
#include <future>
#include <thread>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "app_frame.h"
#include "tile_color.h"

using namespace testing_support;
using namespace testing_support::journey;

namespace {

class AppJourney : public Journey {
protected:
    void SetUp() override {
        m_tree.file("home/docs/report.pdf", 300000);
        m_tree.file("home/docs/notes.txt", 5000);
        m_tree.file("home/music/album/track1.flac", 400000);
        m_tree.file("home/music/album/track2.flac", 400000);
        m_tree.file("home/.cache/blob", 70000);
        m_tree.file("other/one.bin", 8192);
    }
    static void scan_argument(App& app, std::string arg) {
        std::string arg0 = "spacemole";
        char* argv[] = {arg0.data(), arg.data(), nullptr};
        app.scan_argument(2, argv);
    }
    static void wait(App& app) {
        ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 20000));
    }
};

} // namespace

TEST_F(AppJourney, ArgumentsAndSupersededScansLiveCountsAndSavedScans) {
    // The scan thread measures the volume first: the home's scans wait there.
    std::promise<void> gate;
    App::Effects fx = effects();
    fx.volume_info = [stuck = gate.get_future().share(), home = m_home](const std::string& p) {
        if (p == home) stuck.wait();
        return shell_ops::VolumeInfo{1000, 250, 750, "/"};
    };
    App app(fx);
    Frame frame;
    scan_argument(app, "-v");
    EXPECT_FALSE(app.m_scanning) << "an option is no folder: the welcome screen";

    // A relative folder is taken from the working directory.
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(m_tree.root().c_str()), 0);
    scan_argument(app, "home/./");
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_TRUE(app.m_scanning);
    EXPECT_EQ(app.m_scan_root, m_home);

    // That walk is stuck; starting another must not wait for it, and its
    // result, posted once it ends, is dropped on arrival.
    app.start_scan(m_tree.path("other"));
    EXPECT_EQ(app.m_reaper.pending(), 1u);
    ASSERT_NO_FATAL_FAILURE(wait(app));
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));
    gate.set_value();
    ASSERT_TRUE(
        app.m_reaper.wait_idle(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    iterate_until([] { return false; }, 50);
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));

    // Polling copies the growing counts while the result waits for the main loop.
    app.start_scan(m_home);
    const gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (app.m_progress->snapshot().files < 5 && g_get_monotonic_time() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    app.on_poll();
    EXPECT_EQ(app.m_scanned_files, 5);
    EXPECT_TRUE(app.m_scanning);
    ASSERT_NO_FATAL_FAILURE(wait(app));
    EXPECT_EQ(app.m_root->file_count, 5);
    EXPECT_EQ(app.m_volume_total, 1000) << "measured on the scan thread, handed over";
    ASSERT_TRUE(click(app, frame, App::Act::Down));
    EXPECT_EQ(app.m_path.at(0)->name, "music") << "the largest subfolder";

    // A saved scan opens read-only with its date: no file action reaches the
    // disk, its folders are elsewhere.
    const std::string saved = m_tree.path("saved.json");
    write_file(saved, R"([1,2,{"progname":"x","timestamp":1699963200},
        [{"name":"/srv/data"},{"name":"a.bin","asize":500000,"dsize":503808},
         [{"name":"sub"},{"name":"b.bin","asize":100,"dsize":400000}]]])");
    scan_argument(app, saved);
    ASSERT_NO_FATAL_FAILURE(wait(app));
    ASSERT_TRUE(app.m_root && app.m_saved_scan);
    EXPECT_EQ(app.m_root->path, "/srv/data");
    EXPECT_EQ(app.m_root->size, 903808);
    EXPECT_EQ(app.saved_scan_note(), "Saved scan from 11/14/23") << "noon UTC: that day everywhere";
    frame.draw(app);
    const FileNodePtr item = app.m_root->children.at(0);
    app.toggle_basket(item);
    EXPECT_TRUE(app.m_basket.empty());
    EXPECT_EQ(app.m_protected_note, "Saved scans are read-only");
    app.close_overlay();
    app.reveal(item->path);
    EXPECT_TRUE(m_revealed.empty());
    EXPECT_FALSE(find_target(app, App::Act::ScanAncestor) ||
                 find_target(app, App::Act::RevealCurrent));

    // A broken file leaves the empty screen and a reason.
    write_file(saved, "[1,2,{},[{\"name\":\"/x\"}");
    app.open_saved_scan(saved);
    ASSERT_NO_FATAL_FAILURE(wait(app));
    EXPECT_FALSE(app.m_root || app.m_saved_scan);
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_NE(app.m_dialog_message.find("could not be opened"), std::string::npos);
}

namespace {

// Within one step of 8-bit rounding.
bool same_colour(const std::string& hex, const Rgb& want) {
    Rgb got;
    return hex_to_rgb(hex, got) && std::fabs(got.r - want.r) <= 1.5 / 255 &&
           std::fabs(got.g - want.g) <= 1.5 / 255 && std::fabs(got.b - want.b) <= 1.5 / 255;
}

Rgb tile_fill(const App& app, const FileNode& n) {
    std::int64_t max_size = 0;
    for (const TreemapTile& t : app.m_tiles)
        max_size = std::max(max_size, t.node->size);
    return tile_color::color(n, app.m_color_mode, app.m_scan_start_time,
                             static_cast<double>(n.size) / static_cast<double>(max_size));
}

std::vector<std::string> row_names(const App& app) {
    std::vector<std::string> out;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::TreeRow) out.push_back(t.node->name);
    return out;
}

} // namespace

TEST_F(AppJourney, TilesAndTheTreeTableShowColourZoomRevealSortAndClimb) {
    for (const char* name : {"s1.txt", "s2.txt", "s3.txt"})
        m_tree.file(std::string("home/") + name, 6000); // folded into "Small files"
    // Sixty folders of falling size: many tiles, and a table taller than the view.
    for (int i = 0; i < 60; ++i)
        m_tree.file("home/many/d" + std::to_string(100 + i) + "/f",
                    static_cast<std::size_t>((60 - i) * (60 - i) * 40));
    App app(effects());
    scan(app, m_home);
    Frame frame;
    for (const ColorMode mode : {ColorMode::Heat, ColorMode::Category}) {
        app.set_color_mode(mode);
        frame.draw(app);
        ASSERT_GE(app.m_tiles.size(), 5u);
        for (const TreemapTile& t : app.m_tiles)
            EXPECT_TRUE(
                same_colour(frame.pixel(t.rect.mid_x(), t.rect.mid_y()), tile_fill(app, *t.node)))
                << t.node->name;
    }
    // "Small files" neither zooms nor offers file actions: its path is a member's.
    for (const TreemapTile& t : app.m_tiles)
        if (t.node->is_aggregate) app.activate(t.node);
    EXPECT_TRUE(app.m_path.empty());

    app.select(named(app, App::Act::Tile, "music")->node);
    app.activate(FileNodePtr(app.m_selected));
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_FALSE(app.m_selected) << "entering a folder clears the selection";
    frame.draw(app);
    EXPECT_EQ(app.m_tiles_node_id, app.m_path[0]->id);
    app.activate(named(app, App::Act::Tile, "album")->node);
    frame.draw(app);
    app.activate(named(app, App::Act::Tile, "track1.flac")->node);
    EXPECT_EQ(m_revealed, std::vector<std::string>{m_tree.path("home/music/album/track1.flac")});

    // The first breadcrumb below the root goes back to music.
    app.m_scroll = 40;
    ASSERT_TRUE(click(app, frame, App::Act::Breadcrumb, 0));
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->name, "music");
    EXPECT_EQ(app.m_scroll, 0.0);
    app.zoom_into_largest();
    EXPECT_TRUE(app.on_key(GDK_KEY_Up, GDK_MOD1_MASK)) << "consumed: the accelerator stays quiet";
    EXPECT_EQ(app.m_path.size(), 1u);
    EXPECT_FALSE(app.on_key(GDK_KEY_Up, kNoMods));
    EXPECT_TRUE(app.on_key(GDK_KEY_F5, kNoMods) && app.on_key(GDK_KEY_Escape, kNoMods));
    EXPECT_FALSE(app.m_scanning || app.m_root) << "a cancelled scan leaves no tree";
    EXPECT_EQ(app.m_scan_root, m_home) << "Rescan can repeat it";

    // The tree table, largest first; a folder stays expanded across zooms.
    scan(app, m_home);
    app.set_view_mode(ViewMode::Tree);
    frame.draw(app);
    ASSERT_EQ(row_names(app).at(0), "many") << "largest first by default";

    // Expanding the folder of sixty: the height counts every row, the frame
    // draws only those in sight, and the thumb sits at the bottom at the end.
    ASSERT_TRUE(named(app, App::Act::TreeDisclosure, "many"));
    const RectF tri = named(app, App::Act::TreeDisclosure, "many")->rect;
    app.on_click(tri.mid_x(), tri.mid_y(), false);
    frame.draw(app);
    const double view_h = app.m_r_content.h - 26;
    EXPECT_EQ(app.m_content_height, (app.m_root->children.size() + 60) * 24.0);
    EXPECT_LE(row_names(app).size(), static_cast<std::size_t>(view_h / 24) + 2);
    app.m_scroll = 1e9;
    frame.draw(app);
    EXPECT_EQ(app.m_scroll, app.m_content_height - view_h) << "kept within range";

    // Zooming in and out keeps the folder expanded.
    app.zoom_into(app.m_root->children.at(1));
    app.zoom_out();
    frame.draw(app);
    EXPECT_EQ(row_names(app).at(1), "d100") << "the expanded folder's children follow it";
    app.toggle_expanded(app.m_root->children.at(0));
    frame.draw(app);
    EXPECT_EQ(app.m_content_height, app.m_root->children.size() * 24.0) << "collapsed again";

    // Names in the user's collation, not by bytes.
    if (!setlocale(LC_COLLATE, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale missing";
    for (const char* name : {"apple", "Banana", "Äpfel"})
        m_tree.file(std::string("fruit/") + name, 300000);
    scan(app, m_tree.path("fruit"));
    ASSERT_TRUE(click(app, frame, App::Act::SortColumn, static_cast<int>(SortField::Name)));
    frame.draw(app);
    EXPECT_EQ(row_names(app), (std::vector<std::string>{"Äpfel", "apple", "Banana"}));
    app.sort_by(SortField::Name);
    frame.draw(app);
    EXPECT_EQ(row_names(app), (std::vector<std::string>{"Banana", "apple", "Äpfel"}));
    setlocale(LC_COLLATE, "C");
}
