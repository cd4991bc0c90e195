// Packing a folder into a tar.gz beside it: the write check, the progress
// dialog with its 100 ms repaint, the compress thread, the result dialogs,
// and stopping the packer when the program quits.
#include "app.h"

#include <algorithm>

#include <sys/stat.h>

#include "format.h"
#include "i18n.h"
#include "paths.h"
#include "strutil.h"

namespace {

constexpr guint kCompressRepaintMs = 100;

gboolean on_compress_done_cb(gpointer data) {
    const auto* lifeline = static_cast<const std::shared_ptr<App::Lifeline>*>(data);
    if (App* app = (*lifeline)->app) app->finish_compress();
    return G_SOURCE_REMOVE;
}

void free_lifeline(gpointer data) {
    std::unique_ptr<std::shared_ptr<App::Lifeline>> adopt(
        static_cast<std::shared_ptr<App::Lifeline>*>(data));
}

gboolean on_compress_tick_cb(gpointer data) {
    auto* app = static_cast<App*>(data);
    if (app->m_compressing) {
        app->request_repaint();
        return G_SOURCE_CONTINUE;
    }
    app->m_compress_tick = 0;
    return G_SOURCE_REMOVE;
}

} // namespace

void App::compress_folder(const FileNodePtr& node) {
    // Aggregates, unentered mounts and repaired names do not name a folder on disk.
    if (!node || !node->is_directory || !node->allows(FileNode::Action::Reveal) || m_compressing)
        return;
    if (refuse_saved_scan()) return;
    if (m_compress_thread.joinable()) m_reaper.adopt(std::move(m_compress_thread), nullptr);
    if (!m_fx.can_write_archive_beside(node->path)) {
        show_dialog(tr("Packing failed"),
                    tr("The archive is placed next to the folder, and that location is "
                       "write-protected."),
                    {{CMD_DLG_OK, "OK", false, true}});
        return;
    }
    m_compressing = true;
    m_compress_name = node->name;
    {
        std::lock_guard lock(m_result_mutex);
        m_compress_result.clear();
        m_compress_size = 0;
    }
    m_compress_done.store(0);
    m_compress_total = node->size;
    show_dialog(I18n::instance().trf("Compressing “%s” …", node->name.c_str()),
                tr("This can take a while for large folders."), {});
    if (m_compress_tick) g_source_remove(m_compress_tick);
    m_compress_tick = g_timeout_add(kCompressRepaintMs, on_compress_tick_cb, this);

    m_compress_cancel = std::make_shared<std::atomic<bool>>(false);
    // The thread writes m_compress_done at any time and the result once,
    // under the mutex; the App outlives it (the destructor stops the packer
    // and the reaper joins the thread before any member goes).
    m_compress_thread = std::thread([this, path = node->path, op = m_fx.compress_folder,
                                     cancel = m_compress_cancel, lifeline = m_lifeline] {
        const auto progress = [this](long bytes) { m_compress_done.store(bytes); };
        const std::string result = op ? op(path, progress, cancel.get()) : std::string();
        std::int64_t size = 0;
        struct stat st {};
        if (!result.empty() && ::stat(to_scan_path(result).c_str(), &st) == 0) size = st.st_size;
        {
            std::lock_guard lock(m_result_mutex);
            m_compress_result = result;
            m_compress_size = size;
        }
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_compress_done_cb,
                        new std::shared_ptr<Lifeline>(lifeline), free_lifeline);
    });
    request_repaint();
}

void App::finish_compress() {
    if (m_compress_thread.joinable()) m_reaper.adopt(std::move(m_compress_thread), nullptr);
    m_compressing = false;
    const bool cancelled = m_compress_cancel && m_compress_cancel->load();
    m_compress_cancel.reset();
    std::string result;
    std::int64_t size = 0;
    {
        std::lock_guard lock(m_result_mutex);
        result = m_compress_result;
        size = m_compress_size;
    }
    close_overlay();
    if (cancelled) return;
    if (!result.empty()) {
        // tar reports in steps of a megabyte: a finished archive is 100 %.
        m_compress_done.store(std::max(m_compress_done.load(), m_compress_total));
        const std::string note =
            tr("The original is kept — usage goes up at first, until you delete it yourself.") +
            std::string(" ") + tr("The scan does not know about the new archive yet");
        show_result_dialog(tr("Folder packed"), su::basename_of(result), fmt::bytes(size),
                           su::parent_of(result), note,
                           {{CMD_DLG_REVEAL_RESULT, tr("In file manager"), false, true},
                            {CMD_DLG_OK, "OK", false, false}});
    } else {
        show_dialog(tr("Packing failed"), tr("The archive could not be created."),
                    {{CMD_DLG_OK, "OK", false, true}});
    }
}

void App::cancel_compression() {
    if (m_compress_cancel) m_compress_cancel->store(true);
}
