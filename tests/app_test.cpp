// Journeys through the App without a display: build it over a real temp
// tree, scan, draw frames into a cairo image surface, read pixels and hit
// targets, click and press keys as a user would.
#include "app.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <future>
#include <thread>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "fake_bus.h"
#include "file_category.h"
#include "i18n.h"
#include "settings.h"
#include "app_frame.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

std::vector<App::Act> acts_in(const App& app, const RectF& region) {
    std::vector<App::Act> out;
    for (const App::HitTarget& t : app.m_targets)
        if (region.contains(t.rect.mid_x(), t.rect.mid_y())) out.push_back(t.act);
    return out;
}

bool has(const std::vector<App::Act>& acts, App::Act act) {
    return std::find(acts.begin(), acts.end(), act) != acts.end();
}

// Holds scans in their scanning state: the scan thread measures the volume
// first, and this measurement waits until released.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    void release() { open.set_value(); }
};

class AppJourney : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_config.root().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        m_home = m_tree.dir("home");
        m_tree.file("home/docs/report.pdf", 300000);
        m_tree.file("home/docs/notes.txt", 5000);
        m_tree.file("home/music/album/track1.flac", 400000);
        m_tree.file("home/music/album/track2.flac", 400000);
        m_tree.file("home/.cache/blob", 70000);
        m_tree.file("other/one.bin", 8192);
    }

    void write_settings(const std::string& text) {
        const std::string dir = m_config.dir("Spacemole");
        write_file(dir + "/settings.json", text);
    }

    App::Effects recorder() {
        App::Effects fx;
        fx.pick_folder = [this](GtkWindow*) {
            ++m_picks;
            return m_tree.path("other");
        };
        fx.reveal = [this](const std::string& p) {
            m_revealed.push_back(p);
            return true;
        };
        fx.volume_info = [](const std::string&) {
            return shell_ops::VolumeInfo{1000, 250, 750, "/"};
        };
        return fx;
    }

    static void wait_for_result(App& app) {
        ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 20000));
    }

    TempTree m_config;
    TempTree m_tree;
    std::string m_home;
    int m_picks = 0;
    std::vector<std::string> m_revealed;
};

} // namespace

TEST_F(AppJourney, ScanShowsLiveCountsThenTheResultInTheFrame) {
    Gate gate;
    App::Effects fx = recorder();
    fx.volume_info = [opened = gate.opened](const std::string&) {
        opened.wait();
        return shell_ops::VolumeInfo{1000, 250, 750, "/"};
    };
    App app(fx);
    Frame frame;
    std::string arg0 = "spacemole";
    std::string arg1 = m_home;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    app.scan_argument(2, argv);

    // Scanning: the scanning screen and its cancel button, no volume line yet.
    ASSERT_TRUE(app.m_scanning);
    frame.draw(app);
    EXPECT_TRUE(has(acts_in(app, app.m_r_content), App::Act::CancelScan));
    EXPECT_TRUE(has(acts_in(app, app.m_r_toolbar), App::Act::CancelScan));
    EXPECT_EQ(app.m_r_pathbar.h, 0.0f) << "no path bar before a result";
    EXPECT_EQ(app.m_volume_total, 0);
    EXPECT_EQ(app.m_scanned_files, 0);

    // The walk runs; polling copies the growing counts while the result
    // waits for the main loop.
    gate.release();
    const gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (app.m_progress->snapshot().files < 5 && g_get_monotonic_time() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    app.on_poll();
    EXPECT_EQ(app.m_scanned_files, 5);
    EXPECT_TRUE(app.m_scanning);
    frame.draw(app);

    wait_for_result(app);
    ASSERT_TRUE(app.m_root);
    EXPECT_EQ(app.m_root->path, m_home);
    EXPECT_EQ(app.m_root->file_count, 5);
    EXPECT_EQ(app.m_volume_total, 1000) << "measured on the scan thread, handed over";
    frame.draw(app);
    EXPECT_EQ(app.m_r_pathbar.y, 38.0f);
    EXPECT_EQ(app.m_r_legend.h, 28.0f) << "the map view has a legend";
    const auto toolbar = acts_in(app, app.m_r_toolbar);
    for (App::Act act : {App::Act::ChooseFolder, App::Act::QuickPick, App::Act::Down,
                         App::Act::ModeCategory, App::Act::ModeHeat, App::Act::ViewMap,
                         App::Act::ViewTree, App::Act::Rescan, App::Act::AppMenu})
        EXPECT_TRUE(has(toolbar, act)) << "toolbar act " << static_cast<int>(act);
    EXPECT_FALSE(has(toolbar, App::Act::Up)) << "nothing to climb at the root";
    EXPECT_TRUE(has(acts_in(app, app.m_r_pathbar), App::Act::ScanAncestor));
    EXPECT_TRUE(has(acts_in(app, app.m_r_pathbar), App::Act::RevealCurrent));

    // Clicking the centre of toolbar targets drives the App.
    const RectF down = find_target(app, App::Act::Down)->rect;
    EXPECT_TRUE(app.on_click(down.mid_x(), down.mid_y(), false));
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->name, "music") << "the largest subfolder";
    frame.draw(app);
    EXPECT_TRUE(has(acts_in(app, app.m_r_toolbar), App::Act::Up));
    const RectF tree = find_target(app, App::Act::ViewTree)->rect;
    app.on_click(tree.mid_x(), tree.mid_y(), false);
    EXPECT_EQ(app.m_view_mode, ViewMode::Tree);
    EXPECT_NE(read_file(m_config.path("Spacemole/settings.json")).find("\"tree\""),
              std::string::npos)
        << "a view change is saved at once";
    const RectF choose = find_target(app, App::Act::ChooseFolder)->rect;
    app.on_click(choose.mid_x(), choose.mid_y(), false);
    EXPECT_EQ(m_picks, 1);
    wait_for_result(app);
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));
}

