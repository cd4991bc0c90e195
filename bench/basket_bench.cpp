// The delete list's work on the interface thread, on a tree of a million
// entries: the in-place update after removing 1,000 scattered items, and
// "Add all junk" with the reclaimable total (guard verdicts cold, and cached
// per node as the App keeps them). Prints time per call.
//
// SPACEMOLE_BENCH_TREE=DIR scans DIR (for example a tree from
// bench/make_tree.py DIR 1000000 1) and uses it as the home folder; without
// it an in-memory tree of the same shape as that scan result is built.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "deletion_guard.h"
#include "file_node.h"
#include "reclaimable.h"
#include "scanner.h"
#include "tree_edit.h"

namespace {

// Roughly the finished tree of a 1,000,000-entry scan: 111,000 folders and
// 88,000 kept files and "Small files" nodes, 3 % junk folders, depth <= 8.
FileNodePtr synth(std::mt19937_64& rng, const std::string& path, const std::string& name, int depth,
                  std::size_t& budget, bool junk) {
    auto dir = std::make_shared<FileNode>();
    dir->id = FileNode::next_id();
    dir->name = name;
    dir->path = path;
    dir->is_directory = true;
    dir->is_junk = junk;
    dir->size = 4096;
    const int files = static_cast<int>(rng() % 3);
    for (int i = 0; i < files; ++i) {
        auto f = std::make_shared<FileNode>();
        f->id = FileNode::next_id();
        f->name = "file" + std::to_string(i);
        f->path = path + "/" + f->name;
        f->size = static_cast<std::int64_t>(4096 + rng() % 50000000);
        f->file_count = static_cast<std::int64_t>(1 + rng() % 9);
        f->is_junk = junk;
        f->seal();
        dir->children.push_back(std::move(f));
    }
    // Wide near the top, narrowing below, as home folders are.
    constexpr int kFan[] = {40, 20, 8, 4, 3, 2, 2, 1, 0};
    const int fan = budget == 0 ? 0 : static_cast<int>(rng() % (2 * kFan[depth] + 1));
    for (int i = 0; i < fan && budget > 0; ++i) {
        --budget;
        const bool j = junk || rng() % 100 < 3;
        const std::string child =
            j && !junk ? "node_modules" + std::to_string(i) : "d" + std::to_string(i);
        dir->children.push_back(synth(rng, path + "/" + child, child, depth + 1, budget, j));
    }
    for (const auto& c : dir->children) {
        dir->size += c->size;
        dir->file_count += c->file_count;
    }
    std::stable_sort(dir->children.begin(), dir->children.end(),
                     [](const FileNodePtr& a, const FileNodePtr& b) { return a->size > b->size; });
    dir->seal();
    return dir;
}

struct Fixture {
    FileNodePtr root;
    std::string home;
    std::vector<std::string> scattered; // 1,000 non-nested paths
    std::size_t nodes = 0;

    Fixture() {
        if (const char* dir = std::getenv("SPACEMOLE_BENCH_TREE")) {
            ScanProgress progress;
            root = scanner::scan(dir, progress, {});
            home = dir;
        } else {
            std::mt19937_64 rng(1);
            std::size_t budget = 111000;
            home = "/home/bench";
            root = synth(rng, home, "bench", 0, budget, false);
        }
        std::vector<FileNodePtr> all;
        std::vector<FileNodePtr> stack{root};
        while (!stack.empty()) {
            FileNodePtr n = stack.back();
            stack.pop_back();
            all.push_back(n);
            for (const auto& c : n->children)
                stack.push_back(c);
        }
        nodes = all.size();
        std::mt19937_64 rng(2);
        std::shuffle(all.begin(), all.end(), rng);
        std::vector<FileNodePtr> picked;
        for (const auto& n : all) {
            if (n == root || n->is_aggregate) continue;
            picked.push_back(n);
            if (picked.size() == 1000) break;
        }
        std::vector<FileNodePtr> list;
        tree_edit::add_outermost(list, picked);
        for (const auto& n : list)
            scattered.push_back(n->path);
        std::fprintf(stderr, "tree: %zu nodes, %zu removed paths\n", nodes, scattered.size());
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_InPlaceUpdate(benchmark::State& state) {
    Fixture& f = fixture();
    std::unordered_map<std::uint64_t, bool> verdicts; // the App's cache, warm
    const auto cached = [&](const FileNode& n) {
        auto [it, fresh] = verdicts.try_emplace(n.id, false);
        if (fresh) it->second = !deletion_guard::is_protected(n.path);
        return it->second;
    };
    reclaimable::collect(f.root, f.home, cached);
    for (auto _ : state) {
        // What the completion handler does: rebuild, follow the zoom, recount.
        FileNodePtr edited = tree_edit::without(f.root, f.scattered);
        auto stack = tree_edit::follow(edited, {});
        const auto total = reclaimable::total(reclaimable::collect(edited, f.home, cached));
        benchmark::DoNotOptimize(total);
        benchmark::DoNotOptimize(stack.data());
        // The App hands the replaced nodes to its reaper thread: not timed.
        state.PauseTiming();
        edited.reset();
        state.ResumeTiming();
    }
    state.counters["removed"] = static_cast<double>(f.scattered.size());
}
BENCHMARK(BM_InPlaceUpdate)->Unit(benchmark::kMillisecond);

void BM_WithoutOnly(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        FileNodePtr edited = tree_edit::without(f.root, f.scattered);
        benchmark::DoNotOptimize(edited.get());
        state.PauseTiming();
        edited.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WithoutOnly)->Unit(benchmark::kMillisecond);

// "Add all junk" on an empty list plus the total; arg 1: verdicts cached.
void BM_AddAllJunk(benchmark::State& state) {
    Fixture& f = fixture();
    const bool warm = state.range(0) == 1;
    std::unordered_map<std::uint64_t, bool> verdicts;
    std::size_t listed = 0;
    for (auto _ : state) {
        if (!warm) verdicts.clear();
        const auto cached = [&](const FileNode& n) {
            auto [it, fresh] = verdicts.try_emplace(n.id, false);
            if (fresh) it->second = !deletion_guard::is_protected(n.path);
            return it->second;
        };
        const auto items = reclaimable::collect(f.root, f.home, cached);
        std::vector<FileNodePtr> list;
        listed = tree_edit::add_outermost(list, items);
        benchmark::DoNotOptimize(reclaimable::total(items));
    }
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_AddAllJunk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
