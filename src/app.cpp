// App lifecycle and scan control: construction from the settings, the window
// and its GTK callbacks, starting, polling, finishing and cancelling scans,
// the theme, persistence and destruction.
#include "app.h"

#include <clocale>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "deletion_guard.h"
#include "reclaimable.h"
#include "i18n.h"
#include "settings.h"
#include "strutil.h"
#include "tree_import.h"
#include "window_manager.h"

#if __has_include("icon_data.h")
#include "icon_data.h"
#define SPACEMOLE_HAVE_ICON 1
#endif

namespace {

constexpr guint kPollMs = 120;
constexpr int kDefaultWidth = 1100;
constexpr int kDefaultHeight = 720;
constexpr int kMinWidth = 720;
constexpr int kMinHeight = 480;

// The scan thread's notice to the main loop.
struct Done {
    std::shared_ptr<App::Lifeline> lifeline;
    std::uint32_t generation = 0;
};

gboolean on_scan_done_cb(gpointer data) {
    const auto* done = static_cast<const Done*>(data);
    App* app = done->lifeline->app;
    if (app && done->generation == app->m_scan_generation) app->finish_scan();
    return G_SOURCE_REMOVE;
}

void free_done(gpointer data) {
    std::unique_ptr<Done> adopt(static_cast<Done*>(data));
}

gboolean on_poll_cb(gpointer data) {
    static_cast<App*>(data)->on_poll();
    return G_SOURCE_CONTINUE;
}

ColorMode color_mode_of(const std::string& s) {
    return s == "category" ? ColorMode::Category : ColorMode::Heat;
}

ViewMode view_mode_of(const std::string& s) {
    return s == "tree" ? ViewMode::Tree : ViewMode::Map;
}

SortField sort_field_of(const std::string& s) {
    if (s == "name") return SortField::Name;
    if (s == "files") return SortField::Files;
    if (s == "created") return SortField::Created;
    if (s == "modified") return SortField::Modified;
    return SortField::Size;
}

const char* sort_field_name(SortField f) {
    switch (f) {
    case SortField::Name:
        return "name";
    case SortField::Files:
        return "files";
    case SortField::Created:
        return "created";
    case SortField::Modified:
        return "modified";
    case SortField::Size:
        break;
    }
    return "size";
}

// ---- GTK callbacks ----------------------------------------------------------

gboolean on_draw_cb(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* app = static_cast<App*>(data);
    app->draw_all(cr, gtk_widget_get_allocated_width(widget),
                  gtk_widget_get_allocated_height(widget));
    return TRUE;
}

gboolean on_button_press_cb(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    auto* app = static_cast<App*>(data);
    gtk_widget_grab_focus(widget);
    if (event->type == GDK_BUTTON_PRESS && (event->button == 1 || event->button == 3)) {
        app->on_click(event->x, event->y, event->button == 3);
    } else if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
        app->activate(app->m_hovered);
    }
    return TRUE;
}

gboolean on_motion_cb(GtkWidget*, GdkEventMotion* event, gpointer data) {
    static_cast<App*>(data)->on_motion(event->x, event->y);
    return TRUE;
}

gboolean on_leave_cb(GtkWidget*, GdkEventCrossing*, gpointer data) {
    static_cast<App*>(data)->on_leave();
    return TRUE;
}

gboolean on_scroll_cb(GtkWidget*, GdkEventScroll* event, gpointer data) {
    // The tree view scrolls; the map does not. Sideways scrolling is ignored.
    auto* app = static_cast<App*>(data);
    if (event->direction == GDK_SCROLL_UP) {
        app->scroll_by(-60);
    } else if (event->direction == GDK_SCROLL_DOWN) {
        app->scroll_by(60);
    } else if (event->direction == GDK_SCROLL_SMOOTH) {
        app->scroll_by(60 * event->delta_y);
    }
    return TRUE;
}

gboolean on_key_cb(GtkWidget*, GdkEventKey* event, gpointer data) {
    // A handled key is consumed, so a menu accelerator on the same key does
    // not run its command a second time.
    return static_cast<App*>(data)->on_key(event->keyval,
                                           static_cast<GdkModifierType>(event->state))
               ? TRUE
               : FALSE;
}

gboolean on_configure_cb(GtkWidget*, GdkEventConfigure*, gpointer data) {
    auto* app = static_cast<App*>(data);
    app->discard_treemap_cache();
    app->m_tiles_node_id = 0;
    return FALSE;
}

