// Taking a move to the Trash back: the batches moved since start, the
// banner's Undo and Control+Z, the "Moved to Trash" panel's behaviour (its
// drawing is in app_render_overlays.cpp), the restore thread, and putting
// the restored entries back into the tree in place.
#include "app.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include <gdk/gdkkeysyms.h>

#include "format.h"
#include "i18n.h"
#include "strutil.h"
#include "tree_edit.h"

namespace {

// The restore thread's notice to the main loop.
struct RestoreDone {
    std::shared_ptr<App::Lifeline> lifeline;
};

gboolean on_restore_done_cb(gpointer data) {
    const auto* done = static_cast<const RestoreDone*>(data);
    if (App* app = done->lifeline->app) app->finish_restore();
    return G_SOURCE_REMOVE;
}

void free_restore_done(gpointer data) {
    std::unique_ptr<RestoreDone> adopt(static_cast<RestoreDone*>(data));
}

bool is_enter(guint keyval) {
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

} // namespace

void App::remember_trashed(std::vector<shell_ops::TrashedItem> moved) {
    // The banner now speaks of this move: an Undo there must not reach back
    // to an earlier one.
    m_undo_serial = 0;
    if (moved.empty()) return;
    TrashBatch batch;
    batch.serial = m_trash_batches.empty() ? 1 : m_trash_batches.front().serial + 1;
    batch.time = m_fx.unix_now();
    for (shell_ops::TrashedItem& item : moved) {
        // The tree's node, not the list's: an earlier undo may have rebuilt it.
        FileNodePtr node = tree_edit::find(m_root, item.path);
        if (!node)
            for (const FileNodePtr& listed : m_basket)
                if (listed->path == item.path) node = listed;
        batch.entries.push_back({std::move(item), std::move(node), TrashEntry::State::InTrash, {}});
    }
    m_undo_serial = batch.serial;
    m_restore_note.clear();
    m_trash_batches.insert(m_trash_batches.begin(), std::move(batch));
}

bool App::can_undo() const {
    if (m_undo_serial == 0 || m_restoring || m_deleting) return false;
    for (const TrashBatch& b : m_trash_batches)
        if (b.serial == m_undo_serial)
            return std::any_of(b.entries.begin(), b.entries.end(), [](const TrashEntry& e) {
                return e.state != TrashEntry::State::Restored;
            });
    return false;
}

void App::undo_last_trash() {
    if (can_undo()) restore_trashed(m_undo_serial, -1);
}

void App::restore_trashed(std::uint64_t serial, int entry) {
    if (m_restoring || m_deleting) return;
    const auto batch = std::find_if(m_trash_batches.begin(), m_trash_batches.end(),
                                    [&](const TrashBatch& b) { return b.serial == serial; });
    if (batch == m_trash_batches.end()) return;
    std::vector<shell_ops::TrashedItem> items;
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < batch->entries.size(); ++i) {
        if (entry >= 0 && static_cast<std::size_t>(entry) != i) continue;
        // An item that stayed behind may be tried again: what stood in its
        // way may be gone by now.
        if (batch->entries[i].state == TrashEntry::State::Restored) continue;
        items.push_back(batch->entries[i].item);
        positions.push_back(i);
    }
    if (items.empty()) return;
    m_restoring = true;
    m_restore_serial = serial;
    m_restore_entries = std::move(positions);
    if (m_restore_thread.joinable()) m_reaper.adopt(std::move(m_restore_thread), nullptr);
    // Like the delete thread: it writes only its hand-over field, under the
    // mutex, and the reaper joins it before any member goes.
    m_restore_thread = std::thread(
        [this, items = std::move(items), op = m_fx.restore_from_trash, lifeline = m_lifeline] {
            shell_ops::RestoreResult result = op ? op(items) : shell_ops::RestoreResult{};
            {
                std::lock_guard lock(m_result_mutex);
                m_restored = std::move(result);
            }
            auto done = std::make_unique<RestoreDone>(RestoreDone{lifeline});
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_restore_done_cb, done.release(),
                            free_restore_done);
        });
    request_repaint();
}

