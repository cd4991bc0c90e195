// Pictures of the overlays for the documentation, drawn in-process: scans
// DIR and writes the Settings and About panels, the tile menu, the search
// bar and the delete confirmation (in English, and in Arabic to show a
// right-to-left language), 1200 x 800, as PNG files into OUT.
//
//   app_overlay_screenshots DIR OUT
#include <string>

#include <gdk/gdkkeysyms.h>

#include "screenshot.h"
#include "i18n.h"

namespace {

void type(App& app, const std::string& text) {
    for (const char c : text)
        app.on_key(gdk_unicode_to_keyval(static_cast<unsigned char>(c)),
                   static_cast<GdkModifierType>(0));
}

} // namespace

int main(int argc, char** argv) {
    if (!screenshot::prepare(argc, argv)) return 2;
    App app;
    if (!screenshot::scan(app, argv[1]) || app.m_root->children.size() < 2) return 1;
    const std::string out = argv[2];
    bool ok = screenshot::write_frame(app, out + "/settings.png"); // lays out the tiles

    app.open_settings();
    ok = screenshot::write_frame(app, out + "/settings.png") && ok;
    app.open_about();
    ok = screenshot::write_frame(app, out + "/about.png") && ok;
    app.close_overlay();

    const TreemapTile& tile = app.m_tiles.at(0);
    const double mx = tile.rect.x + tile.rect.w * 0.35;
    const double my = tile.rect.y + tile.rect.h * 0.3;
    app.open_tile_menu(tile.node, mx, my);
    screenshot::write_frame(app, out + "/tile-menu.png");
    app.on_motion(mx + 30, my + 4 + 26 + 13); // the second row
    ok = screenshot::write_frame(app, out + "/tile-menu.png") && ok;
    app.close_overlay();

    app.on_key(GDK_KEY_f, GDK_CONTROL_MASK);
    type(app, "docs");
    app.search_jump_next();
    ok = screenshot::write_frame(app, out + "/search.png") && ok;
    app.close_search();

    // Arabic: the delete list's confirmation over the map.
    const std::vector<LanguageInfo> langs = I18n::available();
    for (std::size_t i = 0; i < langs.size(); ++i)
        if (langs[i].code == "ar")
            app.apply_language_choice(App::CMD_LANG_FIRST + static_cast<int>(i));
    app.m_basket = {app.m_root->children[0], app.m_root->children[1]};
    app.confirm_delete_list();
    ok = screenshot::write_frame(app, out + "/dialog-ar.png") && ok;
    app.open_settings();
    ok = screenshot::write_frame(app, out + "/settings-ar.png") && ok;
    return ok ? 0 : 1;
}
