// The one application object: window, interface state, scanned tree and the
// worker threads.
//
// Every member function runs on the GTK main thread. Worker threads never see
// the App: the scan thread writes its result into a hand-over slot it shares
// with the App and posts a Done record to the main loop, which drops it
// unless its generation is still current. Side effects (trash, deletion,
// compression, folder chooser, file manager, web links, volume figures, the
// desktop's colour preference, the clock) go through the Effects record, so a
// test can build an App over a temp folder, scan it, draw frames into a cairo
// image surface and click at hit targets without any display. Only run() and
// build_window() need GTK's display.
//
// The state record below is public: every view reads it and journey tests
// inspect it; only App members write it. Members live in files split by
// concern: app.cpp (lifecycle, scan control), app_navigation.cpp,
// app_input.cpp, app_menubar.cpp, app_basket.cpp (delete list, removal),
// app_undo.cpp (putting moves to the Trash back), app_compress.cpp, app_render.cpp and
// app_render_*.cpp.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <cairo.h>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include "desktop_theme.h"
#include "file_node.h"
#include "scanner.h"
#include "shell_ops.h"
#include "theme.h"
#include "tile_color.h"
#include "treemap.h"

enum class ViewMode : std::int32_t { Map = 0, Tree = 1 };

enum class SortField : std::int32_t { Name = 0, Size = 1, Files = 2, Created = 3, Modified = 4 };

struct TreeSort {
    SortField field = SortField::Size;
    bool ascending = false;
    // The field in force flips the direction; another one starts ascending
    // for names and descending for numbers.
    void select(SortField f) {
        if (f == field) {
            ascending = !ascending;
        } else {
            field = f;
            ascending = f == SortField::Name;
        }
    }
};

// Owners for the C handles the App keeps.
template <auto F>
struct Free {
    template <class T>
    void operator()(T* p) const {
        if (p) F(p);
    }
};
using PangoLayoutPtr = std::unique_ptr<PangoLayout, Free<g_object_unref>>;
using PangoContextPtr = std::unique_ptr<PangoContext, Free<g_object_unref>>;
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, Free<cairo_surface_destroy>>;
using CairoPtr = std::unique_ptr<cairo_t, Free<cairo_destroy>>;
using PixbufPtr = std::unique_ptr<GdkPixbuf, Free<g_object_unref>>;

class App {
public:
    // ---- Side effects, replaceable -----------------------------------------
    // main() fills this with the real shell_ops and desktop_theme calls; the
    // defaults do nothing and report failure, so an App in a test never
    // touches the desktop unless the test says so. volume_info runs on the
    // scan thread; everything else on the main thread, except the three file
    // operations, which run on their worker threads.
    struct Effects {
        using PathsOp = std::function<shell_ops::TrashResult(const std::vector<std::string>&)>;
        PathsOp move_to_trash = [](const std::vector<std::string>&) {
            return shell_ops::TrashResult{};
        };
        PathsOp delete_permanently = [](const std::vector<std::string>&) {
            return shell_ops::TrashResult{};
        };
        // Puts earlier moves to the Trash back; runs on the restore thread.
        // The default restores nothing and says so for every item.
        using RestoreOp =
            std::function<shell_ops::RestoreResult(const std::vector<shell_ops::TrashedItem>&)>;
        RestoreOp restore_from_trash = [](const std::vector<shell_ops::TrashedItem>& items) {
            shell_ops::RestoreResult result;
            for (const shell_ops::TrashedItem& item : items)
                result.failed.push_back({item.path, shell_ops::RestoreProblem::Failed,
                                         "The item could not be moved back"});
            return result;
        };
        // Stops early, with an empty result, once the flag turns true.
        using CompressOp = std::function<std::string(
            const std::string&, const shell_ops::ProgressFn&, const std::atomic<bool>*)>;
        CompressOp compress_folder = [](const std::string&, const shell_ops::ProgressFn&,
                                        const std::atomic<bool>*) { return std::string(); };
        std::function<bool(const std::string&)> can_write_archive_beside = [](const std::string&) {
            return false;
        };
        std::function<std::string(GtkWindow*)> pick_folder = [](GtkWindow*) {
            return std::string();
        };
        // The file chooser for a saved scan (JSON); empty when cancelled.
        std::function<std::string(GtkWindow*)> pick_file = [](GtkWindow*) { return std::string(); };
        // Shows a display path in the file manager. Returns at once (true:
        // the request is on its way); the work happens off the main thread.
        std::function<bool(const std::string&)> reveal = [](const std::string&) { return false; };
        std::function<bool(const std::string&)> open_url = [](const std::string&) { return false; };
        std::function<shell_ops::VolumeInfo(const std::string&)> volume_info =
            [](const std::string&) { return shell_ops::VolumeInfo{}; };
        std::function<bool()> prefers_dark = [] { return false; };
        std::function<std::string()> home_directory = [] { return std::string(); };
        std::function<std::vector<std::string>()> quick_pick_roots = [] {
            return std::vector<std::string>();
        };
        // Seconds since the epoch (ages of files are measured from the scan's start).
        std::function<std::int64_t()> unix_now = [] {
            return static_cast<std::int64_t>(g_get_real_time() / 1000000);
        };
        // Microseconds of a monotonic clock (durations, animation).
        std::function<std::int64_t()> monotonic_us = [] { return g_get_monotonic_time(); };
    };

