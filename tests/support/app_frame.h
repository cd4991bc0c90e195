// Frames of an App drawn without a display, shared by the window journeys:
// draw into a 1200 x 800 image surface, read a pixel, find a hit target.
#pragma once

#include <cstdint>
#include <string>

#include <cairo.h>

#include "app.h"
#include "theme.h"

namespace testing_support {

inline constexpr int kW = 1200;
inline constexpr int kH = 800;

struct Frame {
    CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH)};

    void draw(App& app) {
        CairoPtr cr(cairo_create(surface.get()));
        app.draw_all(cr.get(), kW, kH);
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

} // namespace testing_support
