// How responsive the main loop stays while the App scans a big tree, and how
// long the App's scan takes from start_scan to the result on screen.
//
//   app_scan_bench TREE [RUNS]
//
// Runs after the first are rescans in the same App (the previous tree is let
// go when the next scan starts).
// No display is needed: the App runs over the default GLib main context, a
// 1 ms timer measures the gaps between its ticks (a stall is a gap beyond the
// timer's period), and every repaint the App requests is drawn into a
// 1200 x 800 image surface, as the window would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "app.h"
#include "shell_ops.h"

namespace {

struct Run {
    double scan_s = 0;
    double longest_stall_ms = 0;
    double p99_stall_ms = 0;
    double longest_own_ms = 0; // the longest stall less the time spent waiting for a CPU
    int frames = 0;
    std::int64_t files = 0;
};

struct Loop {
    App* app = nullptr;
    GMainLoop* loop = nullptr;
    cairo_t* cr = nullptr;
    gint64 last = 0;
    double last_wait_ms = 0;
    std::vector<double> gaps_ms;
    std::vector<double> waits_ms; // run-queue wait of the main thread within each gap
    std::uint32_t painted = 0;
    int frames = 0;
};

// Nanoseconds this thread has waited on a run queue (runnable, not running):
// on a machine busy with other work a stall may be the scheduler's, not ours.
double run_queue_wait_ms() {
    FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    if (!f) return 0;
    unsigned long long run = 0;
    unsigned long long wait = 0;
    const int n = std::fscanf(f, "%llu %llu", &run, &wait);
    std::fclose(f);
    return n == 2 ? static_cast<double>(wait) / 1e6 : 0;
}

gboolean tick(gpointer data) {
    auto* l = static_cast<Loop*>(data);
    const gint64 now = g_get_monotonic_time();
    const double wait = run_queue_wait_ms();
    l->gaps_ms.push_back(static_cast<double>(now - l->last) / 1000.0);
    l->waits_ms.push_back(wait - l->last_wait_ms);
    l->last = now;
    l->last_wait_ms = wait;
    if (l->app->m_repaints != l->painted) { // a repaint was requested
        l->painted = l->app->m_repaints;
        l->app->draw_all(l->cr, 1200, 800);
        ++l->frames;
    }
    if (!l->app->m_scanning) g_main_loop_quit(l->loop);
    return G_SOURCE_CONTINUE;
}

// Runs after the first one rescan in the same App, which first lets go of
// the previous tree, as the Rescan button does.
Run one_run(App& app, const std::string& tree) {
    CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 800));
    CairoPtr cr(cairo_create(surface.get()));
    Loop l;
    l.app = &app;
    l.loop = g_main_loop_new(nullptr, FALSE);
    l.cr = cr.get();
    app.draw_all(cr.get(), 1200, 800);

    const gint64 t0 = g_get_monotonic_time();
    app.start_scan(tree);
    l.last = g_get_monotonic_time();
    l.last_wait_ms = run_queue_wait_ms();
    const guint id = g_timeout_add(1, tick, &l);
    g_main_loop_run(l.loop);
    const gint64 t1 = g_get_monotonic_time();
    g_source_remove(id);
    g_main_loop_unref(l.loop);

    Run r;
    r.scan_s = static_cast<double>(t1 - t0) / 1e6;
    std::vector<double> stalls;
    for (std::size_t i = 0; i < l.gaps_ms.size(); ++i) {
        const double stall = std::max(0.0, l.gaps_ms[i] - 1.0);
        stalls.push_back(stall);
        if (stall >= r.longest_stall_ms) {
            r.longest_stall_ms = stall;
            r.longest_own_ms = std::max(0.0, stall - l.waits_ms[i]);
        }
    }
    std::sort(stalls.begin(), stalls.end());
    if (!stalls.empty()) {
        r.p99_stall_ms = stalls[stalls.size() * 99 / 100];
    }
    r.frames = l.frames;
    r.files = app.m_root ? app.m_root->file_count : 0;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TREE [RUNS]\n", argv[0]);
        return 2;
    }
    char tmpl[] = "/tmp/spacemole-scan-bench-XXXXXX";
    if (mkdtemp(tmpl)) setenv("XDG_CONFIG_HOME", tmpl, 1);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    App::Effects fx;
    fx.volume_info = shell_ops::volume_info;
    App app(fx);
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    std::printf("load average at start: %.2f\n", load);
    std::printf("%-4s %10s %18s %22s %14s %8s %10s\n", "run", "scan_s", "longest_stall_ms",
                "of_it_not_cpu_wait_ms", "p99_stall_ms", "frames", "files");
    for (int i = 0; i < runs; ++i) {
        const Run r = one_run(app, argv[1]);
        std::printf("%-4d %10.3f %18.2f %22.2f %14.2f %8d %10lld\n", i + 1, r.scan_s,
                    r.longest_stall_ms, r.longest_own_ms, r.p99_stall_ms, r.frames,
                    static_cast<long long>(r.files));
        std::fflush(stdout);
    }
    rmdir(tmpl);
    return 0;
}
