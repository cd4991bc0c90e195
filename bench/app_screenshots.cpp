// Pictures of the views for the documentation, drawn in-process: scans DIR
// and writes the map in both colour modes and the tree table, 1200 x 800,
// as PNG files into OUT (docs/screenshots in the repository).
//
//   app_screenshots DIR OUT
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "app.h"

namespace {

bool write_frame(App& app, const std::string& file) {
    CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 800));
    CairoPtr cr(cairo_create(surface.get()));
    app.draw_all(cr.get(), 1200, 800);
    cairo_surface_flush(surface.get());
    const bool ok = cairo_surface_write_to_png(surface.get(), file.c_str()) == CAIRO_STATUS_SUCCESS;
    std::printf("%s %s\n", ok ? "wrote" : "could not write", file.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: app_screenshots DIR OUT\n");
        return 2;
    }
    char tmpl[] = "/tmp/spacemole-shots-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    setenv("XDG_CONFIG_HOME", tmpl, 1); // the user's settings stay untouched
    setenv("LANGUAGE", "en", 1);
    App app;
    app.start_scan(argv[1]);
    while (app.m_scanning)
        g_main_context_iteration(nullptr, TRUE);
    if (!app.m_root) return 1;
    const std::string out = argv[2];

    app.set_color_mode(ColorMode::Category);
    write_frame(app, out + "/map-type.png"); // lays out the tiles
    if (app.m_tiles.size() > 2) {
        const TreemapTile& t = app.m_tiles[1];
        app.select(app.m_tiles[0].node);
        app.on_motion(t.rect.x + t.rect.w * 0.4, t.rect.y + t.rect.h * 0.4);
    }
    bool ok = write_frame(app, out + "/map-type.png");
    app.on_leave();
    app.set_color_mode(ColorMode::Heat);
    ok = write_frame(app, out + "/map-age.png") && ok;

    app.set_view_mode(ViewMode::Tree);
    const std::vector<FileNodePtr> rows = app.sorted(app.m_root->children);
    for (std::size_t i = 0; i < rows.size() && i < 2; ++i)
        app.toggle_expanded(rows[i]);
    if (!rows.empty()) app.select(rows[0]);
    ok = write_frame(app, out + "/tree.png") && ok;
    return ok ? 0 : 1;
}
