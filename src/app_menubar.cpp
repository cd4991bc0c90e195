// The GTK menu bar: four menus with mnemonics and accelerators, rebuilt when
// the language changes, and the command dispatcher its items share with the
// in-canvas menus.
#include "app.h"

#include <gdk/gdkkeysyms.h>

#include "i18n.h"

namespace {

constexpr const char* kCmdKey = "cmd";

struct Item {
    const char* label; // catalogue key; null for a separator
    int cmd;
    guint key;
    GdkModifierType mods;
    bool ellipsis;
};

constexpr GdkModifierType kNoMods = static_cast<GdkModifierType>(0);

constexpr Item kFile[] = {
    {"Choose folder", App::CMD_MENU_CHOOSE, GDK_KEY_o, GDK_CONTROL_MASK, true},
    {"Open saved scan", App::CMD_MENU_OPEN_SAVED, 0, kNoMods, true},
    {"Rescan", App::CMD_MENU_RESCAN, GDK_KEY_F5, kNoMods, false},
    {"Cancel scan", App::CMD_MENU_CANCEL_SCAN, 0, kNoMods, false},
    {nullptr, 0, 0, kNoMods, false},
    {"Open in file manager", App::CMD_MENU_REVEAL, 0, kNoMods, false},
    {nullptr, 0, 0, kNoMods, false},
    {"Undo move to Trash", App::CMD_MENU_UNDO, GDK_KEY_z, GDK_CONTROL_MASK, false},
    {"Moved to Trash", App::CMD_MENU_TRASHED, 0, kNoMods, true},
    {nullptr, 0, 0, kNoMods, false},
    {"E&xit", App::CMD_MENU_EXIT, GDK_KEY_q, GDK_CONTROL_MASK, false},
};

constexpr Item kView[] = {
    {"Map", App::CMD_MENU_VIEW_MAP, 0, kNoMods, false},
    {"Tree", App::CMD_MENU_VIEW_TREE, 0, kNoMods, false},
    {nullptr, 0, 0, kNoMods, false},
    {"Type", App::CMD_MENU_COLOR_CATEGORY, 0, kNoMods, false},
    {"Age", App::CMD_MENU_COLOR_HEAT, 0, kNoMods, false},
    {nullptr, 0, 0, kNoMods, false},
    {"Up one level", App::CMD_MENU_UP, GDK_KEY_Up, GDK_MOD1_MASK, false},
    {"Into the largest subfolder", App::CMD_MENU_DOWN, GDK_KEY_Down, GDK_MOD1_MASK, false},
};

constexpr Item kTools[] = {
    {"Settings", App::CMD_MENU_SETTINGS, 0, kNoMods, true},
};

void on_item_activate(GtkMenuItem* item, gpointer data) {
    const int cmd = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kCmdKey));
    static_cast<App*>(data)->handle_menu_command(cmd);
}

gboolean on_bar_enter(GtkWidget*, GdkEventCrossing*, gpointer data) {
    static_cast<App*>(data)->sync_menu_state();
    return FALSE;
}

GtkWidget* add_menu(GtkWidget* bar, const char* title) {
    GtkWidget* top = gtk_menu_item_new_with_mnemonic(App::mnemonic(tr(title)).c_str());
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
    return menu;
}

void add_item(App& app, GtkWidget* menu, const std::string& label, int cmd, guint key,
              GdkModifierType mods) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(App::mnemonic(label).c_str());
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    g_object_set_data(G_OBJECT(item), kCmdKey, GINT_TO_POINTER(cmd));
    g_signal_connect(item, "activate", G_CALLBACK(on_item_activate), &app);
    if (key != 0)
        gtk_widget_add_accelerator(item, "activate", app.m_accel_group, key, mods,
                                   GTK_ACCEL_VISIBLE);
}

void add_items(App& app, GtkWidget* menu, const Item* items, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const Item& it = items[i];
        if (!it.label) {
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
            continue;
        }
        std::string label = tr(it.label);
        if (it.ellipsis) label += "…";
        add_item(app, menu, label, it.cmd, it.key, it.mods);
    }
}

} // namespace

std::string App::mnemonic(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '&') c = '_';
    return out;
}

void App::build_menu_bar() {
    if (!m_menu_container || !m_window) return;
    if (m_menu_bar) gtk_widget_destroy(m_menu_bar);
    if (!m_accel_group) {
        m_accel_group = gtk_accel_group_new();
        gtk_window_add_accel_group(GTK_WINDOW(m_window), m_accel_group);
        g_object_unref(m_accel_group); // the window holds it from now on
    }
    m_menu_bar = gtk_menu_bar_new();
    g_signal_connect(m_menu_bar, "destroy", G_CALLBACK(gtk_widget_destroyed), &m_menu_bar);
    gtk_box_pack_start(GTK_BOX(m_menu_container), m_menu_bar, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(m_menu_container), m_menu_bar, 0);

    add_items(*this, add_menu(m_menu_bar, "&File"), kFile, std::size(kFile));
    add_items(*this, add_menu(m_menu_bar, "&View"), kView, std::size(kView));
    add_items(*this, add_menu(m_menu_bar, "&Tools"), kTools, std::size(kTools));
    GtkWidget* help = add_menu(m_menu_bar, "&Help");
    add_item(*this, help, I18n::instance().trf("About %s", "Spacemole"), CMD_ABOUT, 0, kNoMods);

    g_signal_connect(m_menu_bar, "enter-notify-event", G_CALLBACK(on_bar_enter), this);
    gtk_widget_show_all(m_menu_bar);
    sync_menu_state();
}

