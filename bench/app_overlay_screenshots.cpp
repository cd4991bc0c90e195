// Pictures of the overlays for the documentation, drawn in-process: scans
// DIR and writes the Settings and About panels, the tile menu, the search
// bar and the delete confirmation (in English, and in Arabic to show a
// right-to-left language), 1200 x 800, as PNG files into OUT.
//
//   app_overlay_screenshots DIR OUT
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gdk/gdkkeysyms.h>
#include <unistd.h>

#include "app.h"
#include "i18n.h"

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

void type(App& app, const std::string& text) {
    for (const char c : text)
        app.on_key(gdk_unicode_to_keyval(static_cast<unsigned char>(c)),
                   static_cast<GdkModifierType>(0));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: app_overlay_screenshots DIR OUT\n");
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
    if (!app.m_root || app.m_root->children.size() < 2) return 1;
    const std::string out = argv[2];
    bool ok = write_frame(app, out + "/settings.png"); // lays out the tiles

    app.open_settings();
    ok = write_frame(app, out + "/settings.png") && ok;
    app.open_about();
    ok = write_frame(app, out + "/about.png") && ok;
    app.close_overlay();

    const TreemapTile& tile = app.m_tiles.at(0);
    const double mx = tile.rect.x + tile.rect.w * 0.35;
    const double my = tile.rect.y + tile.rect.h * 0.3;
    app.open_tile_menu(tile.node, mx, my);
    write_frame(app, out + "/tile-menu.png");
    app.on_motion(mx + 30, my + 4 + 26 + 13); // the second row
    ok = write_frame(app, out + "/tile-menu.png") && ok;
    app.close_overlay();

    app.on_key(GDK_KEY_f, GDK_CONTROL_MASK);
    type(app, "docs");
    app.search_jump_next();
    ok = write_frame(app, out + "/search.png") && ok;
    app.close_search();

    // Arabic: the delete list's confirmation over the map.
    const std::vector<LanguageInfo> langs = I18n::available();
    for (std::size_t i = 0; i < langs.size(); ++i)
        if (langs[i].code == "ar")
            app.apply_language_choice(App::CMD_LANG_FIRST + static_cast<int>(i));
    app.m_basket = {app.m_root->children[0], app.m_root->children[1]};
    app.confirm_delete_list();
    ok = write_frame(app, out + "/dialog-ar.png") && ok;
    app.open_settings();
    ok = write_frame(app, out + "/settings-ar.png") && ok;
    return ok ? 0 : 1;
}
