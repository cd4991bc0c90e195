// Pictures of Undo for the documentation, drawn in-process: scans DIR,
// "moves" three of its items to the Trash in two batches and writes the
// freed banner with its Undo button and the "Moved to Trash" panel, 1200 x
// 800, as PNG files into OUT. The moves are make-believe: nothing on disk is
// touched, the App is only told that the items went.
//
//   app_undo_screenshots DIR OUT
#include <string>

#include <gdk/gdkkeysyms.h>

#include "screenshot.h"
#include "strutil.h"

namespace {

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
    if (!screenshot::prepare(argc, argv)) return 2;
    App::Effects fx;
    fx.move_to_trash = pretend_trashed;
    App app(fx);
    if (!screenshot::scan(app, argv[1]) || app.m_root->children.size() < 3) return 1;
    const std::string out = argv[2];
    const std::vector<FileNodePtr> top = app.m_root->children;
    trash(app, {top[2]});
    trash(app, {top[0], top[1]});
    bool ok = screenshot::write_frame(app, out + "/undo-banner.png");
    app.open_trashed_panel();
    app.trashed_panel_key(GDK_KEY_Down);
    ok = screenshot::write_frame(app, out + "/undo-panel.png") && ok;
    return ok ? 0 : 1;
}
