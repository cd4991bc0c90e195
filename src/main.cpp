// The program: crash handler, locale, one App with the real desktop
// services, the main loop, and an exit that never waits long for a thread.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <memory>

#include <unistd.h>

#include "app.h"
#include "crash_handler.h"
#include "desktop_theme.h"
#include "shell_ops.h"

namespace {

// How long closing the window may wait for a cancelled walk to unwind.
constexpr auto kExitGrace = std::chrono::milliseconds(700);

App::Effects desktop_effects() {
    App::Effects fx;
    fx.move_to_trash = [](const std::vector<std::string>& paths) {
        return shell_ops::move_to_trash(paths);
    };
    fx.delete_permanently = [](const std::vector<std::string>& paths) {
        return shell_ops::delete_permanently(paths);
    };
    fx.restore_from_trash = [](const std::vector<shell_ops::TrashedItem>& items) {
        return shell_ops::restore_from_trash(items);
    };
    fx.compress_folder = [](const std::string& folder, const shell_ops::ProgressFn& on_progress,
                            const std::atomic<bool>* cancel) {
        return shell_ops::compress_folder(folder, on_progress, cancel);
    };
    fx.can_write_archive_beside = shell_ops::can_write_archive_beside;
    fx.pick_folder = shell_ops::pick_folder;
    fx.pick_file = shell_ops::pick_saved_scan;
    // Never waits for the file manager: the interface thread stays free.
    fx.reveal = [](const std::string& path) {
        return shell_ops::reveal_in_file_manager_async(path);
    };
    fx.open_url = shell_ops::open_url;
    fx.volume_info = shell_ops::volume_info;
    fx.prefers_dark = [] { return desktop_theme::prefers_dark(); };
    fx.home_directory = shell_ops::home_directory;
    fx.quick_pick_roots = shell_ops::quick_pick_roots;
    return fx;
}

} // namespace

int main(int argc, char** argv) {
    CrashHandler::install();
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");

    auto app = std::make_unique<App>(desktop_effects());
    const int status = app->run(argc, argv);
    // The settings are saved by now. A walk stuck in a dead mount must not
    // keep the process alive: leave without unwinding what it may still use.
    if (!app->join_threads(std::chrono::steady_clock::now() + kExitGrace)) {
        std::fflush(nullptr);
        _exit(status);
    }
    app.reset();
    return status;
}
