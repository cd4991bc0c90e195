// Navigation and selection: the zoom stack, breadcrumb jumps, rescanning an
// ancestor, selection, activation, the view and colour modes and the tree
// view's sort order and expanded folders.
#include "app.h"

#include <algorithm>
#include <cstring>

#include "settings.h"

namespace {

bool enterable(const FileNodePtr& n) {
    return n && n->is_directory && !n->children.empty();
}

// What every change of the shown folder ends with.
void view_reset(App& app) {
    app.m_hovered.reset();
    app.m_selected.reset();
    app.m_scroll = 0.0;
    app.m_tiles_node_id = 0;
    app.discard_treemap_cache();
    app.request_repaint();
}

// Collation keys are computed once per name, not once per comparison: a
// folder of 100,000 files sorts by name without 1.7 million collations.
std::vector<FileNodePtr> sorted_by_name(const std::vector<FileNodePtr>& nodes, bool ascending) {
    struct Keyed {
        std::string key;
        const FileNodePtr* node;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(nodes.size());
    for (const FileNodePtr& n : nodes) {
        g_autofree gchar* key =
            g_utf8_collate_key(n->name.data(), static_cast<gssize>(n->name.size()));
        keyed.push_back({key ? std::string(key) : n->name, &n});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const Keyed& a, const Keyed& b) {
        const int c = std::strcmp(a.key.c_str(), b.key.c_str());
        return ascending ? c < 0 : c > 0;
    });
    std::vector<FileNodePtr> out;
    out.reserve(nodes.size());
    for (const Keyed& k : keyed)
        out.push_back(*k.node);
    return out;
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
    if (node->can_enter()) {
        zoom_into(node);
    } else if (node->allows(FileNode::Action::Reveal)) {
        reveal(node->path);
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
    // A saved scan's folders lie on another machine or in another moment.
    if (!m_root || m_scanning || m_saved_scan) return;
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

// ---- Tree view order and expansion -----------------------------------------------

std::vector<FileNodePtr> App::sorted(const std::vector<FileNodePtr>& nodes) const {
    const bool asc = m_sort.ascending;
    if (m_sort.field == SortField::Name) return sorted_by_name(nodes, asc);
    std::int64_t FileNode::*key = &FileNode::size;
    switch (m_sort.field) {
    case SortField::Files:
        key = &FileNode::file_count;
        break;
    case SortField::Created:
        key = &FileNode::created;
        break;
    case SortField::Modified:
        key = &FileNode::modified;
        break;
    default: // Size, and anything a damaged setting may hold
        break;
    }
    std::vector<FileNodePtr> out = nodes;
    std::stable_sort(out.begin(), out.end(),
                     [key, asc](const FileNodePtr& a, const FileNodePtr& b) {
                         return asc ? (*a).*key < (*b).*key : (*a).*key > (*b).*key;
                     });
    return out;
}

void App::sort_by(SortField field) {
    m_sort.select(field);
    save_view_settings();
    request_repaint();
}

void App::toggle_expanded(const FileNodePtr& node) {
    if (!node || !node->can_enter()) return;
    if (!m_expanded.erase(node->id)) m_expanded.insert(node->id);
    request_repaint();
}