    // ---- Shared types -------------------------------------------------------

    enum class Font : std::int32_t {
        Body = 0,
        BodyBold = 1,
        Caption = 2,
        CaptionBold = 3,
        Title = 4,
        Mono = 5,
    };

    enum class Act : std::int32_t {
        None = 0,
        ChooseFolder = 1,
        QuickPick = 2,
        Up = 3,
        Down = 4,
        ModeCategory = 5,
        ModeHeat = 6,
        Rescan = 7,
        CancelScan = 8,
        AppMenu = 9,
        SettingsTheme = 10,
        SettingsLang = 11,
        SettingsDedupe = 12,
        SettingsOneFs = 13,
        Breadcrumb = 14,
        ScanAncestor = 15,
        CrumbMore = 16,
        RevealCurrent = 17,
        DismissDenied = 18,
        DismissFreed = 19,
        BasketClear = 20,
        BasketDelete = 21,
        BasketRemove = 22,
        StatusReveal = 23,
        StatusToggleBasket = 24,
        MarkReclaimable = 25,
        Tile = 26,
        ViewMap = 27,
        ViewTree = 28,
        SortColumn = 29,
        TreeRow = 30,
        TreeDisclosure = 31,
        MenuItem = 32,
        DialogButton = 33,
        LinkWebsite = 34,
        SearchClose = 35,
        SearchNext = 36,
        UndoTrash = 37,         // the freed banner's "Undo"
        OpenTrashed = 38,       // the status bar's "Moved to Trash"
        TrashRestoreItem = 39,  // index: the panel row
        TrashRestoreBatch = 40, // index: the panel row
    };

    struct HitTarget {
        RectF rect;
        Act act = Act::None;
        int index = 0;
        FileNodePtr node;
    };

    struct Crumb {
        std::string label;
        Act act = Act::Breadcrumb;
        int index = 0; // zoom depth (-1: the scanned folder) or path prefix length
    };

    enum class Overlay : std::int32_t {
        None = 0,
        Menu = 1,
        Dialog = 2,
        About = 3,
        Settings = 4,
        Trashed = 5, // what went to the Trash since start, to put back
    };

    struct MenuEntry {
        std::int32_t id = 0; // Cmd; 0 for separators and captions
        std::string label;
        bool checked = false;
        bool separator = false;
        bool enabled = true;
    };

    struct DialogButton {
        std::int32_t id = 0;
        std::string label;
        bool destructive = false;
        bool cancel = false;
    };

