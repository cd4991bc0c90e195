// Time from process start to the first painted frame of the window (no
// scan), as the program starts: GTK, the theme, the window and its menu bar.
// Needs a display (run it under xvfb-run). Prints two figures: from the
// process's start as the kernel recorded it (10 ms resolution, includes
// loading the libraries) and from main() (microseconds), with the phases up
// to the window and the processor time the process used until that frame,
// which a machine busy with other work does not inflate.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include "app.h"
#include "desktop_theme.h"

namespace {

// Seconds since boot at which this process started.
double process_start_s() {
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    // Field 22 (starttime) is the 20th after the command name.
    for (int i = 0; i < 20 && rest >> field; ++i) {
    }
    return std::strtod(field.c_str(), nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double boot_now_s() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Probe {
    App* app = nullptr;
    gint64 main_us = 0;
    double from_main_ms = -1;
    double from_start_ms = -1;
    double cpu_ms = -1; // user + system time of the process until then
};

void after_paint(GdkFrameClock*, gpointer data) {
    auto* p = static_cast<Probe*>(data);
    if (p->from_main_ms >= 0 || p->app->m_targets.empty()) return; // canvas not drawn yet
    p->from_main_ms = static_cast<double>(g_get_monotonic_time() - p->main_us) / 1000.0;
    p->from_start_ms = (boot_now_s() - process_start_s()) * 1000.0;
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    p->cpu_ms = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
                (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
    gtk_main_quit();
}

} // namespace

int main(int argc, char** argv) {
    Probe probe;
    probe.main_us = g_get_monotonic_time();
    char tmpl[] = "/tmp/spacemole-first-frame-XXXXXX";
    if (mkdtemp(tmpl)) setenv("XDG_CONFIG_HOME", tmpl, 1);
    auto since_main = [&] {
        return static_cast<double>(g_get_monotonic_time() - probe.main_us) / 1000.0;
    };
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 2;
    }
    const double t_gtk = since_main();
    App::Effects fx;
    fx.prefers_dark = [] { return desktop_theme::prefers_dark(); };
    App app(fx);
    probe.app = &app;
    const double t_app = since_main();
    char name[] = "spacemole";
    char* args[] = {name, nullptr};
    app.start(1, args);
    const double t_start = since_main();
    GdkFrameClock* clock = gtk_widget_get_frame_clock(app.m_window);
    g_signal_connect(clock, "after-paint", G_CALLBACK(after_paint), &probe);
    gtk_main();
    std::printf("first frame: %.1f ms after process start, %.1f ms after main()"
                " (gtk_init %.1f, App %.1f, window %.1f); cpu %.1f ms\n",
                probe.from_start_ms, probe.from_main_ms, t_gtk, t_app - t_gtk, t_start - t_app,
                probe.cpu_ms);
    return 0;
}