gboolean on_delete_cb(GtkWidget*, GdkEvent*, gpointer data) {
    auto* app = static_cast<App*>(data);
    app->save_geometry();
    app->save_view_settings();
    app->cancel_scan();
    if (gtk_main_level() > 0) gtk_main_quit();
    return FALSE;
}

void set_window_icon(GtkWindow* window) {
#ifdef SPACEMOLE_HAVE_ICON
    g_autoptr(GdkPixbufLoader) loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader) return;
    const bool ok = gdk_pixbuf_loader_write(loader, icon_data::PNG, icon_data::PNG_SIZE, nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = ok && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) gtk_window_set_icon(window, pixbuf);
#else
    (void)window;
#endif
}

} // namespace

std::string absolute_folder(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    std::filesystem::path p(path);
    if (p.is_relative()) {
        const auto base = std::filesystem::current_path(ec);
        if (ec) return path;
        p = base / p;
    }
    std::string out = p.lexically_normal().string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

// ---- Reaper -----------------------------------------------------------------

App::Reaper::~Reaper() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_worker.joinable()) m_worker.join();
    for (Item& item : m_queue) // only when the worker never started
        if (item.thread.joinable()) item.thread.join();
}

void App::Reaper::adopt(std::thread thread, std::shared_ptr<const void> keep) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(Item{std::move(thread), std::move(keep)});
    if (!m_worker.joinable()) m_worker = std::thread([this] { loop(); });
    m_cv.notify_all();
}

void App::Reaper::loop() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_cv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty()) return; // stopping with nothing left
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_busy;
        lock.unlock();
        if (item.thread.joinable()) item.thread.join();
        item.keep.reset();
        lock.lock();
        --m_busy;
        m_cv.notify_all();
    }
}

bool App::Reaper::wait_idle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_until(lock, deadline, [this] { return m_queue.empty() && m_busy == 0; });
}

std::size_t App::Reaper::pending() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size() + m_busy;
}

// ---- Construction and destruction -------------------------------------------

App::App()
    : App(Effects{}) {}

App::App(Effects effects)
    : m_fx(std::move(effects)) {
    m_lifeline->app = this;
    SettingsStore& store = SettingsStore::instance();
    store.load();
    I18n::instance().set_language(store.get().language);
    const Settings& s = store.get();
    m_color_mode = color_mode_of(s.color_mode);
    m_view_mode = view_mode_of(s.view_mode);
    m_sort.field = sort_field_of(s.sort_field);
    m_sort.ascending = s.sort_ascending;
    m_palette = Palette::for_theme(false);
}

App::~App() {
    m_lifeline->app = nullptr; // pending Done records now find nobody
    cancel_scan();
    cancel_compression();
    if (m_compress_tick) g_source_remove(m_compress_tick);
    if (m_search_pulse_source) g_source_remove(m_search_pulse_source);
    if (m_delete_thread.joinable()) m_reaper.adopt(std::move(m_delete_thread), nullptr);
    if (m_restore_thread.joinable()) m_reaper.adopt(std::move(m_restore_thread), nullptr);
    if (m_compress_thread.joinable()) m_reaper.adopt(std::move(m_compress_thread), nullptr);
    discard_treemap_cache();
    m_theme_watch.reset();
    if (m_window) gtk_widget_destroy(m_window);
    m_about_icon.reset();
    m_pango.reset();
    // m_reaper, declared last, is destroyed first and joins what it holds.
}

bool App::join_threads(std::chrono::steady_clock::time_point deadline) {
    // Nothing visible waits for the threads: the window goes first, and a
    // packer is stopped rather than waited for.
    if (m_window) gtk_widget_hide(m_window);
    cancel_scan();
    cancel_compression();
    if (m_delete_thread.joinable()) m_reaper.adopt(std::move(m_delete_thread), nullptr);
    if (m_restore_thread.joinable()) m_reaper.adopt(std::move(m_restore_thread), nullptr);
    if (m_compress_thread.joinable()) m_reaper.adopt(std::move(m_compress_thread), nullptr);
    return m_reaper.wait_idle(deadline);
}

// ---- Run and window -----------------------------------------------------------

int App::run(int argc, char** argv) {
    gtk_init(&argc, &argv);
    // gtk_init sets the locale from the environment again; numbers stay "C".
    std::setlocale(LC_NUMERIC, "C");
    start(argc, argv);
    gtk_main();
    return 0;
}