    enum Cmd : std::int32_t {
        CMD_NONE = 0,
        CMD_QUICK_HOME = 100,
        CMD_QUICK_ROOT = 101,
        CMD_QUICK_MOUNT_FIRST = 110,
        CMD_LANG_AUTO = 200,
        CMD_LANG_FIRST = 201,
        CMD_THEME_AUTO = 300,
        CMD_THEME_LIGHT = 301,
        CMD_THEME_DARK = 302,
        CMD_ABOUT = 400,
        CMD_TILE_REVEAL = 500,
        CMD_TILE_ZOOM = 501,
        CMD_TILE_MARK = 502,
        CMD_TILE_UNMARK = 503,
        CMD_TILE_ZIP = 504,
        CMD_DLG_CANCEL = 600,
        CMD_DLG_TRASH = 601,
        CMD_DLG_OK = 602,
        CMD_DLG_DELETE_FOREVER = 603,
        CMD_DLG_REVEAL_RESULT = 604,
        CMD_MENU_CHOOSE = 700,
        CMD_MENU_RESCAN = 701,
        CMD_MENU_CANCEL_SCAN = 702,
        CMD_MENU_REVEAL = 703,
        CMD_MENU_EXIT = 704,
        CMD_MENU_VIEW_MAP = 705,
        CMD_MENU_VIEW_TREE = 706,
        CMD_MENU_COLOR_CATEGORY = 707,
        CMD_MENU_COLOR_HEAT = 708,
        CMD_MENU_UP = 709,
        CMD_MENU_DOWN = 710,
        CMD_MENU_SETTINGS = 711,
        CMD_MENU_OPEN_SAVED = 712,
        CMD_MENU_UNDO = 713,
        CMD_MENU_TRASHED = 714,
        CMD_CRUMB_FIRST = 1000,
    };

    // What a finished scan hands to the main loop, in a slot shared by the
    // scan thread and the App (the thread may outlive a cancel, never the slot).
    struct ScanSlot {
        std::mutex mutex;
        FileNodePtr result;
        shell_ops::VolumeInfo volume;
        std::int64_t reclaimable = 0;
        // The deletion guard's answers for the junk nodes looked at, by id.
        std::unordered_map<std::uint64_t, bool> guard_ok;
        // A saved scan's reading: its error, its date and its folder counts.
        std::string error;
        std::int64_t saved_time = 0;
        std::int32_t denied = 0;
        std::int32_t skipped = 0;
    };

    // The App's address for callbacks that may run after it is gone: the
    // destructor clears it (main thread only, like every reader).
    struct Lifeline {
        App* app = nullptr;
    };

    // Joins threads handed to it on a thread of its own, so that the main
    // loop never waits for a walk to unwind. Keeps `keep` (the thread's
    // shared state) alive until the join and releases it there; a thread that
    // is not joinable hands over just `keep`, so that freeing a big tree does
    // not hold up the main loop either.
    class Reaper {
    public:
        Reaper() = default;
        ~Reaper(); // joins everything, however long it takes
        Reaper(const Reaper&) = delete;
        Reaper& operator=(const Reaper&) = delete;
        void adopt(std::thread thread, std::shared_ptr<const void> keep);
        // True when every adopted thread has been joined by `deadline`.
        bool wait_idle(std::chrono::steady_clock::time_point deadline);
        std::size_t pending() const;

    private:
        struct Item {
            std::thread thread;
            std::shared_ptr<const void> keep;
        };
        void loop();

        mutable std::mutex m_mutex;
        std::condition_variable m_cv;
        std::deque<Item> m_queue;
        std::size_t m_busy = 0;
        bool m_stop = false;
        std::thread m_worker;
    };

    // ---- Lifecycle ----------------------------------------------------------

    App();
    explicit App(Effects effects);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // gtk_init, start(), the main loop; returns 0.
    int run(int argc, char** argv);
    // Everything run() does before the main loop (GTK must be initialised).
    void start(int argc, char** argv);
    // Scans the first argument unless it is missing or an option ("-v");
    // a regular file opens as a saved scan.
    void scan_argument(int argc, char** argv);
    void build_window();
    // Follows the desktop's colour scheme on `bus` (null: never).
    void watch_desktop_theme(GDBusConnection* bus);
    // After the main loop: joins the worker threads still running until
    // `deadline`; false when some are still running then.
    bool join_threads(std::chrono::steady_clock::time_point deadline);

