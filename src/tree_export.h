// Writing a scan as JSON: string escaping for reports and the widely used
// disk-usage export format (major version 1, minor 2), entry by entry.
//
// The export describes the file system as listed, not the folded tree the
// window shows: every name (empty files, pipes, sockets, devices, links and
// every name of a hard-linked file included) with its apparent length
// ("asize"), its allocated bytes ("dsize") and, for multiply-linked files,
// "ino", "nlink" and "hlnkc" so a reader counts it once. Listings reaches
// the exporter through a Recorder passed to the scan as its entry sink.
//
// A Recorder is filled by the walker threads (it locks) and read after the
// scan by one thread. A false result of write_export means the stream
// reported an error; save_export returns the reason, or "" on success.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scanner.h"

namespace tree_export {

inline constexpr std::string_view kProgramName = "spacemole";
inline constexpr std::string_view kProgramVersion = SPACEMOLE_VERSION;

// Appends `text` as a quoted JSON string: quotes, backslashes and control
// characters escaped; bytes that are not well-formed UTF-8 (surrogates and
// overlong forms included) become U+FFFD first.
void append_json_string(std::string& out, std::string_view text);
std::string json_string(std::string_view text);

// Every folder listing of one scan, kept until the export is written.
class Recorder : public scanner::EntrySink {
public:
    void folder_listed(std::uint64_t dev, std::uint64_t ino,
                       std::span<const scanner::ListedEntry> entries, bool read_error) override;

    struct Entry {
        std::uint32_t name_off = 0;
        std::uint32_t name_len = 0;
        std::uint32_t mode = 0;
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
        std::uint64_t nlink = 0;
        std::int64_t apparent_size = 0;
        std::int64_t blocks = 0;
        std::int64_t mtime = 0;
    };
    struct Listing {
        std::string names; // back to back
        std::vector<Entry> entries;
        bool read_error = false;
    };

    // The next unwritten listing of the folder (dev, ino), or null. A folder
    // reached twice (a bind mount) was listed twice; each call takes one.
    const Listing* take(std::uint64_t dev, std::uint64_t ino);

private:
    struct Key {
        std::uint64_t dev;
        std::uint64_t ino;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            return static_cast<std::size_t>(k.dev * 1099511628211ULL ^ k.ino);
        }
    };
    struct Slot {
        std::vector<Listing> listings;
        std::size_t taken = 0;
    };
    std::mutex m_mutex;
    std::unordered_map<Key, Slot, KeyHash> m_folders;
};

// Writes [1,2,{header},ROOT] for a scan of `root` (the path as scanned) whose
// listings `recorded` holds. A folder is an array whose first element is its
// info object, followed by its entries; everything else is an object. The
// root's "name" is its path; a folder's sizes are its own, not the sum below.
bool write_export(std::FILE* out, const std::string& root, Recorder& recorded,
                  std::int64_t timestamp);

// Runs `write` on a temporary sibling of `path` and renames it over `path`
// only after a complete write flushed to the disk, so a failure (a full disk)
// leaves the old file as it was. "" on success, else a one-line reason.
std::string save_export(const std::string& path, const std::function<bool(std::FILE*)>& write);

} // namespace tree_export