void App::start(int argc, char** argv) {
    reload_theme();
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    watch_desktop_theme(bus);
    build_window();
    scan_argument(argc, argv);
}

void App::scan_argument(int argc, char** argv) {
    // An option such as -v is not a folder; a relative folder is made
    // absolute, or every node path would be relative too.
    // A regular file is a saved scan.
    if (argc <= 1 || !argv[1] || argv[1][0] == '-') return;
    std::error_code ec;
    if (std::filesystem::is_regular_file(argv[1], ec)) {
        open_saved_scan(argv[1]);
    } else {
        start_scan(absolute_folder(argv[1]));
    }
}

void App::watch_desktop_theme(GDBusConnection* bus) {
    m_theme_watch.reset();
    if (!bus) return;
    m_theme_watch = std::make_unique<desktop_theme::Watch>(bus, [this] {
        if (SettingsStore::instance().get().theme == "auto") reload_theme();
    });
}

void App::build_window() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* win = GTK_WINDOW(m_window);
    gtk_window_set_title(win, "Spacemole");
    gtk_window_set_icon_name(win, "spacemole");
    set_window_icon(win);

    const WindowGeometry geo = WindowManager::instance().load();
    if (geo.valid) {
        gtk_window_set_default_size(win, geo.width, geo.height);
    } else {
        gtk_window_set_default_size(win, kDefaultWidth, kDefaultHeight);
    }
    GdkGeometry hints{};
    hints.min_width = kMinWidth;
    hints.min_height = kMinHeight;
    gtk_window_set_geometry_hints(win, nullptr, &hints, GDK_HINT_MIN_SIZE);
    if (geo.valid && geo.maximized) {
        gtk_window_maximize(win);
    } else {
        gtk_window_set_position(win, GTK_WIN_POS_CENTER);
    }

    m_menu_container = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(m_window), m_menu_container);
    build_menu_bar();

    m_canvas = gtk_drawing_area_new();
    gtk_widget_set_can_focus(m_canvas, TRUE);
    gtk_widget_add_events(m_canvas, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                        GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK |
                                        GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK |
                                        GDK_SMOOTH_SCROLL_MASK);
    gtk_box_pack_start(GTK_BOX(m_menu_container), m_canvas, TRUE, TRUE, 0);

    g_signal_connect(m_canvas, "draw", G_CALLBACK(on_draw_cb), this);
    g_signal_connect(m_canvas, "button-press-event", G_CALLBACK(on_button_press_cb), this);
    g_signal_connect(m_canvas, "motion-notify-event", G_CALLBACK(on_motion_cb), this);
    g_signal_connect(m_canvas, "leave-notify-event", G_CALLBACK(on_leave_cb), this);
    g_signal_connect(m_canvas, "scroll-event", G_CALLBACK(on_scroll_cb), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(on_key_cb), this);
    g_signal_connect(m_window, "configure-event", G_CALLBACK(on_configure_cb), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(on_delete_cb), this);
    // The window may be destroyed by GTK (on exit) before the App.
    g_signal_connect(m_window, "destroy", G_CALLBACK(gtk_widget_destroyed), &m_window);
    g_signal_connect(m_canvas, "destroy", G_CALLBACK(gtk_widget_destroyed), &m_canvas);

    gtk_widget_show_all(m_window);
    gtk_widget_grab_focus(m_canvas);
}

// ---- Scan control -------------------------------------------------------------

std::uint32_t App::begin_scan(const std::string& path) {
    cancel_scan();
    m_progress = std::make_shared<ScanProgress>();
    m_scan_slot = std::make_shared<ScanSlot>();
    m_scanning = true;
    m_scanned_bytes = m_scanned_files = 0;
    m_current_path = m_scan_root = path;

    m_path.clear();
    m_hovered.reset();
    m_selected.reset();
    m_basket.clear();
    m_tiles.clear();
    // Freeing a tree of a million entries takes tens of milliseconds.
    if (m_root) m_reaper.adopt(std::thread(), std::move(m_root));
    m_last_freed = m_reclaimable = 0;
    // The batches stay restorable from their panel; the banner goes.
    m_undo_serial = 0;
    m_restore_note.clear();
    m_guard_ok.clear();
    m_denied_folders = m_skipped_folders = 0;
    m_tiles_node_id = 0;
    // The volume line waits for the scan thread's measurement.
    m_volume_total = m_volume_free = m_volume_used = 0;
    m_volume_name.clear();

    m_scan_start_time = m_fx.unix_now();
    m_scan_start_us = m_fx.monotonic_us();
    m_saved_scan = false;
    m_saved_time = 0;
    if (m_poll_source) g_source_remove(m_poll_source);
    m_poll_source = g_timeout_add(kPollMs, on_poll_cb, this);
    request_repaint();
    return ++m_scan_generation;
}

