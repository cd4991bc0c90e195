// Cost of one frame of the window's shell (toolbar, path bar, status bar and
// the content screens) drawn by App::draw_all into a 1200 x 800 image
// surface, as the draw callback does on every repaint. No display needed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "app.h"

namespace {

constexpr int kW = 1200;
constexpr int kH = 800;

struct Canvas {
    CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH)};
    CairoPtr cr{cairo_create(surface.get())};
};

// Settings stay in a private folder, never the user's.
void private_config() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/spacemole-frame-bench-XXXXXX";
        return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
    }();
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
}

void BM_WelcomeScreen(benchmark::State& state) {
    private_config();
    App app;
    Canvas canvas;
    for (auto _ : state)
        app.draw_all(canvas.cr.get(), kW, kH);
}
BENCHMARK(BM_WelcomeScreen)->Unit(benchmark::kMicrosecond);

void BM_ScanningScreen(benchmark::State& state) {
    private_config();
    App app;
    app.m_scanning = true;
    app.m_scanned_bytes = 123456789012;
    app.m_scanned_files = 1234567;
    app.m_current_path = "/home/someone/projects/a/rather/deep/folder/with/many/levels/inside/it";
    app.m_scan_root = "/home/someone";
    Canvas canvas;
    for (auto _ : state)
        app.draw_all(canvas.cr.get(), kW, kH);
    app.m_scanning = false;
}
BENCHMARK(BM_ScanningScreen)->Unit(benchmark::kMicrosecond);

// A result with the path bar, the legend's region, a selection in the status
// bar and both banners: every bar of the shell around an empty content area.
void BM_ResultShell(benchmark::State& state) {
    private_config();
    App app;
    auto root = std::make_shared<FileNode>();
    root->id = FileNode::next_id();
    root->name = "music";
    root->path = "/home/someone/media/music";
    root->is_directory = true;
    root->size = 52'000'000'000;
    root->file_count = 81234;
    auto child = std::make_shared<FileNode>();
    child->id = FileNode::next_id();
    child->name = "album.flac";
    child->path = root->path + "/album.flac";
    child->size = 400'000'000;
    root->children.push_back(child);
    app.m_root = root;
    app.m_scan_root = root->path;
    app.m_selected = child;
    app.m_denied_folders = 3;
    app.m_volume_total = 500'000'000'000;
    app.m_volume_used = 320'000'000'000;
    app.m_volume_free = 180'000'000'000;
    app.m_volume_name = "/home";
    Canvas canvas;
    for (auto _ : state)
        app.draw_all(canvas.cr.get(), kW, kH);
}
BENCHMARK(BM_ResultShell)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