TEST_F(AppJourney, OptionArgumentShowsTheWelcomeScreenAndRelativeFoldersBecomeAbsolute) {
    App app(recorder());
    Frame frame;
    std::string arg0 = "spacemole";
    std::string opt = "-v";
    char* argv[] = {arg0.data(), opt.data(), nullptr};
    app.scan_argument(2, argv);
    EXPECT_FALSE(app.m_scanning);
    EXPECT_TRUE(app.m_scan_root.empty());
    frame.draw(app);
    EXPECT_EQ(app.m_r_content.y, 38.0f) << "no path bar, content right below the toolbar";
    EXPECT_TRUE(has(acts_in(app, app.m_r_content), App::Act::ChooseFolder));
    const auto toolbar = acts_in(app, app.m_r_toolbar);
    EXPECT_FALSE(has(toolbar, App::Act::Rescan));
    EXPECT_FALSE(has(toolbar, App::Act::CancelScan));

    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(m_tree.root().c_str()), 0);
    std::string rel = "home/./music/";
    char* argv2[] = {arg0.data(), rel.data(), nullptr};
    app.scan_argument(2, argv2);
    ASSERT_EQ(chdir(cwd), 0);
    wait_for_result(app);
    EXPECT_EQ(app.m_scan_root, m_tree.path("home/music"));
    ASSERT_TRUE(app.m_root);
    EXPECT_EQ(app.m_root->children.at(0)->path, m_tree.path("home/music/album"));
}