    // ---- Scan control (app.cpp) ---------------------------------------------
    // The state reset shared by scans and saved scans; returns the generation.
    std::uint32_t begin_scan(const std::string& path);
    void start_scan(const std::string& path);
    // Reads a saved scan (JSON export) on the scan thread, with the same
    // life cycle as a scan: the scanning screen, then its tree, read-only.
    void open_saved_scan(const std::string& file);
    void finish_scan();
    void cancel_scan();
    void on_poll();

    void reload_theme();
    bool resolve_dark() const;
    void save_geometry();
    void save_view_settings();
    void request_repaint();

    // State queries for the views.
    bool is_in_basket(const FileNodePtr& node) const;
    std::int64_t basket_total_bytes() const;
    double search_pulse() const;
    std::int64_t reclaimable_bytes() const { return m_reclaimable; }
    void recompute_reclaimable();
    // After the tree changed in place: the old tree and its tiles are freed
    // off the main loop and the derived state is refreshed.
    void retire_tree(FileNodePtr old_root);
    // The protected test of the selected node, computed once per selection.
    bool selected_is_protected();

    // ---- Delete list and removal (app_basket.cpp) ----------------------------
    // Whether `node` may go on the delete list: a real entry below the root
    // whose path allows changes and that the deletion guard lets go.
    bool may_list(const FileNodePtr& node);
    // The guard's verdict on the node's path, asked once per node and tree.
    bool guard_allows(const FileNode& node);
    void toggle_basket(const FileNodePtr& node);
    void remove_from_basket(const FileNodePtr& node);
    void add_reclaimable_to_basket();
    void empty_basket_to_trash();
    void delete_no_trash_items();
    // Starts the delete thread on `paths` (Trash, or permanently).
    void start_deletion(std::vector<std::string> paths, bool permanent);
    // Completion on the main loop of a move to Trash or a permanent deletion.
    void finish_deletion(bool permanent);
    // The in-place update of the tree after `removed` paths left the disk.
    void apply_deletion(const std::vector<std::string>& removed);

    // ---- Undo of moves to the Trash (app_undo.cpp) ----------------------------
    // One move to the Trash, kept for the life of the program. The removed
    // nodes are immutable and still held, so restored items go back into
    // the tree as they were, without a rescan.
    struct TrashEntry {
        enum class State : std::int32_t { InTrash = 0, Restored = 1, Stayed = 2 };
        shell_ops::TrashedItem item;
        FileNodePtr node; // the entry as it left the tree; may be empty
        State state = State::InTrash;
        std::string problem; // why the last restore left it in the Trash
    };
    struct TrashBatch {
        std::uint64_t serial = 0; // 1 for the first batch
        std::int64_t time = 0;    // Unix seconds of the move
        std::vector<TrashEntry> entries;
    };
    // A row of the "Moved to Trash" panel: a batch heading or one of its items.
    struct TrashRow {
        std::size_t batch = 0; // position in m_trash_batches
        int entry = -1;        // -1: the batch's heading
    };
    // Records a finished move to the Trash; the nodes are looked up in the
    // tree before it is edited (else taken from the delete list).
    void remember_trashed(std::vector<shell_ops::TrashedItem> moved);
    // The freed banner offers Undo (and Control+Z works) for this batch.
    bool can_undo() const;
    void undo_last_trash();
    // Puts back what of batch `serial` is still in the Trash: entry `entry`
    // alone, or all of them (-1).
    void restore_trashed(std::uint64_t serial, int entry);
    void finish_restore();
    void open_trashed_panel();
    std::vector<TrashRow> trashed_rows() const;
    bool trashed_panel_key(guint keyval);
    void trashed_panel_click(const HitTarget* hit);
    // Scrolls the panel so the keyboard's row is in view.
    void reveal_trashed_row();

    // ---- Compression (app_compress.cpp) -------------------------------------
    void compress_folder(const FileNodePtr& node);
    void finish_compress();
    // Stops a running packer (quitting): tar is killed, its file removed.
    void cancel_compression();

