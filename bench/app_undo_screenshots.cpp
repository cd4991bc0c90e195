// Pictures of Undo for the documentation, drawn in-process: scans DIR,
// "moves" three of its items to the Trash in two batches and writes the
// freed banner with its Undo button and the "Moved to Trash" panel, 1200 x
// 800, as PNG files into OUT. The moves are make-believe: nothing on disk is
// touched, the App is only told that the items went.
//
//   app_undo_screenshots DIR OUT
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gdk/gdkkeysyms.h>
#include <unistd.h>

#include "app.h"
#include "strutil.h"

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

shell_ops::TrashResult pretend_trashed(const std::vector<std::string>& paths) {
    shell_ops::TrashResult r;
    r.trashed = paths;
    for (const std::string& p : paths)
        r.moved.push_back(
            {p, "/home/me/.local/share/Trash/files", su::basename_of(p), 1, 1, 0, false});
    return r;
}

void trash(App& app, const std::vector<FileNodePtr>& nodes) {
    for (const FileNodePtr& n : nodes)
        app.toggle_basket(n);
    app.empty_basket_to_trash();
    while (app.m_deleting)
        g_main_context_iteration(nullptr, TRUE);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: app_undo_screenshots DIR OUT\n");
        return 2;
    }
    char tmpl[] = "/tmp/spacemole-shots-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    setenv("XDG_CONFIG_HOME", tmpl, 1); // the user's settings stay untouched
    setenv("LANGUAGE", "en", 1);
    App::Effects fx;
    fx.move_to_trash = pretend_trashed;
    App app(fx);
    app.start_scan(argv[1]);
    while (app.m_scanning)
        g_main_context_iteration(nullptr, TRUE);
    if (!app.m_root || app.m_root->children.size() < 3) return 1;
    const std::string out = argv[2];
    const std::vector<FileNodePtr> top = app.m_root->children;
    trash(app, {top[2]});
    trash(app, {top[0], top[1]});
    bool ok = write_frame(app, out + "/undo-banner.png");
    app.open_trashed_panel();
    app.trashed_panel_key(GDK_KEY_Down);
    ok = write_frame(app, out + "/undo-panel.png") && ok;
    return ok ? 0 : 1;
}