void App::finish_restore() {
    if (m_restore_thread.joinable()) m_reaper.adopt(std::move(m_restore_thread), nullptr);
    m_restoring = false;
    shell_ops::RestoreResult result;
    {
        std::lock_guard lock(m_result_mutex);
        result = std::move(m_restored);
        m_restored = {};
    }
    const auto batch =
        std::find_if(m_trash_batches.begin(), m_trash_batches.end(),
                     [&](const TrashBatch& b) { return b.serial == m_restore_serial; });
    if (batch == m_trash_batches.end()) return;
    std::unordered_map<std::string, TrashEntry*> asked;
    for (std::size_t i : m_restore_entries)
        asked.emplace(batch->entries[i].item.path, &batch->entries[i]);

    std::vector<FileNodePtr> back;
    for (const std::string& path : result.restored) {
        const auto it = asked.find(path);
        if (it == asked.end()) continue;
        it->second->state = TrashEntry::State::Restored;
        it->second->problem.clear();
        if (it->second->node) back.push_back(it->second->node);
    }
    std::string report;
    for (const shell_ops::RestoreResult::Failure& f : result.failed) {
        const auto it = asked.find(f.path);
        if (it == asked.end()) continue;
        it->second->state = TrashEntry::State::Stayed;
        it->second->problem = f.message;
        if (!report.empty()) report += "\n";
        report += "“" + su::basename_of(f.path) + "”: " + f.message;
    }

    // The entries go back where they were; a saved scan describes another
    // moment and is left as it is.
    if (m_root && !m_saved_scan && !back.empty()) {
        FileNodePtr old_root = m_root;
        m_root = tree_edit::with(old_root, back);
        if (m_root != old_root) {
            m_path = tree_edit::follow(m_root, m_path);
            m_hovered.reset();
            m_selected.reset();
            if (m_overlay == Overlay::Menu) close_overlay();
            retire_tree(std::move(old_root));
        }
    }
    if (!result.restored.empty()) {
        // The freed banner spoke of space that is taken again.
        if (m_restore_serial == m_undo_serial) {
            m_last_freed = 0;
            m_delete_error.clear();
        }
        m_restore_note = I18n::instance().trf(
            "Restored %s item(s) from the Trash.",
            fmt::count(static_cast<std::int64_t>(result.restored.size())).c_str());
    }
    if (!can_undo()) m_undo_serial = 0;
    if (!report.empty() && m_overlay != Overlay::Trashed)
        show_dialog(tr("Some items stayed in the Trash"), report,
                    {{CMD_DLG_OK, "OK", false, true}});
    request_repaint();
}

// ---- The "Moved to Trash" panel ----------------------------------------------------

void App::open_trashed_panel() {
    close_overlay();
    m_overlay = Overlay::Trashed;
    m_trashed_row = 0;
    m_trashed_first = 0;
    request_repaint();
}

std::vector<App::TrashRow> App::trashed_rows() const {
    std::vector<TrashRow> rows;
    for (std::size_t b = 0; b < m_trash_batches.size(); ++b) {
        rows.push_back({b, -1});
        for (std::size_t e = 0; e < m_trash_batches[b].entries.size(); ++e)
            rows.push_back({b, static_cast<int>(e)});
    }
    return rows;
}

void App::reveal_trashed_row() {
    // Upwards only: the next frame scrolls down to a row below the panel's
    // end, as only drawing knows how many rows fit.
    m_trashed_first = std::max(std::min(m_trashed_first, m_trashed_row), 0);
}

bool App::trashed_panel_key(guint keyval) {
    const std::vector<TrashRow> rows = trashed_rows();
    const int n = static_cast<int>(rows.size());
    const int page = std::max(m_trashed_visible - 1, 1);
    int row = m_trashed_row;
    switch (keyval) {
    case GDK_KEY_Down:
    case GDK_KEY_Tab:
        row += 1;
        break;
    case GDK_KEY_Up:
    case GDK_KEY_ISO_Left_Tab:
        row -= 1;
        break;
    case GDK_KEY_Page_Down:
        row += page;
        break;
    case GDK_KEY_Page_Up:
        row -= page;
        break;
    case GDK_KEY_Home:
        row = 0;
        break;
    case GDK_KEY_End:
        row = n - 1;
        break;
    default:
        if (!is_enter(keyval) && keyval != GDK_KEY_space)
            return false; // left to the window: Control+Q still quits
        if (n > 0) {
            const TrashRow& r = rows[static_cast<std::size_t>(std::clamp(m_trashed_row, 0, n - 1))];
            restore_trashed(m_trash_batches[r.batch].serial, r.entry);
        }
        return true;
    }
    m_trashed_row = std::clamp(row, 0, std::max(n - 1, 0));
    reveal_trashed_row();
    request_repaint();
    return true;
}

void App::trashed_panel_click(const HitTarget* hit) {
    const std::vector<TrashRow> rows = trashed_rows();
    const Act act = hit ? hit->act : Act::None;
    if ((act == Act::TrashRestoreItem || act == Act::TrashRestoreBatch) && hit->index >= 0 &&
        hit->index < static_cast<int>(rows.size())) {
        const TrashRow& r = rows[static_cast<std::size_t>(hit->index)];
        m_trashed_row = hit->index;
        restore_trashed(m_trash_batches[r.batch].serial, r.entry);
        return;
    }
    // A click on the panel's body keeps it open; Close and the outside close it.
    if (hit && act == Act::None) return;
    close_overlay();
}