    // ---- Navigation (app_navigation.cpp) ------------------------------------
    FileNodePtr current() const;
    bool can_zoom_out() const;
    bool can_zoom_in() const;
    void zoom_into(const FileNodePtr& node);
    void zoom_to(int index);
    void zoom_out();
    void zoom_into_largest();
    void select(const FileNodePtr& node);
    void activate(const FileNodePtr& node);
    void set_view_mode(ViewMode mode);
    void set_color_mode(ColorMode mode);
    void scan_ancestor(int prefix_len);
    std::string quick_path_for(int id) const;
    // A copy of `nodes` in the tree view's order (m_sort); names compare by
    // the user's collation. Equal keys keep their stored order.
    std::vector<FileNodePtr> sorted(const std::vector<FileNodePtr>& nodes) const;
    // The sort header: TreeSort::select, saved, redrawn.
    void sort_by(SortField field);
    // Expands or collapses a folder row; other nodes are ignored.
    void toggle_expanded(const FileNodePtr& node);

    // ---- Input (app_input.cpp) ----------------------------------------------
    // Returns true when the click did something.
    bool on_click(double x, double y, bool secondary);
    void on_motion(double x, double y);
    // True when the key was handled; the window's accelerators then do not
    // see it, so no key runs its command twice.
    bool on_key(guint keyval, GdkModifierType state);
    void on_leave();
    // The tree view's offset, clamped to its content; other views ignore it.
    void scroll_by(double dy);
    // Tab: the next (step 1) or previous (-1) item of the shown folder in
    // the view's order becomes the selection.
    void select_step(int step);
    // The Menu key: the tile menu of the selection (else the hovered item).
    void open_menu_for_selection();
    const HitTarget* target_at(double x, double y) const;
    void choose_folder();
    void choose_saved_scan();
    // True (and the read-only note shown) when the tree is a saved scan,
    // whose paths name another machine or moment: no file action applies.
    bool refuse_saved_scan();
    // Shows a path in the file manager without waiting for it: the Effects
    // call returns at once and reports its outcome on the main loop.
    void reveal(const std::string& path);

    // In-canvas menus, dialogs and the two panels. At most one overlay is
    // open; each opener replaces what was open, through close_overlay().
    void open_tile_menu(const FileNodePtr& node, double x, double y);
    void open_crumb_menu(const RectF& anchor);
    void open_quick_pick_menu(const RectF& anchor);
    void open_settings();
    void open_about();
    // A message dialog. Buttons run their id through handle_dialog_command;
    // a button flagged `cancel` is never chosen by Enter, nor is "Delete
    // permanently". A dialog without buttons (progress) ignores clicks.
    void show_dialog(const std::string& title, const std::string& message,
                     std::vector<DialogButton> buttons);
    // A dialog about a produced file: name, size and folder above `note`.
    void show_result_dialog(const std::string& title, const std::string& file,
                            const std::string& size_text, const std::string& path,
                            const std::string& note, std::vector<DialogButton> buttons);
    // Closes any overlay. Closing a dialog, however it happens, also forgets
    // the items that had no Trash: only the dialog's own button may delete
    // them permanently.
    void close_overlay();
    void handle_dialog_command(int id);
    // The delete list's "Move to Trash" button: the confirmation dialog.
    void confirm_delete_list();

    // Settings panel operations; each saves the settings file.
    void apply_theme_choice(int id);
    void apply_language_choice(int id);
    void toggle_hard_link_dedupe();
    void toggle_one_filesystem();

    // ---- Search (app_search.cpp) --------------------------------------------
    void open_search();
    // Recomputes the hits below the shown folder for the query; in the tree
    // view it opens the folders on the way to each hit.
    void update_search();
    void close_search();
    void search_jump_next();
    bool matches_search(const FileNodePtr& node) const;

    // ---- Menu bar (app_menubar.cpp) -----------------------------------------
    void build_menu_bar();
    void sync_menu_state();
    static std::string mnemonic(const std::string& text);
    void handle_menu_command(int id);

