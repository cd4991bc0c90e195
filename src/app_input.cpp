// Pointer and keyboard: clicks resolved against the last frame's hit
// targets, hovering, scrolling, every key; the in-canvas menus, message
// dialogs and the Settings and About panels (their behaviour; drawing is in
// app_render_overlays.cpp), and the settings those panels change.
#include "app.h"

#include <algorithm>

#include <gdk/gdkkeysyms.h>

#include "deletion_guard.h"
#include "format.h"
#include "i18n.h"
#include "settings.h"
#include "strutil.h"

namespace {

// Opened by the About panel's link.
constexpr const char* kWebsite = "https://spacemole.org";

bool is_enter(guint keyval) {
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

bool is_panel_control(App::Act act) {
    switch (act) {
    case App::Act::SettingsTheme:
    case App::Act::SettingsLang:
    case App::Act::SettingsDedupe:
    case App::Act::SettingsOneFs:
    case App::Act::LinkWebsite:
    case App::Act::DialogButton:
        return true;
    default:
        return false;
    }
}

// The button Enter stands for: the first that is neither the dismissing one
// nor an irreversible deletion (a user acknowledging an error with Enter
// must never delete for good). Null when there is none.
const App::DialogButton* default_button(const std::vector<App::DialogButton>& buttons) {
    for (const App::DialogButton& b : buttons)
        if (!b.cancel && b.id != App::CMD_DLG_DELETE_FOREVER) return &b;
    return nullptr;
}

// Removes the last UTF-8 character.
void pop_utf8(std::string& s) {
    while (!s.empty()) {
        const auto c = static_cast<unsigned char>(s.back());
        s.pop_back();
        if ((c & 0xC0) != 0x80) break;
    }
}

} // namespace

const App::HitTarget* App::target_at(double x, double y) const {
    const float px = static_cast<float>(x);
    const float py = static_cast<float>(y);
    // Last recorded first: what is drawn on top takes the click.
    for (auto it = m_targets.rbegin(); it != m_targets.rend(); ++it)
        if (it->rect.contains(px, py)) return &*it;
    return nullptr;
}

void App::choose_folder() {
    const std::string path = m_fx.pick_folder(m_window ? GTK_WINDOW(m_window) : nullptr);
    if (!path.empty()) start_scan(path);
}

void App::choose_saved_scan() {
    const std::string file = m_fx.pick_file(m_window ? GTK_WINDOW(m_window) : nullptr);
    if (!file.empty()) open_saved_scan(file);
}

bool App::refuse_saved_scan() {
    if (!m_saved_scan) return false;
    m_protected_note = tr("Saved scans are read-only");
    show_dialog(tr("Protected"), m_protected_note, {{CMD_DLG_OK, "OK", false, true}});
    return true;
}

void App::reveal(const std::string& path) {
    if (path.empty() || refuse_saved_scan()) return;
    m_fx.reveal(path);
}

// ---- Overlays -------------------------------------------------------------------

void App::close_overlay() {
    if (m_overlay == Overlay::Dialog) {
        // Whatever closes the dialog (outside click, Escape, Control+F, a
        // menu command, another overlay) declines the permanent deletion.
        std::lock_guard<std::mutex> lock(m_result_mutex);
        m_no_trash.clear();
    }
    m_overlay = Overlay::None;
    m_menu.clear();
    m_dialog_buttons.clear();
    m_menu_node.reset();
    m_menu_hover = -1;
    m_panel_focus = -1;
    request_repaint();
}

void App::open_tile_menu(const FileNodePtr& node, double x, double y) {
    if (!node || node->is_aggregate) return;
    close_overlay();
    m_menu_node = node;
    const bool can_change = node->allows(FileNode::Action::Change);
    m_menu.push_back({CMD_TILE_REVEAL, tr("Open in file manager"), false, false,
                      node->allows(FileNode::Action::Reveal)});
    if (node->can_enter()) m_menu.push_back({CMD_TILE_ZOOM, tr("Zoom in"), false, false, true});
    if (node->is_directory && !node->is_denied)
        m_menu.push_back({CMD_TILE_ZIP, tr("📦 Compress folder (tar.gz)"), false, false,
                          can_change && !m_compressing});
    m_menu.push_back({0, "", false, true, false});
    // The guard resolves the path on disk: ask it only for entries that may act.
    const bool markable = can_change && !deletion_guard::is_protected(node->path);
    if (is_in_basket(node)) {
        m_menu.push_back({CMD_TILE_UNMARK, tr("Remove from delete list"), false, false, markable});
    } else {
        m_menu.push_back({CMD_TILE_MARK, tr("🗑 Mark for deletion"), false, false, markable});
    }
    m_menu_rect = {static_cast<float>(x), static_cast<float>(y), 0, 0};
    m_overlay = Overlay::Menu;
    request_repaint();
}

void App::open_crumb_menu(const RectF& anchor) {
    if (m_crumbs_hidden.empty()) return;
    const std::vector<Crumb> hidden = m_crumbs_hidden;
    close_overlay();
    for (std::size_t i = 0; i < hidden.size(); ++i)
        m_menu.push_back(
            {CMD_CRUMB_FIRST + static_cast<std::int32_t>(i), hidden[i].label, false, false, true});
    m_menu_rect = anchor;
    m_overlay = Overlay::Menu;
    request_repaint();
}

void App::open_quick_pick_menu(const RectF& anchor) {
    close_overlay();
    m_menu.push_back({CMD_QUICK_HOME, tr("Home Folder"), false, false, true});
    m_menu.push_back({CMD_QUICK_ROOT, tr("Entire system (/)"), false, false, true});
    const std::vector<std::string> roots = m_fx.quick_pick_roots();
    if (!roots.empty()) {
        m_menu.push_back({0, "", false, true, false});
        m_menu.push_back({0, tr("Mount points"), false, false, false});
        for (std::size_t i = 0; i < roots.size(); ++i)
            if (roots[i] != "/")
                m_menu.push_back({CMD_QUICK_MOUNT_FIRST + static_cast<std::int32_t>(i), roots[i],
                                  false, false, true});
    }
    m_menu_rect = anchor;
    m_overlay = Overlay::Menu;
    request_repaint();
}

// A panel replaces whatever was open, so no dialog's buttons lurk beneath it
// for Enter to find.
void App::open_settings() {
    close_overlay();
    m_overlay = Overlay::Settings;
    request_repaint();
}

void App::open_about() {
    close_overlay();
    m_overlay = Overlay::About;
    request_repaint();
}

void App::show_dialog(const std::string& title, const std::string& message,
                      std::vector<DialogButton> buttons) {
    // A dialog that offers permanent deletion is shown with the no-trash
    // list just filled: keep it across the close of what was open before.
    const bool offers_deletion =
        std::any_of(buttons.begin(), buttons.end(),
                    [](const DialogButton& b) { return b.id == CMD_DLG_DELETE_FOREVER; });
    std::vector<std::string> pending;
    if (offers_deletion) {
        std::lock_guard<std::mutex> lock(m_result_mutex);
        pending.swap(m_no_trash);
    }
    close_overlay();
    if (offers_deletion) {
        std::lock_guard<std::mutex> lock(m_result_mutex);
        m_no_trash.swap(pending);
    }
    m_dialog_title = title;
    m_dialog_message = message;
    m_dialog_buttons = std::move(buttons);
    m_dialog_file.clear();
    m_dialog_file_size.clear();
    m_dialog_path.clear();
    m_dialog_reveal.clear();
    m_overlay = Overlay::Dialog;
    request_repaint();
}

void App::show_result_dialog(const std::string& title, const std::string& file,
                             const std::string& size_text, const std::string& path,
                             const std::string& note, std::vector<DialogButton> buttons) {
    show_dialog(title, note, std::move(buttons));
    m_dialog_file = file;
    m_dialog_file_size = size_text;
    m_dialog_path = path;
    m_dialog_reveal = su::join_path(path, file);
}

void App::handle_dialog_command(int id) {
    const std::string reveal_path = m_dialog_reveal;
    // Only the button that offers it may keep the no-trash list past the close.
    std::vector<std::string> no_trash;
    if (id == CMD_DLG_DELETE_FOREVER) {
        std::lock_guard<std::mutex> lock(m_result_mutex);
        no_trash.swap(m_no_trash);
    }
    close_overlay();
    switch (id) {
    case CMD_DLG_REVEAL_RESULT:
        reveal(reveal_path);
        break;
    case CMD_DLG_TRASH:
        empty_basket_to_trash();
        break;
    case CMD_DLG_DELETE_FOREVER: {
        {
            std::lock_guard<std::mutex> lock(m_result_mutex);
            m_no_trash.swap(no_trash);
        }
        delete_no_trash_items();
        break;
    }
    default:
        break; // Cancel, OK: close_overlay() has forgotten the no-trash list
    }
}

void App::confirm_delete_list() {
    if (m_basket.empty()) {
        show_dialog(tr("Delete list"), tr("The delete list is empty."),
                    {{CMD_DLG_OK, "OK", false, true}});
        return;
    }
    const std::string message =
        I18n::instance().trf("Move %s item(s) · %s to Trash?",
                             fmt::count(static_cast<std::int64_t>(m_basket.size())).c_str(),
                             fmt::bytes(basket_total_bytes()).c_str());
    show_dialog(tr("Move to Trash"), message,
                {{CMD_DLG_CANCEL, tr("Cancel"), false, true},
                 {CMD_DLG_TRASH, tr("Move to Trash"), true, false}});
}

// ---- Settings ---------------------------------------------------------------------

void App::apply_theme_choice(int id) {
    SettingsStore& store = SettingsStore::instance();
    store.mutable_get().theme = id == CMD_THEME_LIGHT  ? "light"
                                : id == CMD_THEME_DARK ? "dark"
                                                       : "auto";
    store.save();
    reload_theme();
}

void App::apply_language_choice(int id) {
    std::string code = "auto";
    if (id != CMD_LANG_AUTO) {
        const std::vector<LanguageInfo> langs = I18n::available();
        const int i = id - CMD_LANG_FIRST;
        if (i < 0 || static_cast<std::size_t>(i) >= langs.size()) return;
        code = langs[static_cast<std::size_t>(i)].code;
    }
    SettingsStore& store = SettingsStore::instance();
    store.mutable_get().language = code;
    store.save();
    I18n::instance().set_language(code);
    build_menu_bar();
    // Labels baked into the map's picture and its fold tiles change too.
    m_tiles_node_id = 0;
    discard_treemap_cache();
    request_repaint();
}

void App::toggle_hard_link_dedupe() {
    SettingsStore& store = SettingsStore::instance();
    store.mutable_get().dedupe_hard_links = !store.get().dedupe_hard_links;
    store.save();
    if (!m_scan_root.empty()) start_scan(m_scan_root);
    request_repaint();
}

void App::toggle_one_filesystem() {
    SettingsStore& store = SettingsStore::instance();
    store.mutable_get().one_filesystem = !store.get().one_filesystem;
    store.save();
    if (!m_scan_root.empty()) start_scan(m_scan_root);
    request_repaint();
}

// ---- Pointer --------------------------------------------------------------------

namespace {

// A click on a panel (Settings or About): its controls act, anything else
// closes it (the Close button included).
void panel_click(App& app, const App::HitTarget* hit) {
    switch (hit ? hit->act : App::Act::None) {
    case App::Act::SettingsTheme:
        app.apply_theme_choice(hit->index);
        break;
    case App::Act::SettingsLang:
        app.apply_language_choice(hit->index);
        break;
    case App::Act::SettingsDedupe:
        app.toggle_hard_link_dedupe();
        break;
    case App::Act::SettingsOneFs:
        app.toggle_one_filesystem();
        break;
    case App::Act::LinkWebsite:
        app.m_fx.open_url(kWebsite);
        break;
    default:
        app.close_overlay();
        break;
    }
}

} // namespace

bool App::on_click(double x, double y, bool secondary) {
    const HitTarget* hit = target_at(x, y);
    if (m_overlay != Overlay::None) {
        const HitTarget t = hit ? *hit : HitTarget{};
        switch (m_overlay) {
        case Overlay::Menu:
            if (t.act == Act::MenuItem) {
                handle_menu_command(t.index);
            } else {
                close_overlay();
            }
            break;
        case Overlay::Dialog:
            if (t.act == Act::DialogButton) {
                handle_dialog_command(t.index);
            } else if (!m_dialog_buttons.empty()) {
                close_overlay(); // a progress dialog stays
            }
            break;
        case Overlay::Trashed:
            trashed_panel_click(hit ? &t : nullptr);
            break;
        default:
            panel_click(*this, hit ? &t : nullptr);
            break;
        }
        return true;
    }
    if (!hit) return false;
    const HitTarget t = *hit; // the handlers below may rebuild m_targets
    switch (t.act) {
    case Act::ChooseFolder:
        choose_folder();
        break;
    case Act::QuickPick:
        open_quick_pick_menu(t.rect);
        break;
    case Act::Up:
        if (can_zoom_out()) zoom_out();
        break;
    case Act::Down:
        zoom_into_largest();
        break;
    case Act::ModeCategory:
        set_color_mode(ColorMode::Category);
        break;
    case Act::ModeHeat:
        set_color_mode(ColorMode::Heat);
        break;
    case Act::ViewMap:
        set_view_mode(ViewMode::Map);
        break;
    case Act::ViewTree:
        set_view_mode(ViewMode::Tree);
        break;
    case Act::Rescan:
        if (!m_scan_root.empty()) start_scan(m_scan_root);
        break;
    case Act::CancelScan:
        cancel_scan();
        break;
    case Act::AppMenu:
        open_settings();
        break;
    case Act::Breadcrumb:
        zoom_to(t.index);
        break;
    case Act::ScanAncestor:
        scan_ancestor(t.index);
        break;
    case Act::CrumbMore:
        open_crumb_menu(t.rect);
        break;
    case Act::RevealCurrent:
        if (const FileNodePtr shown = current(); shown && shown->allows(FileNode::Action::Reveal))
            reveal(shown->path);
        break;
    case Act::DismissDenied:
        m_denied_folders = m_skipped_folders = 0;
        request_repaint();
        break;
    case Act::DismissFreed:
        m_last_freed = 0;
        m_delete_error.clear();
        m_undo_serial = 0;
        m_restore_note.clear();
        request_repaint();
        break;
    case Act::UndoTrash:
        undo_last_trash();
        break;
    case Act::OpenTrashed:
        open_trashed_panel();
        break;
    case Act::BasketClear:
        m_basket.clear();
        request_repaint();
        break;
    case Act::BasketDelete:
        confirm_delete_list();
        break;
    case Act::StatusReveal:
        if (m_selected && m_selected->allows(FileNode::Action::Reveal)) reveal(m_selected->path);
        break;
    case Act::Tile:
    case Act::TreeRow:
        if (secondary) {
            open_tile_menu(t.node, x, y);
        } else {
            select(t.node);
        }
        break;
    case Act::SortColumn:
        sort_by(static_cast<SortField>(t.index));
        break;
    case Act::TreeDisclosure:
        if (!secondary) toggle_expanded(t.node);
        break;
    case Act::SearchClose:
        close_search();
        break;
    case Act::SearchNext:
        search_jump_next();
        break;
    case Act::BasketRemove:
        remove_from_basket(t.node);
        break;
    case Act::StatusToggleBasket:
        if (m_selected) toggle_basket(m_selected);
        break;
    case Act::MarkReclaimable:
        add_reclaimable_to_basket();
        break;
    default:
        return false;
    }
    return true;
}

void App::on_motion(double x, double y) {
    m_hover_x = x;
    m_hover_y = y;
    const float px = static_cast<float>(x);
    const float py = static_cast<float>(y);
    if (m_overlay == Overlay::Menu) {
        int id = -1;
        for (auto it = m_targets.rbegin(); it != m_targets.rend(); ++it) {
            if (it->act == Act::MenuItem && it->rect.contains(px, py)) {
                id = it->index;
                break;
            }
        }
        if (id != m_menu_hover) {
            m_menu_hover = id;
            request_repaint();
        }
        return;
    }
    if (m_overlay != Overlay::None) return;
    FileNodePtr candidate;
    for (auto it = m_targets.rbegin(); it != m_targets.rend(); ++it) {
        if ((it->act == Act::Tile || it->act == Act::TreeRow) && it->rect.contains(px, py)) {
            candidate = it->node;
            break;
        }
    }
    if (!candidate && !m_hovered) return;
    // The same node repaints too: its tooltip follows the pointer.
    m_hovered = candidate;
    request_repaint();
}

void App::on_leave() {
    if (!m_hovered && m_menu_hover == -1) return;
    m_hovered.reset();
    m_menu_hover = -1;
    request_repaint();
}

void App::scroll_by(double dy) {
    if (m_overlay == Overlay::Trashed) {
        // Whole rows; a small smooth-scroll step still moves one.
        const int rows = static_cast<int>(trashed_rows().size());
        int step = static_cast<int>(dy / 26);
        if (step == 0 && dy != 0) step = dy > 0 ? 1 : -1;
        const int first =
            std::clamp(m_trashed_first + step, 0, std::max(rows - m_trashed_visible, 0));
        if (first == m_trashed_first) return;
        m_trashed_first = first;
        m_trashed_row = std::clamp(m_trashed_row, first, first + m_trashed_visible - 1);
        request_repaint();
        return;
    }
    if (m_view_mode != ViewMode::Tree) return;
    const double max = std::max(0.0, m_content_height - static_cast<double>(m_r_content.h));
    const double next = std::clamp(m_scroll + dy, 0.0, max);
    if (next == m_scroll) return;
    m_scroll = next;
    request_repaint();
}

// ---- Keyboard -------------------------------------------------------------------

namespace {

// The in-canvas menu's keyboard: the hovered entry steps through the
// enabled ones; Enter runs it.
bool menu_key(App& app, guint keyval, bool shift) {
    const bool next = keyval == GDK_KEY_Down || (keyval == GDK_KEY_Tab && !shift);
    const bool prev =
        keyval == GDK_KEY_Up || keyval == GDK_KEY_ISO_Left_Tab || (keyval == GDK_KEY_Tab && shift);
    if (next || prev) {
        std::vector<int> ids;
        for (const App::MenuEntry& e : app.m_menu)
            if (e.enabled && !e.separator && e.id != 0) ids.push_back(e.id);
        if (ids.empty()) return true;
        auto it = std::find(ids.begin(), ids.end(), app.m_menu_hover);
        std::size_t i = 0;
        if (it == ids.end()) {
            i = next ? 0 : ids.size() - 1;
        } else {
            const std::size_t at = static_cast<std::size_t>(it - ids.begin());
            i = next ? (at + 1) % ids.size() : (at + ids.size() - 1) % ids.size();
        }
        app.m_menu_hover = ids[i];
        app.request_repaint();
        return true;
    }
    if ((is_enter(keyval) || keyval == GDK_KEY_space) && app.m_menu_hover > 0)
        app.handle_menu_command(app.m_menu_hover);
    return true;
}

// The panels' keyboard: Tab and the arrows move a focus ring over the
// panel's controls as the last frame drew them; Enter or Space acts on the
// focused one as a click would; Enter with nothing focused closes.
bool panel_key(App& app, guint keyval, bool shift) {
    std::vector<const App::HitTarget*> controls;
    for (const App::HitTarget& t : app.m_targets)
        if (is_panel_control(t.act)) controls.push_back(&t);
    const bool next =
        keyval == GDK_KEY_Right || keyval == GDK_KEY_Down || (keyval == GDK_KEY_Tab && !shift);
    const bool prev = keyval == GDK_KEY_Left || keyval == GDK_KEY_Up ||
                      keyval == GDK_KEY_ISO_Left_Tab || (keyval == GDK_KEY_Tab && shift);
    const int n = static_cast<int>(controls.size());
    if ((next || prev) && n > 0) {
        const int f = app.m_panel_focus;
        app.m_panel_focus = f < 0 || f >= n ? (next ? 0 : n - 1) : (f + (next ? 1 : n - 1)) % n;
        app.request_repaint();
        return true;
    }
    if (is_enter(keyval) || keyval == GDK_KEY_space) {
        const int f = app.m_panel_focus;
        if (f >= 0 && f < n) {
            const App::HitTarget t = *controls[static_cast<std::size_t>(f)];
            panel_click(app, &t);
        } else if (is_enter(keyval)) {
            app.close_overlay();
        }
    }
    return true;
}

} // namespace

bool App::on_key(guint keyval, GdkModifierType state) {
    const bool alt = (state & GDK_MOD1_MASK) != 0;
    const bool ctrl = (state & GDK_CONTROL_MASK) != 0;
    const bool shift = (state & GDK_SHIFT_MASK) != 0;

    if (ctrl && (keyval == GDK_KEY_f || keyval == GDK_KEY_F)) {
        if (m_overlay != Overlay::None) close_overlay();
        open_search();
        return true;
    }
    if (ctrl && keyval == GDK_KEY_comma) {
        open_settings();
        return true;
    }

    if (m_overlay != Overlay::None) {
        if (keyval == GDK_KEY_Escape) {
            close_overlay();
            return true;
        }
        switch (m_overlay) {
        case Overlay::Menu:
            return menu_key(*this, keyval, shift);
        case Overlay::Trashed:
            return trashed_panel_key(keyval);
        case Overlay::Dialog:
            // Enter reaches the dialog's buttons only while the dialog is the
            // overlay in front.
            if (is_enter(keyval)) {
                if (const DialogButton* b = default_button(m_dialog_buttons))
                    handle_dialog_command(b->id);
            }
            return true;
        default:
            return panel_key(*this, keyval, shift);
        }
    }

    // Undo of the last move to the Trash, while its banner is shown. Also
    // while searching: Control+Z is never search text.
    if (ctrl && (keyval == GDK_KEY_z || keyval == GDK_KEY_Z) && !shift) {
        undo_last_trash();
        return true;
    }

    if (m_search_open) {
        if (keyval == GDK_KEY_Escape) {
            close_search();
            return true;
        }
        if (is_enter(keyval)) {
            search_jump_next();
            return true;
        }
        if (keyval == GDK_KEY_BackSpace) {
            if (!m_search_query.empty()) {
                pop_utf8(m_search_query);
                update_search();
            }
            return true;
        }
        // Characters typed with Control or Alt are shortcuts (Control+Q
        // still quits while searching), not text.
        const gunichar c = gdk_keyval_to_unicode(keyval);
        if (c >= 32 && c != 127 && !ctrl && !alt) {
            char buf[8] = {};
            const int len = g_unichar_to_utf8(c, buf);
            m_search_query.append(buf, static_cast<std::size_t>(len));
            update_search();
            return true;
        }
    }

    switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        activate(m_selected ? m_selected : m_hovered);
        return true;
    case GDK_KEY_Escape:
        if (m_scanning) {
            cancel_scan();
        } else if (can_zoom_out()) {
            zoom_out();
        }
        return true;
    case GDK_KEY_BackSpace:
        if (can_zoom_out()) zoom_out();
        return true;
    case GDK_KEY_Home:
        if (alt) {
            const HitTarget* pick = nullptr;
            for (const HitTarget& t : m_targets)
                if (t.act == Act::QuickPick) pick = &t;
            open_quick_pick_menu(pick ? pick->rect : m_r_toolbar);
            return true;
        }
        m_scroll = 0.0;
        request_repaint();
        return true;
    case GDK_KEY_Up:
        if (alt) {
            if (can_zoom_out()) zoom_out();
            return true;
        }
        // Scrolling (tree view only) leaves the key to the window as well:
        // nothing else there takes it.
        scroll_by(-60);
        return false;
    case GDK_KEY_Down:
        if (alt) {
            zoom_into_largest();
            return true;
        }
        scroll_by(60);
        return false;
    case GDK_KEY_Page_Up:
        scroll_by(-0.9 * m_r_content.h);
        return false;
    case GDK_KEY_Page_Down:
        scroll_by(0.9 * m_r_content.h);
        return false;
    case GDK_KEY_F5:
        // Also during a scan: the running one is replaced, once per press.
        if (!m_scan_root.empty()) start_scan(m_scan_root);
        return true;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        select_step(keyval == GDK_KEY_ISO_Left_Tab || shift ? -1 : 1);
        return true;
    case GDK_KEY_Menu:
        open_menu_for_selection();
        return true;
    case GDK_KEY_F10:
        if (!shift) return false; // F10 alone opens the menu bar
        open_menu_for_selection();
        return true;
    case GDK_KEY_l:
    case GDK_KEY_L:
        if (!ctrl) return false;
        for (const HitTarget& t : m_targets)
            if (t.act == Act::CrumbMore) {
                open_crumb_menu(t.rect);
                break;
            }
        return true;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
        toggle_basket(m_selected ? m_selected : m_hovered);
        return true;
    default:
        return false;
    }
}

