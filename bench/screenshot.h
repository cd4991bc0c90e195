// Shared by the programs that draw the documentation's pictures in-process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "app.h"

namespace screenshot {

// Checks for "DIR OUT", points the settings at a scratch folder so the
// user's own stay untouched, and draws in English.
inline bool prepare(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR OUT\n", argv[0]);
        return false;
    }
    char tmpl[] = "/tmp/spacemole-shots-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    setenv("XDG_CONFIG_HOME", tmpl, 1);
    setenv("LANGUAGE", "en", 1);
    return true;
}

inline bool scan(App& app, const char* dir) {
    app.start_scan(dir);
    while (app.m_scanning)
        g_main_context_iteration(nullptr, TRUE);
    return app.m_root != nullptr;
}

inline bool write_frame(App& app, const std::string& file) {
    CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 800));
    CairoPtr cr(cairo_create(surface.get()));
    app.draw_all(cr.get(), 1200, 800);
    cairo_surface_flush(surface.get());
    const bool ok = cairo_surface_write_to_png(surface.get(), file.c_str()) == CAIRO_STATUS_SUCCESS;
    std::printf("%s %s\n", ok ? "wrote" : "could not write", file.c_str());
    return ok;
}

} // namespace screenshot
