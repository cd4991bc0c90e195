// Frames of the map and tree views over a scanned tree, drawn by
// App::draw_all into a 1200 x 800 image surface as the draw callback does:
//   repaint   a hover or selection change over the cached treemap picture;
//   zoom      entering a folder: layout, picture and first frame;
//   scroll    a tree-table frame with the folder's rows expanded;
// and, with --memory, the peak resident size after the scan and one frame of
// each view (compare with `/usr/bin/time -v spacemole-scan TREE`).
//
//   app_views_bench TREE WIDE [ROUNDS]
//   app_views_bench --memory TREE
//
// WIDE is a folder inside TREE with many children (the zoom target, and the
// folder whose rows are expanded). Plain figures, median and 90th percentile
// in milliseconds; nothing is asserted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "app.h"

namespace {

constexpr int kW = 1200;
constexpr int kH = 800;

using Clock = std::chrono::steady_clock;

struct Canvas {
    CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH)};
    CairoPtr cr{cairo_create(surface.get())};
};

void private_config() {
    char tmpl[] = "/tmp/spacemole-views-bench-XXXXXX";
    static std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
}

bool scan(App& app, const std::string& path) {
    app.start_scan(path);
    while (app.m_scanning)
        g_main_context_iteration(nullptr, TRUE);
    return app.m_root != nullptr;
}

// CPU time of this thread: on a loaded machine it says what a frame costs,
// where wall time also counts the waits for a core.
double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::vector<double> g_cpu; // CPU milliseconds of the frames since the last report

double draw_ms(App& app, Canvas& c) {
    const double c0 = cpu_ms();
    const auto t0 = Clock::now();
    app.draw_all(c.cr.get(), kW, kH);
    cairo_surface_flush(c.surface.get());
    g_cpu.push_back(cpu_ms() - c0);
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void report(const char* what, std::vector<double> ms) {
    const auto summary = [](std::vector<double>& v, double q) {
        std::sort(v.begin(), v.end());
        return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
    };
    std::printf("%-40s wall median %6.2f p90 %6.2f | cpu median %6.2f p90 %6.2f ms (%zu)\n", what,
                summary(ms, 0.5), summary(ms, 0.9), summary(g_cpu, 0.5), summary(g_cpu, 0.9),
                ms.size());
    g_cpu.clear();
}

FileNodePtr find(const FileNodePtr& root, const std::string& path) {
    FileNodePtr n = root;
    while (n && n->path != path) {
        FileNodePtr next;
        for (const FileNodePtr& c : n->children)
            if (c->is_directory && path.compare(0, c->path.size() + 1, c->path + "/") == 0)
                next = c;
            else if (c->path == path)
                next = c;
        n = next;
    }
    return n;
}

long peak_kib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int memory(const std::string& tree) {
    App app;
    Canvas canvas;
    if (!scan(app, tree)) return 1;
    draw_ms(app, canvas);
    app.set_view_mode(ViewMode::Tree);
    draw_ms(app, canvas);
    std::printf("peak RSS after scan and one frame of each view: %.1f MiB\n", peak_kib() / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    private_config();
    if (argc >= 3 && std::string(argv[1]) == "--memory") return memory(argv[2]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_views_bench TREE WIDE [ROUNDS] | --memory TREE\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(std::atoi(argv[3]), 1) : 30;
    App app;
    Canvas canvas;
    const auto t0 = Clock::now();
    if (!scan(app, argv[1])) return 1;
    std::printf("scan %.2f s, %lld files\n",
                std::chrono::duration<double>(Clock::now() - t0).count(),
                static_cast<long long>(app.m_root->file_count));
    const FileNodePtr wide = find(app.m_root, argv[2]);
    if (!wide || !wide->can_enter()) {
        std::fprintf(stderr, "%s is not a folder of the tree\n", argv[2]);
        return 1;
    }
    std::printf("%s: %zu children\n", argv[2], wide->children.size());

    // Repaint: the pointer moves from tile to tile, the selection follows.
    draw_ms(app, canvas);
    g_cpu.clear();
    std::vector<double> ms;
    for (int i = 0; i < rounds * 4; ++i) {
        const TreemapTile& t = app.m_tiles[static_cast<std::size_t>(i) % app.m_tiles.size()];
        app.on_motion(t.rect.mid_x(), t.rect.mid_y());
        if (i % 2) app.select(t.node);
        ms.push_back(draw_ms(app, canvas));
    }
    report("map repaint from the cached picture", ms);

    // Zoom: every round enters the wide folder from the root afresh.
    ms.clear();
    for (int i = 0; i < rounds; ++i) {
        app.zoom_to(-1);
        draw_ms(app, canvas);
        g_cpu.pop_back();
        const double c0 = cpu_ms();
        const auto z0 = Clock::now();
        app.zoom_into(wide);
        app.draw_all(canvas.cr.get(), kW, kH);
        cairo_surface_flush(canvas.surface.get());
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - z0).count());
        g_cpu.push_back(cpu_ms() - c0);
    }
    report("zoom into the wide folder (layout+picture+frame)", ms);
    std::printf("  %zu tiles laid out\n", app.m_tiles.size());

    // Tree: the wide folder's rows expanded under its parent.
    app.zoom_to(-1);
    app.set_view_mode(ViewMode::Tree);
    for (std::size_t depth = 0; depth < 64; ++depth) {
        FileNodePtr next;
        for (const FileNodePtr& c : app.current()->children)
            if (c == wide || (c->is_directory && wide->path.rfind(c->path + "/", 0) == 0)) next = c;
        if (!next || next == wide) break;
        app.zoom_into(next);
    }
    app.toggle_expanded(wide);
    const double first = draw_ms(app, canvas);
    g_cpu.clear();
    std::printf("tree: %zu rows, first frame (flattening them) %.1f ms\n", app.m_tree_rows.size(),
                first);
    ms.clear();
    for (int i = 0; i < rounds * 4; ++i) {
        app.m_scroll += 24 * 37;
        if (app.m_scroll > app.m_content_height) app.m_scroll = 0;
        ms.push_back(draw_ms(app, canvas));
    }
    report("tree scroll frame", ms);
    return 0;
}