    // ---- Drawing (app_render*.cpp) ------------------------------------------
    void draw_all(cairo_t* cr, double width, double height);
    void compute_layout();
    void draw_content();
    void add_target(const RectF& r, Act act, int index = 0, FileNodePtr node = {});
    void discard_treemap_cache();

    PangoLayoutPtr layout_for(const std::string& text, Font font) const;
    double measure_text(const std::string& text, Font font) const;
    double font_height(Font font) const;
    double draw_label_rgb(const std::string& text, Font font, const RectF& r, const Rgb& color,
                          double alpha = 1.0);
    double draw_label(const std::string& text, Font font, const RectF& r, const std::string& hex,
                      double alpha = 1.0);
    void fill_rect(const RectF& r, const std::string& hex, double alpha = 1.0);
    void fill_rgb(const RectF& r, const Rgb& c, double alpha = 1.0);
    void round_rect_path(const RectF& r, double radius);
    void fill_round_rect(const RectF& r, double radius, const std::string& hex, double alpha = 1.0);
    void stroke_round_rect(const RectF& r, double radius, const std::string& hex, double width,
                           double alpha = 1.0);
    void draw_hairline(double y, double x0, double x1);
    std::string truncate_to_width(const std::string& text, Font font, double max_width) const;
    std::string truncate_path_middle(const std::string& text, Font font, double max_width) const;
    std::vector<std::string> wrap_text(const std::string& text, Font font, double max_width) const;
    RectF draw_button(double x, double y, const std::string& label, bool prominent, bool enabled,
                      const std::string& glyph = {});
    // Draws a label whose centre is at `cx`; returns its width.
    double draw_centered(const std::string& text, Font font, double cx, double y,
                         const std::string& hex, double alpha = 1.0);

    void draw_toolbar();
    double draw_segmented(double x, const RectF& r, const char* left, const char* right,
                          bool left_active, Act left_act, Act right_act);
    void draw_path_bar();
    std::vector<Crumb> build_crumbs() const;
    void draw_banners();
    void draw_status_bar();
    // "Saved scan from <date>", for the path bar and the status bar.
    std::string saved_scan_note() const;
    void draw_scanning();
    void draw_empty_state();
    void draw_shown_folder();

    // Helpers of the views (app_render_views.cpp).
    void fill_round_rect_rgb(const RectF& r, double radius, const Rgb& c, double alpha = 1.0);
    // truncate_to_width by bisection: a handful of measurements however long
    // the text, for labels drawn on every frame.
    std::string truncate_fast(const std::string& text, Font font, double max_width) const;
    // draw_label_rgb of `text` cut with an ellipsis to the width of `r`, with
    // one layout: what truncate_to_width and draw_label do in several.
    void draw_label_fit(const std::string& text, Font font, const RectF& r, const Rgb& color,
                        double alpha = 1.0);
    void draw_label_fit(const std::string& text, Font font, const RectF& r, const std::string& hex,
                        double alpha = 1.0);

    // Treemap view (app_render_treemap.cpp).
    // The tile half of compute_layout: lays out current() when it or the
    // content size changed.
    void layout_tiles();
    void draw_map();
    void draw_treemap_into_cache();
    void draw_tile(const TreemapTile& tile, std::int64_t max_size);
    void draw_tile_label(const FileNode& n, const RectF& r, double prominence);
    void draw_tooltip(const FileNodePtr& node, double x, double y);
    void draw_nothing_found();

    // Tree view (app_render_tree.cpp).
    struct TreeRow {
        FileNodePtr node;
        std::int32_t depth = 0;
        std::int64_t parent_size = 0;
    };
    void draw_tree();
    void draw_tree_header(const RectF& r);
    // `hits`: ids of the search hits; `band`: the rows area, which clips
    // the row's targets so a half-hidden row never covers the header.
    void draw_tree_row(const TreeRow& row, double y, const RectF& band,
                       const std::unordered_set<std::uint64_t>& hits);
    // Draws `text` ending `pad` pixels left of `right`, centred in (y, h).
    void draw_right_aligned(const std::string& text, Font font, double right, double y, double h,
                            const std::string& hex, double pad = 8);
    // Rebuilds m_tree_rows when the shown folder, the tree, the sort or the
    // expanded set changed since the last build; cheap otherwise.
    void refresh_tree_rows();

