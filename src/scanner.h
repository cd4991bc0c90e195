// The parallel scan: its options, the progress it reports while running and
// the walk itself.
//
// ScanProgress is shared by the scan's worker threads (writers) and the
// interface's poll timer (reader); every member function is safe from any
// thread. Workers touch it once per folder, never per file.
//
// scanner::scan blocks its caller, which walks too, with Options::threads - 1
// (by default worker_count() - 1) helper threads that it joins before
// returning. It never fails: a root that cannot be examined comes back as a
// single leaf of size 0, unreadable folders (including ones that can be
// listed but not searched) as empty folders flagged is_denied. Mounts not
// entered, and folders that lead back to one of their own ancestors through
// a bind mount, come back skipped (is_denied and is_timeout). After cancel()
// it returns promptly with the part of the tree read so far. The returned
// tree is sealed and immutable; the caller owns it. The cost per folder does
// not grow with its depth.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

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

// One name as a folder listing returned it, before the tree folds or drops it.
struct ListedEntry {
    std::string_view name; // raw bytes, not necessarily UTF-8
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint64_t nlink = 0;
    std::uint32_t mode = 0;
    std::int64_t apparent_size = 0; // st_size
    std::int64_t blocks = 0;        // allocated 512-byte blocks
    std::int64_t mtime = 0;
};

// Receives every folder the walk opens, for exporters that describe the file
// system entry by entry. Called from the walker threads, concurrently, once
// per folder: its identity as listed in its parent (dev, ino), its entries in
// listing order (views valid during the call only) and `read_error` when it
// could not be opened or read in full. Folders not entered get no call.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    virtual void folder_listed(std::uint64_t dev, std::uint64_t ino,
                               std::span<const ListedEntry> entries, bool read_error) = 0;
};

struct Options {
    bool dedupe_hard_links = true;   // count a file with several names once
    bool one_filesystem = false;     // do not cross into other mounted file systems
    int threads = 0;                 // walkers, the caller's included; 0: worker_count()
    EntrySink* entry_sink = nullptr; // not owned; null costs the walk nothing
};

// Facts about kept leaves that the tree itself does not carry, for exporters.
struct LeafFacts {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool multiply_linked = false; // more than one hard link
    bool not_regular = false;     // symbolic link, device, socket or pipe
};

// Optional side output of a scan: facts keyed by FileNode::id, recorded only
// for leaves that are multiply linked or not regular files.
struct ScanDetails {
    std::unordered_map<std::uint64_t, LeafFacts> leaves;
};

// Walks `root` (a display path) and returns the finished tree, never null.
FileNodePtr scan(const std::string& root, ScanProgress& progress, Options options = {},
                 ScanDetails* details = nullptr);

// Builds a tree from entries described outside the walk (a saved scan) by the
// walk's own rules: multiply-linked files counted once per (dev, ino) when
// de-duplicating, small files folded, entries without blocks dropped,
// children largest first, every node sealed. Folders open and close in
// nesting order; leaves go into the innermost open folder. One thread.
class TreeBuilder {
public:
    struct Folder {
        std::string name; // display name, valid UTF-8
        std::string path; // display path
        std::int64_t own_size = 0;
        std::int64_t modified = 0;
        bool is_junk = false;
        bool denied = false;  // contents incomplete
        bool skipped = false; // not entered: no contents at all
        bool read_only = false;
        bool repaired = false; // this name or one above was repaired
    };
    struct Leaf {
        std::string_view name; // display name, valid UTF-8
        std::int64_t size = 0; // occupied bytes; 0 or less: dropped
        std::int64_t modified = 0;
        FileCategory category = FileCategory::Other;
        bool is_junk = false;
        bool repaired = false;
        bool linked = false; // (dev, ino) names a multiply-linked file
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
    };

    explicit TreeBuilder(bool dedupe_hard_links);
    ~TreeBuilder();
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    void open_folder(Folder folder);
    void add_leaf(const Leaf& leaf); // ignored when no folder is open
    void close_folder();
    std::size_t depth() const; // folders open
    // The root once it is closed, else null.
    FileNodePtr finish();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Threads that walk, the caller's included, for `hardware` reported cores.
int worker_count_for(unsigned hardware);
int worker_count();
// Reported cores, at least 2.
int total_core_count();

// The root as it is scanned: trailing slashes dropped, "" and "/" give "/".
std::string normalize_root(std::string_view root);

// Leaves of at most this many occupied bytes are folded into "Small files".
inline constexpr std::int64_t kSmallFileLimit = 262143;

} // namespace scanner