TEST_F(AppJourney, ASavedScanOpensReadOnlyWithItsDateAndBadFilesSayWhy) {
    const std::string saved = m_tree.path("saved.json");
    write_file(saved, R"([1,2,{"progname":"x","timestamp":1699963200},
        [{"name":"/srv/data"},{"name":"a.bin","asize":500000,"dsize":503808},
         [{"name":"sub"},{"name":"b.bin","asize":100,"dsize":400000}]]])");
    App app(recorder());
    Frame frame;
    std::string arg0 = "spacemole";
    char* argv[] = {arg0.data(), const_cast<char*>(saved.c_str()), nullptr};
    app.scan_argument(2, argv);
    EXPECT_TRUE(app.m_scanning) << "read off the interface thread, like a scan";
    wait_for_result(app);
    ASSERT_TRUE(app.m_root);
    EXPECT_TRUE(app.m_saved_scan);
    EXPECT_EQ(app.m_root->path, "/srv/data");
    EXPECT_EQ(app.m_root->size, 903808);
    EXPECT_EQ(app.saved_scan_note(), "Saved scan from 11/14/23") << "noon UTC: that day everywhere";
    frame.draw(app);

    // No file action reaches the disk: its folders are elsewhere.
    const FileNodePtr item = app.m_root->children.at(0);
    app.toggle_basket(item);
    EXPECT_TRUE(app.m_basket.empty());
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_protected_note, "Saved scans are read-only");
    app.close_overlay();
    app.reveal(item->path);
    EXPECT_TRUE(m_revealed.empty());
    EXPECT_FALSE(find_target(app, App::Act::ScanAncestor)) << "its folders are elsewhere";
    EXPECT_FALSE(find_target(app, App::Act::RevealCurrent));
    app.scan_ancestor(1);
    EXPECT_FALSE(app.m_scanning);

    // Rescan reads the file again; a broken file leaves the empty screen and a reason.
    app.handle_menu_command(App::CMD_MENU_RESCAN);
    wait_for_result(app);
    ASSERT_TRUE(app.m_root);
    EXPECT_TRUE(app.m_saved_scan);
    write_file(saved, "[1,2,{},[{\"name\":\"/x\"}");
    app.open_saved_scan(saved);
    wait_for_result(app);
    EXPECT_FALSE(app.m_root);
    EXPECT_FALSE(app.m_saved_scan);
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_NE(app.m_dialog_message.find("could not be opened"), std::string::npos);
}

TEST_F(AppJourney, ASupersededScanNeverShowsItsResult) {
    Gate gate;
    App::Effects fx = recorder();
    auto calls = std::make_shared<std::atomic<int>>(0);
    fx.volume_info = [opened = gate.opened, calls](const std::string&) {
        if (calls->fetch_add(1) == 0) opened.wait(); // only the first scan is stuck
        return shell_ops::VolumeInfo{};
    };
    App app(fx);
    app.start_scan(m_home);
    // The first walk is stuck; starting another must not wait for it.
    app.start_scan(m_tree.path("other"));
    EXPECT_EQ(app.m_reaper.pending(), 1u);
    wait_for_result(app);
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));

    // The stuck walk finishes and posts its result: dropped on arrival.
    gate.release();
    ASSERT_TRUE(
        app.m_reaper.wait_idle(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    iterate_until([] { return false; }, 50);
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));

    // A result already posted when the next scan starts is dropped as well:
    // wait, without running the main loop, until the thread has posted and
    // ended (its copy of the lifeline is gone, the Done record holds one).
    app.start_scan(m_home);
    const gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (app.m_lifeline.use_count() != 2 && g_get_monotonic_time() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(app.m_lifeline.use_count(), 2);
    app.start_scan(m_tree.path("other"));
    wait_for_result(app);
    ASSERT_TRUE(app.m_root);
    EXPECT_EQ(app.m_root->path, m_tree.path("other"));
}

TEST_F(AppJourney, HandledKeysAreConsumedAndActOnce) {
    App app(recorder());
    app.start_scan(m_home);
    wait_for_result(app);
    app.zoom_into_largest();
    app.zoom_into_largest();
    ASSERT_EQ(app.m_path.size(), 2u);
    EXPECT_TRUE(app.on_key(GDK_KEY_Up, GDK_MOD1_MASK)) << "consumed: the accelerator stays quiet";
    EXPECT_EQ(app.m_path.size(), 1u);
    EXPECT_FALSE(app.on_key(GDK_KEY_Up, static_cast<GdkModifierType>(0)));

    const std::uint32_t before = app.m_scan_generation;
    EXPECT_TRUE(app.on_key(GDK_KEY_F5, static_cast<GdkModifierType>(0)));
    EXPECT_TRUE(app.m_scanning);
    EXPECT_TRUE(app.on_key(GDK_KEY_F5, static_cast<GdkModifierType>(0)))
        << "a rescan during a scan restarts it";
    EXPECT_EQ(app.m_scan_generation, before + 4) << "one cancel and one start per press";
    EXPECT_TRUE(app.on_key(GDK_KEY_Escape, static_cast<GdkModifierType>(0)));
    EXPECT_FALSE(app.m_scanning);
    EXPECT_FALSE(app.m_root) << "a cancelled scan leaves no tree";
    EXPECT_EQ(app.m_scan_root, m_home) << "Rescan can repeat it";
}

