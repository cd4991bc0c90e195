// Pointer and keyboard: clicks resolved against the last frame's hit
// targets, hovering, the navigation keys, and closing overlays.
#include "app.h"

#include <gdk/gdkkeysyms.h>

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

void App::close_overlay() {
    m_overlay = Overlay::None;
    m_menu.clear();
    m_dialog_buttons.clear();
    m_menu_node.reset();
    m_menu_hover = -1;
    request_repaint();
}

bool App::on_click(double x, double y, bool secondary) {
    const HitTarget* hit = target_at(x, y);
    if (m_overlay != Overlay::None) {
        close_overlay();
        return true;
    }
    if (!hit) return false;
    const HitTarget t = *hit; // the handlers below may rebuild m_targets
    switch (t.act) {
    case Act::ChooseFolder:
        choose_folder();
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
    case Act::Breadcrumb:
        zoom_to(t.index);
        break;
    case Act::ScanAncestor:
        scan_ancestor(t.index);
        break;
    case Act::RevealCurrent:
        if (const FileNodePtr shown = current(); shown && shown->allows(FileNode::Action::Reveal))
            m_fx.reveal(shown->path);
        break;
    case Act::DismissDenied:
        m_denied_folders = m_skipped_folders = 0;
        request_repaint();
        break;
    case Act::DismissFreed:
        m_last_freed = 0;
        m_delete_error.clear();
        request_repaint();
        break;
    case Act::StatusReveal:
        if (m_selected && m_selected->allows(FileNode::Action::Reveal))
            m_fx.reveal(m_selected->path);
        break;
    case Act::Tile:
    case Act::TreeRow:
        if (!secondary) select(t.node);
        break;
    case Act::SortColumn:
        sort_by(static_cast<SortField>(t.index));
        break;
    case Act::TreeDisclosure:
        if (!secondary) toggle_expanded(t.node);
        break;
    default:
        return false;
    }
    return true;
}

void App::on_motion(double x, double y) {
    m_hover_x = x;
    m_hover_y = y;
    if (m_overlay != Overlay::None) return;
    FileNodePtr candidate;
    const float px = static_cast<float>(x);
    const float py = static_cast<float>(y);
    for (auto it = m_targets.rbegin(); it != m_targets.rend(); ++it) {
        if ((it->act == Act::Tile || it->act == Act::TreeRow) && it->rect.contains(px, py)) {
            candidate = it->node;
            break;
        }
    }
    if (!candidate && !m_hovered) return;
    m_hovered = candidate;
    request_repaint();
}

void App::on_leave() {
    if (!m_hovered && m_menu_hover == -1) return;
    m_hovered.reset();
    m_menu_hover = -1;
    request_repaint();
}

bool App::on_key(guint keyval, GdkModifierType state) {
    const bool alt = (state & GDK_MOD1_MASK) != 0;
    if (m_overlay != Overlay::None) {
        if (keyval == GDK_KEY_Escape) close_overlay();
        return true;
    }
    switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
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
    case GDK_KEY_Up:
        if (!alt) return false; // scrolling belongs to the tree view
        if (can_zoom_out()) zoom_out();
        return true;
    case GDK_KEY_Down:
        if (!alt) return false;
        zoom_into_largest();
        return true;
    case GDK_KEY_F5:
        // Also during a scan: the running one is replaced, once per press.
        if (!m_scan_root.empty()) start_scan(m_scan_root);
        return true;
    default:
        return false;
    }
}
