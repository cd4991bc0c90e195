// The parallel scan: its options and the progress it reports while running.
//
// ScanProgress is shared by the scan's worker threads (writers) and the
// interface's poll timer (reader); every member function is safe from any
// thread. Workers touch it once per folder, never per file.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "file_node.h"

class ScanProgress {
public:
    struct Snapshot {
        std::int64_t bytes = 0;
        std::int64_t files = 0;
        std::string current;
    };

    ScanProgress() = default;
    ScanProgress(const ScanProgress&) = delete;
    ScanProgress& operator=(const ScanProgress&) = delete;

    void add(std::int64_t bytes, std::int64_t files) {
        std::lock_guard lock(m_mutex);
        m_bytes += bytes;
        m_files += files;
    }
    void add_denied() { m_denied.fetch_add(1, std::memory_order_relaxed); }
    void add_skipped() { m_skipped.fetch_add(1, std::memory_order_relaxed); }
    void set_current(std::string path) {
        std::lock_guard lock(m_mutex);
        m_current = std::move(path);
    }
    void cancel() { m_cancelled.store(true, std::memory_order_release); }
    bool is_cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    int denied_count() const { return m_denied.load(std::memory_order_relaxed); }
    int skipped_count() const { return m_skipped.load(std::memory_order_relaxed); }

    Snapshot snapshot() const {
        std::lock_guard lock(m_mutex);
        return Snapshot{m_bytes, m_files, m_current};
    }

private:
    mutable std::mutex m_mutex;
    std::int64_t m_bytes = 0;
    std::int64_t m_files = 0;
    std::string m_current;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_denied{0};
    std::atomic<int> m_skipped{0};
};

namespace scanner {

struct Options {
    bool dedupe_hard_links = true; // count a file with several names once
    bool one_filesystem = false;   // do not cross into other mounted file systems
};

} // namespace scanner