TEST_F(AppJourney, SettingsFileMapsToTheViewState) {
    struct Case {
        const char* text;
        ViewMode view;
        ColorMode color;
        SortField field;
        bool ascending;
    };
    const Case cases[] = {
        {R"({"view_mode": "tree", "sort_field": "files", "sort_ascending": "yes"})", ViewMode::Tree,
         ColorMode::Heat, SortField::Files, true},
        {R"({"color_mode": "Category", "view_mode": "Tree"})", ViewMode::Map, ColorMode::Heat,
         SortField::Size, false},
        {R"({"color_mode": "category", "sort_field": "modified"})", ViewMode::Map,
         ColorMode::Category, SortField::Modified, false},
        {"not json at all", ViewMode::Map, ColorMode::Heat, SortField::Size, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        write_settings(c.text);
        App app(recorder());
        EXPECT_EQ(app.m_view_mode, c.view);
        EXPECT_EQ(app.m_color_mode, c.color);
        EXPECT_EQ(app.m_sort.field, c.field);
        EXPECT_EQ(app.m_sort.ascending, c.ascending);
    }
}

TEST_F(AppJourney, RegionsSitWhereTheyBelongInLightAndDark) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        App::Effects fx = recorder();
        fx.prefers_dark = [dark] { return dark; };
        App app(fx);
        app.reload_theme();
        app.start_scan(m_home);
        wait_for_result(app);
        Frame frame;
        frame.draw(app);
        const Palette p = Palette::for_theme(dark);
        EXPECT_EQ(app.m_r_toolbar.y, 0.0f);
        EXPECT_EQ(app.m_r_toolbar.h, 38.0f);
        EXPECT_EQ(app.m_r_status.y, kH - 30.0f);
        EXPECT_EQ(app.m_r_content.y, 64.0f);
        EXPECT_EQ(app.m_r_content.h, kH - 64.0f - 28.0f - 30.0f);
        EXPECT_EQ(frame.pixel(kW / 2 + 100, 3), p.bar) << "toolbar";
        EXPECT_EQ(frame.pixel(kW / 2, 64), p.divider) << "path bar's bottom hairline";
        EXPECT_EQ(frame.pixel(kW / 2, 50), p.bar) << "path bar";
        EXPECT_EQ(frame.pixel(1, 120), p.window) << "content, in the gap around the tiles";
        EXPECT_EQ(frame.pixel(kW / 2, kH - 30), p.divider) << "status bar's top hairline";
        EXPECT_EQ(frame.pixel(kW / 2, kH - 3), p.bar) << "status bar";
    }
}

