// The small calls that connect the program to the desktop (shell_ops.h): the
// file manager, the folder chooser, links, volume figures and quick-pick roots.
#include "shell_ops.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

#include <gio/gio.h>
#include <gtk/gtk.h>

#include "i18n.h"
#include "mounts.h"
#include "paths.h"
#include "strutil.h"
#include "unique_fd.h"

namespace shell_ops {

// ---- Desktop services --------------------------------------------------------

namespace {
namespace desk {

// Interface texts of these calls, in one place: catalogue keys to be passed
// through the translation table.
constexpr const char* kChooseFolderTitle = "Choose folder";
constexpr const char* kChooseLabel = "Choose";
constexpr const char* kCancelLabel = "Cancel";

constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";

// GTK needs a display; without one every GTK call here is skipped.
bool gtk_ready() {
    if (gdk_display_get_default() != nullptr) return true;
    return gtk_init_check(nullptr, nullptr) && gdk_display_get_default() != nullptr;
}

// The shared session bus, or null when there is none.
GDBusConnection* session_bus() {
    return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
}

// Opens a URI with the desktop's handler, with no parent window so that a
// failure is returned rather than tied to a window.
bool show_uri(const std::string& uri) {
    if (uri.empty() || !gtk_ready()) return false;
    g_autoptr(GError) error = nullptr;
    return gtk_show_uri_on_window(nullptr, uri.c_str(), GDK_CURRENT_TIME, &error);
}

std::string file_uri(const std::string& path) {
    if (path.empty()) return {};
    g_autofree char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    return uri ? std::string(uri) : std::string();
}

} // namespace desk
} // namespace

RevealPlan reveal_plan(const std::string& path, bool is_directory) {
    RevealPlan plan;
    plan.method = is_directory ? "ShowFolders" : "ShowItems";
    plan.uri = desk::file_uri(path);
    plan.fallback_folder = is_directory ? path : su::parent_of(path);
    return plan;
}

bool ask_file_manager(GDBusConnection* bus, const RevealPlan& plan) {
    if (bus == nullptr || plan.uri.empty()) return false;
    const char* uris[] = {plan.uri.c_str(), nullptr};
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, desk::kFileManagerName, desk::kFileManagerPath, desk::kFileManagerName,
        plan.method.c_str(), g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE,
        FILE_MANAGER_TIMEOUT_MS, nullptr, nullptr);
    return reply != nullptr;
}

namespace {

// The file manager runs outside any sandbox and is given the display path;
// what this process touches itself (stat, the fallback folder) is reached
// through the scan path.
bool is_directory_on_disk(const std::string& path) {
    struct stat st {};
    return ::stat(to_scan_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct RevealJob {
    std::string path;
    RevealPlan plan;
    std::function<void(bool)> done;
};

// Worker thread: the stat and the bus call, each of which may take a while.
void reveal_in_thread(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto* job = static_cast<RevealJob*>(data);
    job->plan = reveal_plan(job->path, is_directory_on_disk(job->path));
    g_autoptr(GDBusConnection) bus = desk::session_bus();
    g_task_return_boolean(task, ask_file_manager(bus, job->plan));
}

// Main loop: the fallback needs GTK, which lives on this thread.
void reveal_finished(GObject*, GAsyncResult* result, gpointer) {
    GTask* task = G_TASK(result);
    auto* job = static_cast<RevealJob*>(g_task_get_task_data(task));
    bool ok = g_task_propagate_boolean(task, nullptr);
    if (!ok) ok = desk::show_uri(desk::file_uri(to_scan_path(job->plan.fallback_folder)));
    if (job->done) job->done(ok);
}

} // namespace

bool reveal_in_file_manager(const std::string& path) {
    const RevealPlan plan = reveal_plan(path, is_directory_on_disk(path));
    g_autoptr(GDBusConnection) bus = desk::session_bus();
    if (ask_file_manager(bus, plan)) return true;
    return desk::show_uri(desk::file_uri(to_scan_path(plan.fallback_folder)));
}

bool reveal_in_file_manager_async(const std::string& path, std::function<void(bool)> done) {
    if (path.empty()) return false;
    auto job = std::make_unique<RevealJob>(RevealJob{path, {}, std::move(done)});
    g_autoptr(GTask) task = g_task_new(nullptr, nullptr, reveal_finished, nullptr);
    // The task owns the job from here on.
    g_task_set_task_data(task, job.release(), [](gpointer p) {
        std::unique_ptr<RevealJob>(static_cast<RevealJob*>(p)).reset();
    });
    g_task_run_in_thread(task, reveal_in_thread);
    return true;
}

std::string pick_folder(GtkWindow* parent) {
    if (!desk::gtk_ready()) return {};
    GtkFileChooserNative* raw = gtk_file_chooser_native_new(
        tr(desk::kChooseFolderTitle), parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
        tr(desk::kChooseLabel), tr(desk::kCancelLabel));
    g_autoptr(GtkFileChooserNative) dialog = raw;
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    // Without a folder the chooser opens on "Recent files", which lists no
    // folders and resolves a typed name against nothing.
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), g_get_home_dir());
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) return {};
    g_autofree char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    return name ? std::string(name) : std::string();
}

std::string pick_saved_scan(GtkWindow* parent) {
    if (!desk::gtk_ready()) return {};
    GtkFileChooserNative* raw =
        gtk_file_chooser_native_new(tr("Open saved scan"), parent, GTK_FILE_CHOOSER_ACTION_OPEN,
                                    tr("Open"), tr(desk::kCancelLabel));
    g_autoptr(GtkFileChooserNative) dialog = raw;
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), g_get_home_dir());
    // The chooser owns the filters added to it.
    GtkFileFilter* json = gtk_file_filter_new();
    gtk_file_filter_set_name(json, tr("Saved scans (JSON)"));
    gtk_file_filter_add_pattern(json, "*.json");
    gtk_file_filter_add_mime_type(json, "application/json");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), json);
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) return {};
    g_autofree char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    return name ? std::string(name) : std::string();
}

bool open_url(const std::string& url) {
    return desk::show_uri(url);
}

VolumeInfo volume_info(const std::string& path) {
    VolumeInfo info;
    if (running_in_snap() && !hostfs_available() && !is_writable_location(path)) return info;
    struct statvfs vfs {};
    if (::statvfs(to_scan_path(path).c_str(), &vfs) == 0) {
        const auto unit = static_cast<int64_t>(vfs.f_frsize);
        info.total = static_cast<int64_t>(vfs.f_blocks) * unit;
        info.free = static_cast<int64_t>(vfs.f_bavail) * unit;
        info.used = static_cast<int64_t>(vfs.f_blocks - vfs.f_bfree) * unit;
    }
    mounts::refresh();
    if (const mounts::Mount* m = mounts::for_path(path)) info.name = m->point;
    return info;
}

std::string home_directory() {
    return real_home();
}

std::vector<std::string> quick_pick_roots() {
    std::vector<std::string> points;
    for (const auto& m : mounts::scannable_roots())
        points.push_back(m.point);
    return points;
}

} // namespace shell_ops