    void draw_legend();
    void draw_basket_bar();
    // Overlays and the search bar (app_render_overlays.cpp).
    void draw_search_bar();
    void draw_overlay();
    void draw_menu();
    void draw_dialog();
    void draw_settings();
    void draw_about();
    void draw_trashed_panel();
    // The ring around the control that the keyboard would activate in a panel.
    void draw_focus_ring(const RectF& r);

    // ---- The state record ---------------------------------------------------

    Effects m_fx;
    std::shared_ptr<Lifeline> m_lifeline = std::make_shared<Lifeline>();

    // Window and drawing.
    GtkWidget* m_window = nullptr;
    GtkWidget* m_canvas = nullptr;
    GtkWidget* m_menu_bar = nullptr;
    GtkWidget* m_menu_container = nullptr;
    GtkAccelGroup* m_accel_group = nullptr; // owned by the window once attached
    double m_width = 0.0;
    double m_height = 0.0;
    cairo_t* m_cr = nullptr; // valid only while drawing
    PangoContextPtr m_pango;
    CairoSurfacePtr m_treemap_cache;
    bool m_treemap_dirty = true;
    PixbufPtr m_about_icon;
    Palette m_palette = Palette::light();
    bool m_dark = false;
    std::unique_ptr<desktop_theme::Watch> m_theme_watch;

    // Tree, view and pointer.
    FileNodePtr m_root;
    std::vector<FileNodePtr> m_path;
    ColorMode m_color_mode = ColorMode::Heat;
    ViewMode m_view_mode = ViewMode::Map;
    TreeSort m_sort;
    std::set<std::uint64_t> m_expanded;
    FileNodePtr m_hovered;
    FileNodePtr m_selected;
    double m_scroll = 0.0;
    double m_content_height = 0.0;
    double m_hover_x = 0.0;
    double m_hover_y = 0.0;
    std::vector<FileNodePtr> m_basket;
    std::uint64_t m_protected_id = 0; // node whose protection m_protected_value holds
    bool m_protected_value = false;

    // Search.
    bool m_search_open = false;
    std::string m_search_query;
    std::vector<FileNodePtr> m_search_hits;
    std::size_t m_search_index = 0;
    RectF m_r_search;
    gint64 m_search_pulse_start = 0;
    guint m_search_pulse_source = 0;
    // Per hit, the folders from the shown one down to the hit's parent.
    std::vector<std::vector<std::uint64_t>> m_search_trails;
    // What the last walk looked for, where, and whether it saw the whole
    // range: a longer query in the same folder then only filters the hits.
    std::string m_search_folded;
    std::weak_ptr<const FileNode> m_search_folder;
    bool m_search_complete = false;

    // Scan state.
    bool m_scanning = false;
    std::int64_t m_scanned_bytes = 0;
    std::int64_t m_scanned_files = 0;
    std::string m_current_path;
    double m_scan_duration = 0.0;
    std::int64_t m_scan_start_time = 0;
    gint64 m_scan_start_us = 0;
    std::int32_t m_denied_folders = 0;
    std::int32_t m_skipped_folders = 0;
    std::string m_scan_root; // the saved scan's file when m_saved_scan
    bool m_saved_scan = false;
    std::int64_t m_saved_time = 0; // when the saved scan was made; 0 unknown
    std::int64_t m_reclaimable = 0;
    std::int64_t m_volume_total = 0; // 0 until the scan thread has measured it
    std::int64_t m_volume_free = 0;
    std::int64_t m_volume_used = 0;
    std::string m_volume_name;

    // Deletion.
    bool m_deleting = false;
    std::int64_t m_last_freed = 0;
    std::string m_delete_error;
    std::string m_protected_note;
    bool m_freed_permanently = false; // the banner's wording: deleted, or in the Trash
    std::unordered_map<std::uint64_t, bool> m_guard_ok; // guard verdicts by node id