TEST_F(AppJourney, DesktopThemeChangesReachEachAppThroughItsOwnWatch) {
    PrivateBus bus;
    ASSERT_TRUE(bus.up());
    FakeService portal(bus.address(), "org.freedesktop.portal.Desktop",
                       "/org/freedesktop/portal/desktop",
                       "<node><interface name='org.freedesktop.portal.Settings'>"
                       "<signal name='SettingChanged'><arg type='s'/><arg type='s'/>"
                       "<arg type='v'/></signal></interface></node>",
                       [](const std::string&, GVariant*) { return nullptr; });
    ASSERT_TRUE(portal.ready());
    ConnectionPtr client = bus.connect();
    bool desktop_dark = false;
    App::Effects fx = recorder();
    fx.prefers_dark = [&] { return desktop_dark; };
    auto first = std::make_unique<App>(fx);
    App second(fx);
    first->watch_desktop_theme(client.get());
    second.watch_desktop_theme(client.get());
    g_dbus_connection_flush_sync(client.get(), nullptr, nullptr);

    desktop_dark = true;
    auto notify = [&] {
        return portal.emit("org.freedesktop.portal.Settings", "SettingChanged",
                           g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme",
                                         g_variant_new_uint32(1)));
    };
    ASSERT_TRUE(notify());
    EXPECT_TRUE(iterate_until([&] { return first->m_dark && second.m_dark; }, 5000));
    EXPECT_EQ(second.m_palette.window, Palette::dark_().window);

    // A dropped App hears nothing more; the other one still follows, and a
    // fixed theme setting wins over the desktop.
    first.reset();
    desktop_dark = false;
    ASSERT_TRUE(notify());
    EXPECT_TRUE(iterate_until([&] { return !second.m_dark; }, 5000));
    SettingsStore::instance().mutable_get().theme = "light";
    desktop_dark = true;
    ASSERT_TRUE(notify());
    iterate_until([] { return false; }, 100);
    EXPECT_FALSE(second.m_dark);
    SettingsStore::instance().mutable_get().theme = "auto";
}

// ---- The map and tree views ---------------------------------------------------

namespace {

// Within one step of 8-bit rounding.
bool same_colour(const std::string& hex, const Rgb& want) {
    Rgb got;
    if (!hex_to_rgb(hex, got)) return false;
    return std::fabs(got.r - want.r) <= 1.5 / 255 && std::fabs(got.g - want.g) <= 1.5 / 255 &&
           std::fabs(got.b - want.b) <= 1.5 / 255;
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

const App::HitTarget* target_for(const App& app, App::Act act, const std::string& name) {
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == act && t.node && t.node->name == name) return &t;
    return nullptr;
}

class AppViews : public AppJourney {
protected:
    void SetUp() override {
        AppJourney::SetUp();
        m_tree.file("home/photos/a.jpg", 350000);
        m_tree.file("home/photos/b.png", 320000);
        for (const char* name : {"s1.txt", "s2.txt", "s3.txt"})
            m_tree.file(std::string("home/") + name, 6000); // folded into "Small files"
        // Sixty folders of falling size: the smallest tiles are too small to label.
        for (int i = 0; i < 60; ++i)
            m_tree.file("home/many/d" + std::to_string(100 + i) + "/f",
                        static_cast<std::size_t>((60 - i) * (60 - i) * 40));
    }

    void scan(App& app, const std::string& path) {
        app.start_scan(path);
        wait_for_result(app);
        ASSERT_TRUE(app.m_root);
    }
};

} // namespace

TEST_F(AppViews, EveryTileShowsItsColourAndLabelsOnlyWhereTheyFit) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    for (const ColorMode mode : {ColorMode::Category, ColorMode::Heat}) {
        SCOPED_TRACE(mode == ColorMode::Heat ? "heat" : "category");
        app.set_color_mode(mode);
        app.zoom_to(-1);
        frame.draw(app);
        ASSERT_GE(app.m_tiles.size(), 5u);
        for (const TreemapTile& t : app.m_tiles) {
            SCOPED_TRACE(t.node->name);
            EXPECT_TRUE(same_colour(
                frame.pixel(static_cast<int>(t.rect.mid_x()), static_cast<int>(t.rect.mid_y())),
                tile_fill(app, *t.node)));
        }
        // A tile shows ink exactly when its label fits: a window 24 pixels
        // wide leaves no room for any, a small one for most.
        app.zoom_into(app.m_root->children.at(0));
        ASSERT_EQ(app.current()->name, "many");
        const double name_h = app.font_height(App::Font::Caption);
        int labelled = 0;
        int bare = 0;
        for (const double width : {520.0, 24.0}) {
            CairoPtr cr(cairo_create(frame.surface.get()));
            app.draw_all(cr.get(), width, 400);
            cairo_surface_flush(frame.surface.get());
            for (const TreemapTile& t : app.m_tiles) {
                const RectF r = t.rect.inset(1.5f);
                if (r.w < 8 || r.h < 8) continue;
                const double pad = r.w < 80 ? 3 : 5;
                const bool fits = r.w - 2 * pad >= 12 && name_h + 2 <= r.h;
                const Rgb fill = tile_fill(app, *t.node);
                bool ink = false;
                for (int y = static_cast<int>(r.y) + 2; y < static_cast<int>(r.max_y()) - 2; ++y)
                    for (int x = static_cast<int>(r.x) + 3; x < static_cast<int>(r.max_x()) - 3;
                         ++x)
                        ink = ink || !same_colour(frame.pixel(x, y), fill);
                EXPECT_EQ(ink, fits) << t.node->name << " " << r.w << "x" << r.h;
                ++(fits ? labelled : bare);
            }
        }
        EXPECT_GT(labelled, 3);
        EXPECT_GT(bare, 0) << "the narrow window should hold tiles too small for a label";
    }
}

