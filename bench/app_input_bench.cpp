// Figures of input handling: a keystroke in the search bar over a tree of
// 1,000,000 entries shown at its root, and pointer motion over the map
// (hit test and the repaint of the hovered tile with its tooltip).
//
// The tree is built in memory, every entry a node (a scan would fold small
// files, leaving the walk less to do): 20 x 20 x 20 folders holding 125
// files each, all within the search's five levels. With a folder argument
// the search runs over the App's scan of that folder instead.
//
//   app_input_bench [TREE] [benchmark options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gdk/gdkkeysyms.h>

#include "app.h"

namespace {

std::shared_ptr<FileNode> make_node(const std::string& parent, std::string name, bool dir,
                                    std::int64_t size) {
    auto n = std::make_shared<FileNode>();
    n->id = FileNode::next_id();
    n->path = parent + "/" + name;
    n->name = std::move(name);
    n->is_directory = dir;
    n->size = size;
    return n;
}

// Folders `fan` wide and `levels` deep, `files` files in each innermost one.
std::shared_ptr<FileNode> make_tree(int fan, int levels, int files, std::int64_t& counter,
                                    const std::string& path = "/bench", int depth = 0) {
    auto folder =
        make_node(path.substr(0, path.rfind('/')), path.substr(path.rfind('/') + 1), true, 0);
    if (depth == levels) {
        for (int f = 0; f < files; ++f) {
            ++counter;
            folder->children.push_back(make_node(path, "file-" + std::to_string(counter) + ".dat",
                                                 false, 4096 + (counter % 97)));
        }
    } else {
        for (int d = 0; d < fan; ++d)
            folder->children.push_back(make_tree(fan, levels, files, counter,
                                                 path + "/dir-" + std::to_string(d), depth + 1));
    }
    for (const FileNodePtr& c : folder->children)
        folder->size += c->size;
    return folder;
}

std::string g_scan_dir; // empty: the tree built in memory

std::int64_t count_nodes(const FileNode& n) {
    std::int64_t sum = 1;
    for (const FileNodePtr& c : n.children)
        sum += count_nodes(*c);
    return sum;
}

struct Fixture {
    App app;
    std::int64_t entries = 0;
    Fixture() {
        if (g_scan_dir.empty()) {
            app.m_root = make_tree(20, 3, 125, entries);
        } else {
            app.start_scan(g_scan_dir);
            while (app.m_scanning)
                g_main_context_iteration(nullptr, TRUE);
            if (app.m_root) entries = app.m_root->file_count;
            std::printf("scanned %s: %lld files, %lld nodes\n", g_scan_dir.c_str(),
                        static_cast<long long>(entries),
                        static_cast<long long>(app.m_root ? count_nodes(*app.m_root) : 0));
        }
        app.set_view_mode(ViewMode::Tree);
    }
};

Fixture& tree() {
    static Fixture f;
    return f;
}

// The first keystroke of a query: a full walk (nothing earlier to filter).
void search_first_key(benchmark::State& state, const char* query) {
    Fixture& f = tree();
    App& app = f.app;
    app.m_search_open = true;
    for (auto _ : state) {
        app.m_search_query = query;
        app.m_search_complete = false;
        app.update_search();
        benchmark::DoNotOptimize(app.m_search_hits.data());
    }
    state.counters["entries"] = static_cast<double>(f.entries);
    state.counters["hits"] = static_cast<double>(app.m_search_hits.size());
}

void BM_SearchKeyNoMatch(benchmark::State& state) {
    search_first_key(state, "zq");
}
void BM_SearchKeyFewHits(benchmark::State& state) {
    search_first_key(state, "file-77777");
}
void BM_SearchKeyManyHits(benchmark::State& state) {
    search_first_key(state, "7");
}

// Typing on: "file-7777" then "file-77777", the second filtering the first.
void BM_SearchKeyTypingOn(benchmark::State& state) {
    App& app = tree().app;
    app.m_search_open = true;
    for (auto _ : state) {
        state.PauseTiming();
        app.m_search_query = "file-7777";
        app.m_search_complete = false;
        app.update_search();
        state.ResumeTiming();
        app.on_key(GDK_KEY_7, static_cast<GdkModifierType>(0));
        benchmark::DoNotOptimize(app.m_search_hits.data());
    }
    state.counters["hits"] = static_cast<double>(app.m_search_hits.size());
}

// Pointer motion over the map of a folder of 400 children: each event moves
// between two tiles, so the hover changes and a whole frame is drawn.
void BM_PointerMotionOverMap(benchmark::State& state) {
    std::int64_t n = 0;
    App app;
    app.m_root = make_tree(400, 1, 10, n);
    app.set_view_mode(ViewMode::Map);
    CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 800));
    CairoPtr cr(cairo_create(surface.get()));
    app.draw_all(cr.get(), 1200, 800);
    const RectF a = app.m_tiles.at(0).rect;
    const RectF b = app.m_tiles.at(5).rect;
    bool flip = false;
    for (auto _ : state) {
        const RectF& r = flip ? a : b;
        flip = !flip;
        app.on_motion(r.mid_x(), r.mid_y());
        app.draw_all(cr.get(), 1200, 800);
    }
    cairo_surface_flush(surface.get());
    state.counters["targets"] = static_cast<double>(app.m_targets.size());
}

} // namespace

BENCHMARK(BM_SearchKeyNoMatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKeyFewHits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKeyManyHits)->Unit(benchmark::kMillisecond);
// Each round first repeats the untimed walk: a fixed number of rounds.
BENCHMARK(BM_SearchKeyTypingOn)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_PointerMotionOverMap)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/spacemole-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    setenv("XDG_CONFIG_HOME", tmpl, 1); // the user's settings stay untouched
    setenv("LANGUAGE", "en", 1);
    if (argc > 1 && argv[1][0] != '-') {
        g_scan_dir = argv[1];
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