    // Undo: every batch moved to the Trash since start, newest first.
    std::vector<TrashBatch> m_trash_batches;
    std::uint64_t m_undo_serial = 0; // the batch the freed banner offers to undo; 0 none
    bool m_restoring = false;        // the restore thread runs
    // What the running restore was asked for: batch serial and entry positions.
    std::uint64_t m_restore_serial = 0;
    std::vector<std::size_t> m_restore_entries;
    std::string m_restore_note; // "Restored n items", shown in the freed banner's place
    int m_trashed_row = 0;      // the panel row the keyboard is on
    int m_trashed_first = 0;    // the first panel row shown
    int m_trashed_visible = 1;  // rows the last frame had room for

    // Worker threads. The running scan's progress is shared with its thread,
    // which the reaper joins after a cancel.
    std::shared_ptr<ScanProgress> m_progress;
    std::shared_ptr<ScanSlot> m_scan_slot;
    std::thread m_scan_thread;
    std::thread m_delete_thread;
    std::thread m_compress_thread;
    std::thread m_restore_thread;

    // Compression.
    bool m_compressing = false;
    std::string m_compress_name;
    std::string m_compress_result;
    std::int64_t m_compress_size = 0;
    std::atomic<std::int64_t> m_compress_done{0};
    std::int64_t m_compress_total = 0;
    guint m_compress_tick = 0;
    // Shared with the compress thread, which may outlive a quit.
    std::shared_ptr<std::atomic<bool>> m_compress_cancel;

    // Results of the delete and compress threads, under m_result_mutex.
    std::mutex m_result_mutex;
    std::vector<std::string> m_trashed;
    std::vector<std::string> m_no_trash;
    std::string m_trash_error;
    std::int32_t m_trash_failed = 0;
    std::vector<shell_ops::TrashedItem> m_trash_moved;
    shell_ops::RestoreResult m_restored;

    // Layout of the last frame.
    RectF m_r_toolbar;
    RectF m_r_pathbar;
    RectF m_r_denied;
    RectF m_r_content;
    RectF m_r_freed;
    RectF m_r_basket;
    RectF m_r_legend;
    RectF m_r_status;
    std::vector<HitTarget> m_targets;
    std::vector<Crumb> m_crumbs_hidden;
    std::vector<TreemapTile> m_tiles;
    RectF m_tiles_rect;
    std::uint64_t m_tiles_node_id = 0;
    // The tree view's rows in display order, expanded descendants included,
    // and what they were built from: a frame draws only the visible slice.
    std::vector<TreeRow> m_tree_rows;
    struct TreeRowsKey {
        // Weak: the rows must not keep a replaced tree alive.
        std::weak_ptr<const FileNode> root;
        std::weak_ptr<const FileNode> shown;
        TreeSort sort;
        std::set<std::uint64_t> expanded;
        bool built = false;
    } m_tree_rows_key;
    // The disclosure triangles (closed, open), laid out once per frame.
    PangoLayoutPtr m_tree_triangles[2];

    // Overlays.
    Overlay m_overlay = Overlay::None;
    std::vector<MenuEntry> m_menu;
    RectF m_menu_rect;
    std::int32_t m_menu_hover = -1;
    std::string m_dialog_title;
    std::string m_dialog_message;
    std::vector<DialogButton> m_dialog_buttons;
    std::string m_dialog_file;
    std::string m_dialog_file_size;
    std::string m_dialog_path;
    std::string m_dialog_reveal;
    RectF m_dialog_rect;
    FileNodePtr m_menu_node;
    // Keyboard focus inside the Settings and About panels: the position
    // among the panel's controls (-1: none yet).
    int m_panel_focus = -1;

    // Control.
    std::uint32_t m_scan_generation = 0;
    guint m_poll_source = 0;
    std::uint32_t m_repaints = 0; // repaint requests, for tests and benchmarks
    Reaper m_reaper;              // last: joined first on destruction

    // Drawing helpers shared by the render files.
    static std::string strip_emoji(const std::string& s);
};

// A relative folder made absolute against the working directory, with "."
// and ".." resolved textually and trailing slashes dropped.
std::string absolute_folder(const std::string& path);
