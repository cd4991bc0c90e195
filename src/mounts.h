// The kernel's mount table: which mounted file system holds a path, what kind
// it is, and which mounts are worth offering as scan roots.
//
// The table is read from /proc/self/mountinfo on first use and read again
// only when refresh() finds that the kernel flagged a change. Each version is
// an immutable snapshot that is never freed, so a pointer returned by
// for_path() stays valid for the life of the process and every function may
// be called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mounts {

struct Mount {
    std::string point;   // octal escapes decoded
    std::string fs_type; // as the table gives it
    std::string source;  // octal escapes decoded
    bool read_only = false;
};

using Table = std::vector<Mount>;

// The current snapshot (empty when the table cannot be read).
const Table& all();

// Re-reads the table when the kernel reports that it changed since the last
// read, or when the process moved to another mount namespace (cheap when
// nothing changed: one stat and one poll). Call at the start of each scan and
// of each deletion batch. Returns true when a new snapshot was published.
bool refresh();

// The mount holding `path` (a display path), or null. See for_path_in.
const Mount* for_path(std::string_view path);

bool is_pseudo_fs(std::string_view type);
bool is_risky_fs(std::string_view type); // network and user-space (fuse*) file systems
bool is_image_fs(std::string_view type);

// Mounts worth offering as scan roots, in table order.
std::vector<Mount> scannable_roots();

// The pure rules behind the functions above.

// Rows of a mountinfo text; malformed lines are skipped.
Table parse_mountinfo(std::string_view text);
// \ooo escapes (three octal digits) become one byte; anything else is kept.
std::string unescape(std::string_view text);
// The most specific row for one spelling of a path (ties: the later row).
const Mount* lookup(const Table& table, std::string_view path);
// lookup() over the path's sandbox spellings: the most specific mount that is
// not the root wins, whichever spelling the table uses.
const Mount* for_path_in(const Table& table, std::string_view path);
std::vector<Mount> scannable_roots_of(const Table& table);

} // namespace mounts
