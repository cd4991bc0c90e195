// Cost of one guard answer, asked once per marked item and by the status bar
// for the selected item: a deletable file in the home, a protected system
// path, and a file reached through a linked folder. Prints ns per answer.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "deletion_guard.h"
#include "mounts.h"

namespace {

std::string home() {
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/tmp";
}

void BM_HomeFile(benchmark::State& state) {
    const std::string path = home() + "/Documents/report-that-does-not-exist.pdf";
    for (auto _ : state)
        benchmark::DoNotOptimize(deletion_guard::reason_key(path));
}
BENCHMARK(BM_HomeFile);

void BM_SystemPath(benchmark::State& state) {
    const std::string path = "/usr/share/doc";
    for (auto _ : state)
        benchmark::DoNotOptimize(deletion_guard::reason_key(path));
}
BENCHMARK(BM_SystemPath);

void BM_ThroughLinkedFolder(benchmark::State& state) {
    char tmpl[] = "/tmp/spacemole-bench-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    const std::string link = dir + "/root";
    (void)!::symlink("/", link.c_str());
    const std::string path = link + "/etc/hostname";
    for (auto _ : state)
        benchmark::DoNotOptimize(deletion_guard::reason_key(path));
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_ThroughLinkedFolder);

void BM_RefreshUnchanged(benchmark::State& state) {
    mounts::refresh();
    for (auto _ : state)
        benchmark::DoNotOptimize(mounts::refresh());
    state.counters["rows"] = static_cast<double>(mounts::all().size());
}
BENCHMARK(BM_RefreshUnchanged);

} // namespace

BENCHMARK_MAIN();