void App::select_step(int step) {
    std::vector<FileNodePtr> order;
    if (m_view_mode == ViewMode::Tree) {
        refresh_tree_rows();
        for (const TreeRow& r : m_tree_rows)
            order.push_back(r.node);
    } else {
        for (const TreemapTile& t : m_tiles)
            if (t.node && !t.node->is_aggregate) order.push_back(t.node);
    }
    if (order.empty()) return;
    std::size_t at = order.size();
    if (m_selected)
        for (std::size_t i = 0; i < order.size(); ++i)
            if (order[i]->id == m_selected->id) at = i;
    const std::size_t n = order.size();
    const std::size_t next = at == n ? (step > 0 ? 0 : n - 1) : (at + n + step) % n;
    select(order[next]);
}

void App::open_menu_for_selection() {
    const FileNodePtr node = m_selected ? m_selected : m_hovered;
    if (!node) return;
    // Anchored at the middle of the node's tile or row, where a right click
    // would have opened it.
    for (const HitTarget& t : m_targets)
        if ((t.act == Act::Tile || t.act == Act::TreeRow) && t.node && t.node->id == node->id) {
            open_tile_menu(node, t.rect.mid_x(), t.rect.mid_y());
            return;
        }
    open_tile_menu(node, m_r_content.mid_x(), m_r_content.mid_y());
}
