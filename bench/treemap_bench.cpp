// Cost of laying out one folder's children in a 1200 x 800 map, the work the
// interface thread does whenever the folder or the window size changes, and
// of colouring one tile. Prints time per call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "file_node.h"
#include "tile_color.h"
#include "treemap.h"

namespace {

// Heavy-tailed sizes, created in scan order and then sorted largest first as
// the scanner hands them over, so neighbours in the list are not neighbours
// in memory.
std::vector<FileNodePtr> make_children(std::size_t n) {
    std::mt19937_64 rng(7);
    std::lognormal_distribution<double> size(9.0, 3.0);
    std::vector<FileNodePtr> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto node = std::make_shared<FileNode>();
        node->id = FileNode::next_id();
        node->name = "file" + std::to_string(i);
        node->size = static_cast<std::int64_t>(std::min(size(rng), 1e15));
        node->file_count = 1;
        node->modified = 1700000000 - static_cast<std::int64_t>(rng() % 100000000);
        out.push_back(std::move(node));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const FileNodePtr& a, const FileNodePtr& b) { return a->size > b->size; });
    return out;
}

std::string label(std::uint64_t n) {
    return std::to_string(n) + " more items";
}

void BM_Layout(benchmark::State& state) {
    const auto children = make_children(static_cast<std::size_t>(state.range(0)));
    const RectF map{0.0f, 0.0f, 1200.0f, 800.0f};
    const treemap::FoldLabel fold_label = label;
    std::size_t tiles = 0;
    for (auto _ : state) {
        auto out = treemap::layout(children, map, fold_label);
        tiles = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["tiles"] = static_cast<double>(tiles);
}
BENCHMARK(BM_Layout)->Arg(10)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_TileColor(benchmark::State& state) {
    const auto children = make_children(4096);
    const auto mode = static_cast<ColorMode>(state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        const FileNode& node = *children[i & 4095];
        benchmark::DoNotOptimize(tile_color::color(node, mode, 1700000000, (i & 255) / 255.0));
        ++i;
    }
}
BENCHMARK(BM_TileColor)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
