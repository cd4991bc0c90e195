// How quickly a scan stops: cancel() is called at several points of a walk and
// the time until scanner::scan returns (partial tree assembled) is printed.
//
//   scan_cancel_bench [TREE]   (default: a generated 40,000-file tree)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scanner.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string make_tree() {
    char tmpl[] = "/tmp/spacemole-cancel-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return {};
    const std::string root = tmpl;
    for (int d = 0; d < 400; ++d) {
        const std::string dir = root + "/d" + std::to_string(d);
        mkdir(dir.c_str(), 0755);
        for (int f = 0; f < 100; ++f) {
            const int fd = open((dir + "/f" + std::to_string(f)).c_str(),
                                O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!write(fd, "x", 1);
                close(fd);
            }
        }
    }
    return root;
}

} // namespace

int main(int argc, char** argv) {
    std::string tree = argc > 1 ? argv[1] : "";
    const bool own_tree = tree.empty();
    if (own_tree) tree = make_tree();
    if (tree.empty()) return 1;

    {
        ScanProgress warm;
        scanner::scan(tree, warm, {}); // warm the cache
    }
    const auto start = Clock::now();
    ScanProgress full_progress;
    const auto full = scanner::scan(tree, full_progress, {});
    const double full_ms = ms(Clock::now() - start);
    std::printf("full scan: %.1f ms, %lld files\n", full_ms,
                static_cast<long long>(full->file_count));

    double worst = 0;
    for (const double fraction : {0.1, 0.3, 0.5, 0.7, 0.9}) {
        ScanProgress progress;
        Clock::time_point cancelled_at;
        std::thread canceller([&] {
            std::this_thread::sleep_for(
                std::chrono::microseconds(static_cast<long long>(full_ms * fraction * 1000.0)));
            cancelled_at = Clock::now();
            progress.cancel();
        });
        const auto root = scanner::scan(tree, progress, {});
        const auto returned = Clock::now();
        canceller.join();
        const double latency = returned > cancelled_at ? ms(returned - cancelled_at) : 0.0;
        worst = std::max(worst, latency);
        std::printf("cancel at %2.0f%%: returned %.1f ms later with %lld of %lld files\n",
                    fraction * 100, latency, static_cast<long long>(root->file_count),
                    static_cast<long long>(full->file_count));
    }
    std::printf("worst cancel latency: %.1f ms\n", worst);
    if (own_tree && std::system(("rm -rf '" + tree + "'").c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", tree.c_str());
    return 0;
}
