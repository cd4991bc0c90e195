// The delete list: what may go on it, "Add all junk", moving it to the Trash
// or deleting permanently on the delete thread, and the in-place update of
// the tree when the result comes back.
#include "app.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "deletion_guard.h"
#include "format.h"
#include "i18n.h"
#include "reclaimable.h"
#include "tree_edit.h"

namespace {

// The delete thread's notice to the main loop.
struct DeleteDone {
    std::shared_ptr<App::Lifeline> lifeline;
    bool permanent = false;
};

gboolean on_delete_done_cb(gpointer data) {
    const auto* done = static_cast<const DeleteDone*>(data);
    if (App* app = done->lifeline->app) app->finish_deletion(done->permanent);
    return G_SOURCE_REMOVE;
}

void free_delete_done(gpointer data) {
    std::unique_ptr<DeleteDone> adopt(static_cast<DeleteDone*>(data));
}

bool ends_with_period(const std::string& s) {
    return !s.empty() && s.back() == '.';
}

} // namespace

// ---- What may be listed ----------------------------------------------------------

bool App::guard_allows(const FileNode& node) {
    auto [it, fresh] = m_guard_ok.try_emplace(node.id, false);
    if (fresh) it->second = !deletion_guard::is_protected(node.path);
    return it->second;
}

bool App::may_list(const FileNodePtr& node) {
    return node && m_root && node->id != m_root->id && node->allows(FileNode::Action::Change) &&
           guard_allows(*node);
}

void App::recompute_reclaimable() {
    m_reclaimable = m_root ? reclaimable::total(reclaimable::collect(
                                 m_root, m_fx.home_directory(),
                                 [this](const FileNode& n) { return guard_allows(n); }))
                           : 0;
}

// ---- Changing the list -------------------------------------------------------------

void App::toggle_basket(const FileNodePtr& node) {
    if (!node || !m_root || node->id == m_root->id || node->is_aggregate) return;
    if (refuse_saved_scan()) return;
    // A node held since before a deletion (an open menu, a stale selection)
    // may no longer be part of the tree.
    const FileNodePtr current = tree_edit::find(m_root, node->path);
    if (!current || current->id != node->id) return;
    if (is_in_basket(node)) {
        remove_from_basket(node);
        return;
    }
    const auto inside = [](const std::string& p, const std::string& folder) {
        return p.size() > folder.size() && p.compare(0, folder.size(), folder) == 0 &&
               (p[folder.size()] == '/' || folder == "/");
    };
    for (const FileNodePtr& item : m_basket)
        if (inside(node->path, item->path)) return; // a folder above is listed already
    std::erase_if(m_basket,
                  [&](const FileNodePtr& item) { return inside(item->path, node->path); });
    if (!may_list(node)) {
        m_protected_note = I18n::instance().trf("“%s” is protected and cannot be moved to Trash.",
                                                node->name.c_str());
        const char* reason =
            node->is_readonly ? "Read-only location" : deletion_guard::reason_key(node->path);
        std::string message = m_protected_note;
        if (reason) message += std::string("\n\n") + tr(reason);
        show_dialog(tr("Protected"), message, {{CMD_DLG_OK, "OK", false, true}});
        return;
    }
    m_basket.push_back(node);
    request_repaint();
}

void App::remove_from_basket(const FileNodePtr& node) {
    if (!node) return;
    std::erase_if(m_basket, [&](const FileNodePtr& item) { return item->id == node->id; });
    request_repaint();
}

void App::add_reclaimable_to_basket() {
    if (!m_root || refuse_saved_scan()) return;
    // Collected by the same rules as one item: never the root, never an item
    // inside another, nothing the guard or the node refuses.
    const auto items = reclaimable::collect(m_root, m_fx.home_directory(),
                                            [this](const FileNode& n) { return guard_allows(n); });
    tree_edit::add_outermost(m_basket, items);
    request_repaint();
}

// ---- Removal -----------------------------------------------------------------------

void App::empty_basket_to_trash() {
    // A restore running meanwhile may be putting back the very paths listed.
    if (m_deleting || m_restoring) return;
    // Nothing reaches the list that may not be removed, but a stale item is
    // refused here too, with the same dialog as when it is marked.
    FileNodePtr refused;
    std::erase_if(m_basket, [&](const FileNodePtr& item) {
        if (may_list(item)) return false;
        if (!refused) refused = item;
        return true;
    });
    if (refused) {
        m_protected_note = I18n::instance().trf("“%s” is protected and cannot be moved to Trash.",
                                                refused->name.c_str());
        show_dialog(tr("Protected"), m_protected_note, {{CMD_DLG_OK, "OK", false, true}});
    }
    if (m_basket.empty()) {
        request_repaint();
        return;
    }
    std::vector<std::string> paths;
    paths.reserve(m_basket.size());
    for (const FileNodePtr& item : m_basket)
        paths.push_back(item->path);
    start_deletion(std::move(paths), false);
}

void App::delete_no_trash_items() {
    if (m_deleting || m_restoring) return;
    std::vector<std::string> paths;
    {
        std::lock_guard lock(m_result_mutex);
        paths.swap(m_no_trash);
    }
    if (paths.empty()) return;
    start_deletion(std::move(paths), true);
}