void App::start_scan(const std::string& requested) {
    // Rescanning a saved scan reads its file again.
    if (m_saved_scan && requested == m_scan_root) {
        open_saved_scan(requested);
        return;
    }
    const std::string path = absolute_folder(requested);
    const std::uint32_t generation = begin_scan(path);
    const Settings& s = SettingsStore::instance().get();
    scanner::Options options;
    options.dedupe_hard_links = s.dedupe_hard_links;
    options.one_filesystem = s.one_filesystem;

    // The thread shares only its progress and its slot with the App; statvfs,
    // which can hang on a dead network mount, runs here and not on the main loop.
    m_scan_thread = std::thread([path, options, generation, progress = m_progress,
                                 slot = m_scan_slot, lifeline = m_lifeline,
                                 volume_info = m_fx.volume_info, home = m_fx.home_directory()] {
        shell_ops::VolumeInfo volume = volume_info ? volume_info(path) : shell_ops::VolumeInfo{};
        {
            std::lock_guard lock(slot->mutex);
            slot->volume = volume;
        }
        FileNodePtr result = scanner::scan(path, *progress, options);
        // The guard reads the disk for every junk folder: asked here, not on
        // the main loop, and its answers are kept for later recounts.
        std::unordered_map<std::uint64_t, bool> guard_ok;
        std::int64_t reclaimable = 0;
        if (result && !progress->is_cancelled()) {
            const auto ask = [&guard_ok](const FileNode& n) {
                const bool ok = !deletion_guard::is_protected(n.path);
                guard_ok.emplace(n.id, ok);
                return ok;
            };
            reclaimable = reclaimable::total(reclaimable::collect(result, home, ask));
        }
        {
            std::lock_guard lock(slot->mutex);
            slot->result = std::move(result);
            slot->reclaimable = reclaimable;
            slot->guard_ok = std::move(guard_ok);
        }
        auto done = std::make_unique<Done>(Done{lifeline, generation});
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_scan_done_cb, done.release(), free_done);
    });
}

void App::open_saved_scan(const std::string& requested) {
    const std::string file = absolute_folder(requested);
    const std::uint32_t generation = begin_scan(file);
    m_saved_scan = true;
    const Settings& s = SettingsStore::instance().get();
    tree_import::Options options;
    options.dedupe_hard_links = s.dedupe_hard_links;
    m_scan_thread =
        std::thread([file, options, generation, slot = m_scan_slot, lifeline = m_lifeline] {
            tree_import::Result read = tree_import::load_file(file, options);
            {
                std::lock_guard lock(slot->mutex);
                slot->result = std::move(read.root);
                slot->error = std::move(read.error);
                slot->saved_time = read.timestamp;
                slot->denied = read.denied;
                slot->skipped = read.skipped;
            }
            auto done = std::make_unique<Done>(Done{lifeline, generation});
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_scan_done_cb, done.release(), free_done);
        });
}

void App::on_poll() {
    if (!m_scanning || !m_progress) return;
    const ScanProgress::Snapshot snap = m_progress->snapshot();
    m_scanned_bytes = snap.bytes;
    m_scanned_files = snap.files;
    if (!snap.current.empty()) m_current_path = snap.current; // none read yet: keep the root
    request_repaint();
}

