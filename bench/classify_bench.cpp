// Cost of classifying one scanned entry (category + junk), the work every scan
// worker does for every file. Prints ns per entry.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "file_category.h"
#include "junk_patterns.h"

namespace {

struct Entry {
    std::string name;
    std::string path;
    mode_t mode;
};

// A mix resembling a home folder: sources, media, caches, libraries, dotfiles.
std::vector<Entry> make_entries() {
    const char* folders[] = {
        "/home/anna/Projects/spacemole/src",
        "/home/anna/Projects/web/node_modules/react/cjs",
        "/home/anna/.cache/mozilla/firefox/abcd.default/cache2/entries",
        "/home/anna/Pictures/2024/Holiday",
        "/home/anna/Music/Albums/Some Artist",
        "/home/anna/.var/app/org.example.Browser/config/profile",
        "/home/anna/snap/editor/common/.cache/fontconfig",
        "/usr/lib/x86_64-linux-gnu",
        "/home/anna/Documents/Taxes/2025",
        "/home/anna/.local/share/Trash/files/old",
        "/var/lib/apt/lists",
        "/home/anna/go/pkg/mod/github.com/some/module@v1.2.3",
    };
    const char* names[] = {
        "main.cpp",   "index.js", "IMG_2041.JPG", "track01.flac", "libssl.so.3",
        "README",     "Makefile", "report.pdf",   "data.sqlite3", "cache.db",
        "a1b2c3d4e5", ".bashrc",  "video.MP4",    "notes.txt",    "package.json",
        "libz.so",    "core",     "build.ninja",  "photo.heic",   "thesis.tex",
    };
    std::vector<Entry> out;
    std::mt19937 rng(42);
    for (int i = 0; i < 20000; ++i) {
        const std::string folder = folders[rng() % std::size(folders)];
        const std::string name = names[rng() % std::size(names)];
        const mode_t mode = (rng() % 10 == 0) ? (S_IFREG | 0755) : (S_IFREG | 0644);
        out.push_back({name, folder + "/" + name, mode});
    }
    return out;
}

void BM_ClassifyEntry(benchmark::State& state) {
    const auto entries = make_entries();
    std::size_t i = 0;
    for (auto _ : state) {
        const Entry& e = entries[i];
        benchmark::DoNotOptimize(category::classify_file(e.name, e.mode));
        benchmark::DoNotOptimize(junk::is_junk(e.name, e.path));
        if (++i == entries.size()) i = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ClassifyEntry);

void BM_CategoryOnly(benchmark::State& state) {
    const auto entries = make_entries();
    std::size_t i = 0;
    for (auto _ : state) {
        const Entry& e = entries[i];
        benchmark::DoNotOptimize(category::classify_file(e.name, e.mode));
        if (++i == entries.size()) i = 0;
    }
}
BENCHMARK(BM_CategoryOnly);

void BM_JunkOnly(benchmark::State& state) {
    const auto entries = make_entries();
    std::size_t i = 0;
    for (auto _ : state) {
        const Entry& e = entries[i];
        benchmark::DoNotOptimize(junk::is_junk(e.name, e.path));
        if (++i == entries.size()) i = 0;
    }
}
BENCHMARK(BM_JunkOnly);

} // namespace

BENCHMARK_MAIN();