void App::sync_menu_state() {
    if (!m_menu_bar) return;
    g_autoptr(GList) tops = gtk_container_get_children(GTK_CONTAINER(m_menu_bar));
    for (GList* t = tops; t; t = t->next) {
        GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(t->data));
        if (!sub) continue;
        g_autoptr(GList) items = gtk_container_get_children(GTK_CONTAINER(sub));
        for (GList* i = items; i; i = i->next) {
            const int cmd = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(i->data), kCmdKey));
            bool sensitive = true;
            switch (cmd) {
            case CMD_NONE:
                continue;
            case CMD_MENU_RESCAN:
                sensitive = !m_scan_root.empty() && !m_scanning;
                break;
            case CMD_MENU_CANCEL_SCAN:
                sensitive = m_scanning;
                break;
            case CMD_MENU_REVEAL:
                sensitive = current() != nullptr;
                break;
            case CMD_MENU_UP:
                sensitive = can_zoom_out();
                break;
            case CMD_MENU_DOWN:
                sensitive = can_zoom_in();
                break;
            case CMD_MENU_UNDO:
                sensitive = can_undo();
                break;
            default:
                break;
            }
            gtk_widget_set_sensitive(GTK_WIDGET(i->data), sensitive);
        }
    }
}

void App::handle_menu_command(int id) {
    if (id >= CMD_THEME_AUTO && id <= CMD_THEME_DARK) {
        apply_theme_choice(id);
        return;
    }
    if (id >= CMD_LANG_AUTO && id < CMD_THEME_AUTO) {
        apply_language_choice(id);
        return;
    }
    if (id >= CMD_CRUMB_FIRST) {
        const std::size_t i = static_cast<std::size_t>(id - CMD_CRUMB_FIRST);
        if (i >= m_crumbs_hidden.size()) {
            close_overlay();
            return;
        }
        const Crumb crumb = m_crumbs_hidden[i];
        close_overlay();
        if (crumb.act == Act::ScanAncestor) {
            scan_ancestor(crumb.index);
        } else {
            zoom_to(crumb.index);
        }
        return;
    }
    if (id == CMD_MENU_SETTINGS) {
        open_settings();
        return;
    }
    if (id == CMD_ABOUT) {
        open_about();
        return;
    }
    if (id == CMD_MENU_TRASHED) {
        open_trashed_panel();
        return;
    }
    const FileNodePtr node = m_menu_node;
    close_overlay();
    switch (id) {
    case CMD_MENU_CHOOSE:
        choose_folder();
        return;
    case CMD_MENU_OPEN_SAVED:
        choose_saved_scan();
        return;
    case CMD_MENU_RESCAN:
        // Sensitivity may be stale under an accelerator: check again here.
        if (!m_scan_root.empty()) start_scan(m_scan_root);
        return;
    case CMD_MENU_CANCEL_SCAN:
        cancel_scan();
        return;
    case CMD_MENU_UNDO:
        undo_last_trash(); // re-checks that the banner offers it
        return;
    case CMD_MENU_REVEAL:
        if (const FileNodePtr shown = current(); shown && shown->allows(FileNode::Action::Reveal))
            reveal(shown->path);
        return;
    case CMD_MENU_EXIT:
        save_geometry();
        save_view_settings();
        cancel_scan();
        if (gtk_main_level() > 0) gtk_main_quit();
        return;
    case CMD_MENU_VIEW_MAP:
        set_view_mode(ViewMode::Map);
        return;
    case CMD_MENU_VIEW_TREE:
        set_view_mode(ViewMode::Tree);
        return;
    case CMD_MENU_COLOR_CATEGORY:
        set_color_mode(ColorMode::Category);
        return;
    case CMD_MENU_COLOR_HEAT:
        set_color_mode(ColorMode::Heat);
        return;
    case CMD_MENU_UP:
        if (can_zoom_out()) zoom_out();
        return;
    case CMD_MENU_DOWN:
        zoom_into_largest();
        return;
    default:
        break;
    }
    if (id >= CMD_QUICK_HOME && id < CMD_LANG_AUTO) {
        const std::string path = quick_path_for(id);
        if (!path.empty()) start_scan(path);
        return;
    }
    if (!node) return;
    switch (id) {
    case CMD_TILE_REVEAL:
        if (node->allows(FileNode::Action::Reveal)) reveal(node->path);
        break;
    case CMD_TILE_ZOOM:
        zoom_into(node);
        break;
    case CMD_TILE_MARK:
        toggle_basket(node);
        break;
    case CMD_TILE_UNMARK:
        remove_from_basket(node);
        break;
    case CMD_TILE_ZIP:
        compress_folder(node);
        break;
    default:
        break;
    }
}