void App::finish_scan() {
    if (m_poll_source) g_source_remove(m_poll_source);
    m_poll_source = 0;
    // The thread posted its notice as its last act, but on a busy machine it
    // may wait a while for the processor to end: the reaper joins it.
    if (m_scan_thread.joinable()) m_reaper.adopt(std::move(m_scan_thread), nullptr);
    FileNodePtr result;
    shell_ops::VolumeInfo volume;
    std::int64_t reclaimable = 0;
    std::unordered_map<std::uint64_t, bool> guard_ok;
    std::string error;
    std::int32_t saved_denied = 0;
    std::int32_t saved_skipped = 0;
    if (m_scan_slot) {
        std::lock_guard lock(m_scan_slot->mutex);
        result = std::move(m_scan_slot->result);
        volume = m_scan_slot->volume;
        reclaimable = m_scan_slot->reclaimable;
        guard_ok = std::move(m_scan_slot->guard_ok);
        error = std::move(m_scan_slot->error);
        m_saved_time = m_scan_slot->saved_time;
        saved_denied = m_scan_slot->denied;
        saved_skipped = m_scan_slot->skipped;
    }
    m_scan_slot.reset();
    m_scanning = false;
    m_scan_duration = static_cast<double>(m_fx.monotonic_us() - m_scan_start_us) / 1e6;
    m_denied_folders = m_progress ? m_progress->denied_count() : 0;
    m_skipped_folders = m_progress ? m_progress->skipped_count() : 0;
    m_volume_total = volume.total;
    m_volume_free = volume.free;
    m_volume_used = volume.used;
    m_volume_name = volume.name;
    if (m_saved_scan) {
        m_denied_folders = saved_denied;
        m_skipped_folders = saved_skipped;
    }
    if (m_progress && m_progress->is_cancelled()) {
        request_repaint();
        return;
    }
    if (m_saved_scan && !result) {
        // The empty screen, and the reason in a dialog.
        m_saved_scan = false;
        m_scan_root.clear();
        show_dialog(tr("Open saved scan"),
                    I18n::instance().trf("The saved scan could not be opened: %s", error.c_str()),
                    {{CMD_DLG_OK, "OK", false, true}});
        request_repaint();
        return;
    }
    m_root = std::move(result);
    m_path.clear();
    m_reclaimable = reclaimable;
    m_guard_ok = std::move(guard_ok);
    m_tiles_node_id = 0;
    discard_treemap_cache();
    request_repaint();
}

void App::cancel_scan() {
    if (m_progress) m_progress->cancel();
    // The walk unwinds on its own time; the reaper joins it off the main loop.
    if (m_scan_thread.joinable()) m_reaper.adopt(std::move(m_scan_thread), m_progress);
    m_scan_slot.reset();
    if (m_poll_source) g_source_remove(m_poll_source);
    m_poll_source = 0;
    ++m_scan_generation; // a Done already posted is now stale
    if (m_scanning) {
        m_scanning = false;
        request_repaint();
    }
}

// ---- Theme, persistence, queries ------------------------------------------------

bool App::resolve_dark() const {
    const std::string& theme = SettingsStore::instance().get().theme;
    if (theme == "dark") return true;
    if (theme == "light") return false;
    return m_fx.prefers_dark();
}

void App::reload_theme() {
    m_dark = resolve_dark();
    m_palette = Palette::for_theme(m_dark);
    if (GtkSettings* gs = gtk_settings_get_default())
        g_object_set(gs, "gtk-application-prefer-dark-theme", m_dark ? TRUE : FALSE, nullptr);
    discard_treemap_cache();
    request_repaint();
}

void App::save_geometry() {
    if (!m_window) return;
    int w = 0;
    int h = 0;
    gtk_window_get_size(GTK_WINDOW(m_window), &w, &h);
    GdkWindow* gdk = gtk_widget_get_window(m_window);
    const bool maximized = gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    WindowManager::instance().save(w, h, maximized);
}

void App::save_view_settings() {
    Settings& s = SettingsStore::instance().mutable_get();
    s.color_mode = m_color_mode == ColorMode::Category ? "category" : "heat";
    s.view_mode = m_view_mode == ViewMode::Tree ? "tree" : "map";
    s.sort_field = sort_field_name(m_sort.field);
    s.sort_ascending = m_sort.ascending;
    SettingsStore::instance().save();
}

void App::request_repaint() {
    ++m_repaints;
    if (m_canvas) gtk_widget_queue_draw(m_canvas);
}

bool App::is_in_basket(const FileNodePtr& node) const {
    if (!node) return false;
    for (const FileNodePtr& item : m_basket)
        if (item->id == node->id) return true;
    return false;
}

std::int64_t App::basket_total_bytes() const {
    std::int64_t sum = 0;
    for (const FileNodePtr& item : m_basket)
        sum += item->size;
    return sum;
}

double App::search_pulse() const {
    if (m_search_hits.size() != 1) return 0.0;
    const double t = static_cast<double>(m_fx.monotonic_us() - m_search_pulse_start) / 1e6;
    return 0.5 + 0.5 * std::sin(t * 7.5);
}

bool App::selected_is_protected() {
    if (!m_selected) return false;
    if (m_selected->id != m_protected_id) {
        m_protected_id = m_selected->id;
        m_protected_value = deletion_guard::is_protected(m_selected->path);
    }
    return m_protected_value;
}