TEST_F(AppViews, ZoomingKeepsTheDocumentedStackSelectionAndScroll) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    frame.draw(app);
    const std::uint64_t root_layout = app.m_tiles_node_id;
    EXPECT_EQ(root_layout, app.m_root->id);

    // Double-click (activate) on the music tile enters it; the map changes.
    const App::HitTarget* music = target_for(app, App::Act::Tile, "music");
    ASSERT_TRUE(music);
    app.select(music->node);
    app.activate(music->node);
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_FALSE(app.m_selected) << "entering a folder clears the selection";
    frame.draw(app);
    EXPECT_EQ(app.m_tiles_node_id, app.m_path[0]->id);
    ASSERT_TRUE(target_for(app, App::Act::Tile, "album"));
    app.activate(target_for(app, App::Act::Tile, "album")->node);
    ASSERT_EQ(app.m_path.size(), 2u);

    // The first breadcrumb below the root goes back to music, the root one home.
    frame.draw(app);
    app.m_scroll = 40;
    const App::HitTarget* crumb = nullptr;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::Breadcrumb && t.index == 0) crumb = &t;
    ASSERT_TRUE(crumb);
    app.on_click(crumb->rect.mid_x(), crumb->rect.mid_y(), false);
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->name, "music");
    EXPECT_EQ(app.m_scroll, 0.0);
    app.zoom_to(7);
    EXPECT_EQ(app.m_path.size(), 1u) << "a crumb past the end keeps the path";
    EXPECT_TRUE(app.on_key(GDK_KEY_BackSpace, static_cast<GdkModifierType>(0)));
    EXPECT_TRUE(app.m_path.empty());
    const std::uint32_t repaints = app.m_repaints;
    app.zoom_out();
    app.zoom_into(nullptr);
    const FileNodePtr track = app.m_root->children.at(1)->children.at(0)->children.at(0);
    ASSERT_FALSE(track->is_directory);
    app.zoom_into(track);
    EXPECT_EQ(app.m_repaints, repaints) << "nothing to leave, nothing to enter";
    frame.draw(app);
    EXPECT_EQ(app.m_tiles_node_id, root_layout);
}

TEST_F(AppViews, SmallFilesTileDoesNothingAndFilesOpenInTheFileManager) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    frame.draw(app);
    FileNodePtr small;
    for (const TreemapTile& t : app.m_tiles)
        if (t.node->is_aggregate) small = t.node;
    ASSERT_TRUE(small) << "three small files fold into one tile";
    EXPECT_FALSE(small->allows(FileNode::Action::Reveal));
    app.activate(small);
    EXPECT_TRUE(app.m_path.empty());
    EXPECT_TRUE(m_revealed.empty());
    app.select(small);
    frame.draw(app);
    EXPECT_FALSE(find_target(app, App::Act::StatusReveal)) << "its path is a member's";
    EXPECT_FALSE(find_target(app, App::Act::StatusToggleBasket));

    app.activate(target_for(app, App::Act::Tile, "photos")->node);
    frame.draw(app);
    app.activate(target_for(app, App::Act::Tile, "a.jpg")->node);
    EXPECT_EQ(m_revealed, std::vector<std::string>{m_tree.path("home/photos/a.jpg")});
}

