// Frames of an App drawn without a display, shared by the window journeys:
// draw into a 1200 x 800 image surface, read a pixel, find a hit target. The
// journey namespace adds an App over a temp home with the real file
// operations, and the steps the journeys repeat.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app.h"
#include "fake_bus.h"
#include "i18n.h"
#include "settings.h"
#include "shell_ops.h"
#include "temp_tree.h"
#include "theme.h"
#include "tree_edit.h"

namespace testing_support {

inline constexpr int kW = 1200;
inline constexpr int kH = 800;

struct Frame {
    CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH)};

    void draw(App& app, double w = kW, double h = kH) {
        CairoPtr cr(cairo_create(surface.get()));
        app.draw_all(cr.get(), w, h);
        cairo_surface_flush(surface.get());
    }
    // The pixel's colour as "#RRGGBB".
    std::string pixel(double x, double y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface.get());
        const int stride = cairo_image_surface_get_stride(surface.get());
        const auto* p =
            reinterpret_cast<const std::uint32_t*>(data + static_cast<int>(y) * stride) +
            static_cast<int>(x);
        return rgb_to_hex(
            Rgb{((*p >> 16) & 0xFF) / 255.0, ((*p >> 8) & 0xFF) / 255.0, (*p & 0xFF) / 255.0});
    }
};

// The last frame's target for `act` (and `index`, when not -1), or null.
inline const App::HitTarget* find_target(const App& app, App::Act act, int index = -1) {
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == act && (index < 0 || t.index == index)) return &t;
    return nullptr;
}

namespace journey {

constexpr auto kNoMods = static_cast<GdkModifierType>(0);

// The last frame's target for `act` on the node called `name`, or null.
inline const App::HitTarget* named(const App& app, App::Act act, const std::string& name) {
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == act && t.node && t.node->name == name) return &t;
    return nullptr;
}

// Draws a frame and clicks the centre of the target; false when there is none.
inline bool click(App& app, Frame& frame, App::Act act, int index = -1, bool secondary = false) {
    frame.draw(app);
    const App::HitTarget* t = find_target(app, act, index);
    return t && app.on_click(t->rect.mid_x(), t->rect.mid_y(), secondary);
}

inline void press(App& app, guint key, int times = 1, GdkModifierType mods = kNoMods) {
    for (int i = 0; i < times; ++i)
        app.on_key(key, mods);
}

inline void scan(App& app, const std::string& path) {
    app.start_scan(path);
    ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 60000));
    ASSERT_TRUE(app.m_root);
}

inline bool settled(App& app) {
    return iterate_until([&] { return !app.m_deleting && !app.m_compressing && !app.m_restoring; },
                         20000);
}

// The real file operations, as main() wires them, with `home` as the home.
inline App::Effects real_effects(const std::string& home) {
    App::Effects fx;
    fx.move_to_trash = [](const auto& p) { return shell_ops::move_to_trash(p); };
    fx.delete_permanently = [](const auto& p) { return shell_ops::delete_permanently(p); };
    fx.restore_from_trash = [](const auto& items) { return shell_ops::restore_from_trash(items); };
    fx.compress_folder = [](const std::string& f, const auto& on_progress, const auto* cancel) {
        return shell_ops::compress_folder(f, on_progress, cancel);
    };
    fx.can_write_archive_beside = shell_ops::can_write_archive_beside;
    fx.home_directory = [home] { return home; };
    return fx;
}

// A temp home, config and data home (where the home Trash goes), English and
// default settings, set before a fixture's members are made. Reveals are recorded.
class Journey : public ::testing::Test {
protected:
    Journey() {
        set_env("XDG_CONFIG_HOME", m_config.root());
        set_env("XDG_DATA_HOME", m_tree.dir("data"));
        set_env("LANGUAGE", "en");
        TearDown();
    }
    void TearDown() override {
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("auto");
    }

    App::Effects effects() {
        App::Effects fx = real_effects(m_home);
        fx.reveal = [this](const std::string& p) {
            m_revealed.push_back(p);
            return true;
        };
        return fx;
    }

    FileNodePtr node(const App& app, const std::string& rel) const {
        return tree_edit::find(app.m_root, m_tree.path(rel));
    }

    TempTree m_config;
    TempTree m_tree;
    std::string m_home = m_tree.dir("home");
    std::vector<std::string> m_revealed;
};

} // namespace journey

} // namespace testing_support
