// The floor for the scanner: two threads sharing one FIFO of folder paths,
// each folder read with open + fdopendir + fstatat, sizes summed, no tree
// kept. Prints occupied bytes (every name counted) and entries.
//
// Build: g++ -O2 -std=c++20 -pthread bench/bare_walk.cpp -o bare_walk
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
std::deque<std::string> g_queue;
int g_active = 0;
bool g_done = false;
std::atomic<long long> g_bytes{0};
std::atomic<long long> g_entries{0};

void walk_one(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    long long bytes = 0;
    long long entries = 0;
    std::vector<std::string> subdirs;
    while (const dirent* e = readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        struct stat st;
        if (fstatat(dirfd(dir), n, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        bytes += static_cast<long long>(st.st_blocks) * 512;
        ++entries;
        if (S_ISDIR(st.st_mode)) subdirs.push_back(path + "/" + n);
    }
    closedir(dir);
    g_bytes += bytes;
    g_entries += entries;
    if (!subdirs.empty()) {
        std::lock_guard lock(g_mutex);
        for (auto& s : subdirs)
            g_queue.push_back(std::move(s));
    }
    g_cv.notify_all();
}

void worker() {
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(g_mutex);
            g_cv.wait(lock, [] { return !g_queue.empty() || g_done; });
            if (g_queue.empty()) return;
            path = std::move(g_queue.front());
            g_queue.pop_front();
            ++g_active;
        }
        walk_one(path);
        std::lock_guard lock(g_mutex);
        if (--g_active == 0 && g_queue.empty()) {
            g_done = true;
            g_cv.notify_all();
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_walk PATH\n");
        return 2;
    }
    struct stat st;
    if (stat(argv[1], &st) != 0) return 1;
    g_bytes = static_cast<long long>(st.st_blocks) * 512;
    g_queue.emplace_back(argv[1]);
    std::thread helper(worker);
    worker();
    helper.join();
    std::printf("%lld bytes, %lld entries\n", g_bytes.load(), g_entries.load());
    return 0;
}