TEST_F(AppViews, LegendShowsCategorySwatchesOrTheAgeScale) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    app.set_color_mode(ColorMode::Category);
    frame.draw(app);
    const RectF r = app.m_r_legend;
    const int mid = static_cast<int>(r.y + r.h * 0.5);
    double x = 12;
    for (FileCategory c : category::legend_order()) {
        const double w =
            app.measure_text(I18n::instance().tr(category::label_key(c)), App::Font::Caption);
        if (x + w + 22 > kW - 12) break;
        EXPECT_TRUE(same_colour(frame.pixel(static_cast<int>(x) + 5, mid), tile_color::swatch(c)))
            << category::label_key(c);
        x += 14 + w + 14;
    }
    EXPECT_GT(x, kW / 2.0) << "several categories are listed";

    app.set_color_mode(ColorMode::Heat);
    frame.draw(app);
    const double x0 = 12 + app.measure_text("older", App::Font::Caption) + 8;
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(same_colour(frame.pixel(static_cast<int>(x0) + i * 38 + 19, mid),
                                tile_color::heat_stop(i)))
            << "stop " << i;
}

TEST_F(AppViews, TreeTableSortsByCollationAndKeepsFoldersExpandedAcrossZooms) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    app.set_view_mode(ViewMode::Tree);
    frame.draw(app);
    EXPECT_EQ(app.m_r_legend.h, 0.0f) << "the legend belongs to the map";
    std::vector<std::string> rows = row_names(app);
    ASSERT_EQ(rows.at(0), "many") << "largest first by default";

    // Expanding the folder of sixty: the height counts every row, the frame
    // draws only those in sight, and the thumb sits at the bottom at the end.
    const App::HitTarget* tri = target_for(app, App::Act::TreeDisclosure, "many");
    ASSERT_TRUE(tri);
    app.on_click(tri->rect.mid_x(), tri->rect.mid_y(), false);
    frame.draw(app);
    const double view_h = app.m_r_content.h - 26;
    EXPECT_EQ(app.m_content_height, (app.m_root->children.size() + 60) * 24.0);
    EXPECT_LE(row_names(app).size(), static_cast<std::size_t>(view_h / 24) + 2);
    app.m_scroll = 1e9;
    frame.draw(app);
    EXPECT_EQ(app.m_scroll, app.m_content_height - view_h) << "kept within range";
    const int thumb_x = kW - 6;
    EXPECT_NE(frame.pixel(thumb_x, static_cast<int>(app.m_r_content.max_y()) - 3),
              frame.pixel(thumb_x, static_cast<int>(app.m_r_content.y) + 40));

    // Zooming in and out keeps the folder expanded.
    app.zoom_into(app.m_root->children.at(1));
    frame.draw(app);
    app.zoom_out();
    frame.draw(app);
    rows = row_names(app);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1], "d100") << "the expanded folder's children follow it";
    app.toggle_expanded(app.m_root->children.at(0));
    frame.draw(app);
    EXPECT_EQ(app.m_content_height, app.m_root->children.size() * 24.0) << "collapsed again";
    EXPECT_EQ(app.m_scroll, 0.0);

    // Names in the user's collation, not by bytes.
    if (!setlocale(LC_COLLATE, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale missing";
    for (const char* name : {"apple", "Banana", "Äpfel"})
        m_tree.file(std::string("fruit/") + name, 300000);
    scan(app, m_tree.path("fruit"));
    frame.draw(app);
    const App::HitTarget* name_col = nullptr;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::SortColumn && t.index == static_cast<int>(SortField::Name))
            name_col = &t;
    ASSERT_TRUE(name_col);
    app.on_click(name_col->rect.mid_x(), name_col->rect.mid_y(), false);
    frame.draw(app);
    EXPECT_EQ(row_names(app), (std::vector<std::string>{"Äpfel", "apple", "Banana"}));
    app.sort_by(SortField::Name);
    frame.draw(app);
    EXPECT_EQ(row_names(app), (std::vector<std::string>{"Banana", "apple", "Äpfel"}));
    setlocale(LC_COLLATE, "C");
}
