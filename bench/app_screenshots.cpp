// Pictures of the views for the documentation, drawn in-process: scans DIR
// and writes the map in both colour modes and the tree table, 1200 x 800,
// as PNG files into OUT (docs/screenshots in the repository).
//
//   app_screenshots DIR OUT
#include <string>

#include "screenshot.h"

int main(int argc, char** argv) {
    if (!screenshot::prepare(argc, argv)) return 2;
    App app;
    if (!screenshot::scan(app, argv[1])) return 1;
    const std::string out = argv[2];

    app.set_color_mode(ColorMode::Category);
    screenshot::write_frame(app, out + "/map-type.png"); // lays out the tiles
    if (app.m_tiles.size() > 2) {
        const TreemapTile& t = app.m_tiles[1];
        app.select(app.m_tiles[0].node);
        app.on_motion(t.rect.x + t.rect.w * 0.4, t.rect.y + t.rect.h * 0.4);
    }
    bool ok = screenshot::write_frame(app, out + "/map-type.png");
    app.on_leave();
    app.set_color_mode(ColorMode::Heat);
    ok = screenshot::write_frame(app, out + "/map-age.png") && ok;

    app.set_view_mode(ViewMode::Tree);
    const std::vector<FileNodePtr> rows = app.sorted(app.m_root->children);
    for (std::size_t i = 0; i < rows.size() && i < 2; ++i)
        app.toggle_expanded(rows[i]);
    if (!rows.empty()) app.select(rows[0]);
    ok = screenshot::write_frame(app, out + "/tree.png") && ok;
    return ok ? 0 : 1;
}