void App::start_deletion(std::vector<std::string> paths, bool permanent) {
    m_deleting = true;
    m_delete_error.clear();
    m_restore_note.clear();
    if (m_delete_thread.joinable()) m_reaper.adopt(std::move(m_delete_thread), nullptr);
    Effects::PathsOp op = permanent ? m_fx.delete_permanently : m_fx.move_to_trash;
    // The thread writes only the hand-over fields, under the mutex; the App
    // outlives it (the destructor hands it to the reaper, which joins it
    // before any member goes).
    m_delete_thread = std::thread(
        [this, paths = std::move(paths), op = std::move(op), permanent, lifeline = m_lifeline] {
            shell_ops::TrashResult result = op ? op(paths) : shell_ops::TrashResult{};
            {
                std::lock_guard lock(m_result_mutex);
                m_trashed = std::move(result.trashed);
                m_trash_moved = std::move(result.moved);
                m_trash_error = std::move(result.error);
                m_trash_failed = result.failed_count;
                m_no_trash =
                    permanent ? std::vector<std::string>() : std::move(result.no_trash_available);
            }
            auto done = std::make_unique<DeleteDone>(DeleteDone{lifeline, permanent});
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_delete_done_cb, done.release(),
                            free_delete_done);
        });
    request_repaint();
}

void App::finish_deletion(bool permanent) {
    // The thread posted its notice as its last act: the reaper joins it.
    if (m_delete_thread.joinable()) m_reaper.adopt(std::move(m_delete_thread), nullptr);
    m_deleting = false;
    std::vector<std::string> removed;
    std::string error;
    std::int32_t failures = 0;
    std::size_t no_trash = 0;
    std::vector<shell_ops::TrashedItem> moved;
    {
        std::lock_guard lock(m_result_mutex);
        removed.swap(m_trashed);
        moved.swap(m_trash_moved);
        error = m_trash_error;
        failures = m_trash_failed;
        no_trash = m_no_trash.size();
    }
    const std::unordered_set<std::string> gone(removed.begin(), removed.end());
    std::int64_t freed = 0;
    for (const FileNodePtr& item : m_basket)
        if (gone.count(item->path) != 0) freed += item->size;

    // Kept for Undo with the nodes as they are before the tree is edited.
    if (permanent) {
        m_undo_serial = 0;
    } else {
        remember_trashed(std::move(moved));
    }
    apply_deletion(removed);
    if (!removed.empty()) {
        m_last_freed = freed;
        m_freed_permanently = permanent;
    }
    // Removed items leave the list; their subtrees are freed off the main loop.
    auto dropped = std::make_shared<std::vector<FileNodePtr>>();
    std::erase_if(m_basket, [&](const FileNodePtr& item) {
        if (gone.count(item->path) == 0) return false;
        dropped->push_back(item);
        return true;
    });
    m_reaper.adopt(std::thread(), std::move(dropped));

    if (failures > 0) {
        m_delete_error = I18n::instance().trf(permanent ? "%s item(s) could not be deleted."
                                                        : "%s item(s) could not be moved to Trash.",
                                              fmt::count(failures).c_str());
        if (!error.empty()) {
            m_delete_error += " " + error;
            if (!ends_with_period(error)) m_delete_error += ".";
        }
        if (!permanent && no_trash > 0) {
            const std::string offer = I18n::instance().trf(
                "Delete %s item(s) permanently instead? This cannot be undone.",
                fmt::count(static_cast<std::int64_t>(no_trash)).c_str());
            show_dialog(tr("Delete error"), m_delete_error + "\n\n" + offer,
                        {{CMD_DLG_CANCEL, tr("Cancel"), false, true},
                         {CMD_DLG_DELETE_FOREVER, tr("Delete permanently"), true, false}});
        } else {
            show_dialog(tr("Delete error"), m_delete_error, {{CMD_DLG_OK, "OK", false, true}});
        }
    }
    request_repaint();
}

void App::apply_deletion(const std::vector<std::string>& removed) {
    if (!m_root || removed.empty()) return;
    FileNodePtr old_root = m_root;
    m_root = tree_edit::without(old_root, removed);
    m_hovered.reset();
    m_selected.reset();
    // An open tile menu may hold a node that is gone.
    if (m_overlay == Overlay::Menu) close_overlay();
    if (!m_root) {
        // The scanned folder itself is gone: the empty state, not a tree of
        // deleted files. Rescan stays possible.
        m_path.clear();
        m_basket.clear();
        m_search_hits.clear();
    } else {
        // The view stays in the deepest folder that still exists.
        m_path = tree_edit::follow(m_root, m_path);
    }
    retire_tree(std::move(old_root));
    request_repaint();
}

void App::retire_tree(FileNodePtr old_root) {
    recompute_reclaimable();
    if (m_search_open) update_search(); // hits may have gone or come back
    // Subtrees that left with deleted items can be large: free them off the
    // main loop.
    m_reaper.adopt(std::thread(),
                   std::make_shared<std::pair<FileNodePtr, std::vector<TreemapTile>>>(
                       std::move(old_root), std::move(m_tiles)));
    m_tiles.clear();
    m_tiles_node_id = 0;
    discard_treemap_cache();
}
