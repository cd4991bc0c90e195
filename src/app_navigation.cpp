// Navigation and selection: the zoom stack, breadcrumb jumps, rescanning an
// ancestor, selection, activation and the view and colour modes.
#include "app.h"

#include "settings.h"

namespace {

bool enterable(const FileNodePtr& n) {
    return n && n->is_directory && !n->children.empty();
}

} // namespace

FileNodePtr App::current() const {
    return m_path.empty() ? m_root : m_path.back();
}

bool App::can_zoom_out() const {
    return !m_path.empty();
}

bool App::can_zoom_in() const {
    const FileNodePtr shown = current();
    if (!shown) return false;
    for (const FileNodePtr& child : shown->sorted_children())
        if (enterable(child) && !child->is_aggregate) return true;
    return false;
}

namespace {

// What every change of the shown folder ends with.
void view_reset(App& app) {
    app.m_hovered.reset();
    app.m_selected.reset();
    app.m_scroll = 0.0;
    app.m_tiles_node_id = 0;
    app.discard_treemap_cache();
    app.request_repaint();
}

} // namespace

void App::zoom_into(const FileNodePtr& node) {
    if (!enterable(node)) return;
    m_path.push_back(node);
    view_reset(*this);
}

void App::zoom_to(int index) {
    if (index < 0) {
        m_path.clear();
    } else if (static_cast<std::size_t>(index) < m_path.size()) {
        m_path.resize(static_cast<std::size_t>(index) + 1);
    }
    view_reset(*this);
}

void App::zoom_out() {
    if (m_path.empty()) return;
    m_path.pop_back();
    view_reset(*this);
}

void App::zoom_into_largest() {
    const FileNodePtr shown = current();
    if (!shown) return;
    for (const FileNodePtr& child : shown->sorted_children()) {
        if (enterable(child) && !child->is_aggregate) {
            zoom_into(child);
            return;
        }
    }
}

void App::select(const FileNodePtr& node) {
    m_selected = node;
    request_repaint();
}

void App::activate(const FileNodePtr& node) {
    if (!node || node->is_aggregate) return;
    if (node->is_directory && !node->is_denied && !node->children.empty()) {
        zoom_into(node);
    } else {
        m_fx.reveal(node->path);
    }
}

void App::set_view_mode(ViewMode mode) {
    if (mode == m_view_mode) return;
    m_view_mode = mode;
    m_scroll = 0.0;
    m_tiles_node_id = 0;
    discard_treemap_cache();
    save_view_settings();
    request_repaint();
}

void App::set_color_mode(ColorMode mode) {
    if (mode == m_color_mode) return;
    m_color_mode = mode;
    discard_treemap_cache();
    save_view_settings();
    request_repaint();
}

void App::scan_ancestor(int prefix_len) {
    if (!m_root || m_scanning) return;
    const std::size_t len = static_cast<std::size_t>(prefix_len < 1 ? 1 : prefix_len);
    if (m_root->path.size() >= len) start_scan(m_root->path.substr(0, len));
}

std::string App::quick_path_for(int id) const {
    if (id == CMD_QUICK_HOME) return m_fx.home_directory();
    if (id == CMD_QUICK_ROOT) return "/";
    if (id >= CMD_QUICK_MOUNT_FIRST && id < CMD_LANG_AUTO) {
        const std::vector<std::string> roots = m_fx.quick_pick_roots();
        const std::size_t i = static_cast<std::size_t>(id - CMD_QUICK_MOUNT_FIRST);
        return i < roots.size() ? roots[i] : std::string();
    }
    return {};
}
