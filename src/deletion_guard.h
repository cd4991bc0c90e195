// Which paths may never be marked, trashed or deleted.
//
// Asked before an item is marked for deletion and again by the trash and
// delete operations just before each item is touched. A null reason means the
// path may be deleted; anything the guard cannot judge (empty or relative
// paths) is protected, and so is every path that holds a protected location
// (an ancestor of the home, of a protected folder or of a mount point), since
// removing it would remove what it holds. Paths are judged where the kernel
// would act: folders reached through links are resolved, the last name of a
// link is not followed. Safe from any thread; the protected tables are built
// once per process. The guard reads the current mount snapshot but does not
// refresh it: callers run mounts::refresh() at the start of each batch. Mount
// points are also recognised on disk (device differs from the parent's, or
// the kernel marks the entry as a mount root), so a fresh mount is protected
// even before the table is re-read.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "mounts.h"

namespace deletion_guard {

inline constexpr const char* kReasonSystem = "Protected system location";
inline constexpr const char* kReasonReadOnly = "Read-only location";
inline constexpr const char* kReasonOtherHome = "Another user's home directory";

// Null when `path` may be deleted, else one of the catalogue keys
// "Protected system location", "Read-only location",
// "Another user's home directory" (constant strings; translate to show).
const char* reason_key(const std::string& path);

bool is_protected(const std::string& path);

// The rules behind reason_key, with the process state passed in. Only
// classify() and resolve() touch the file system (lstat, statx, realpath).
namespace rules {

using ExactSet = std::unordered_set<std::string>;

// Runs of "/" become one, trailing "/" go (except for "/" itself); "." and
// ".." are kept. Textual only.
std::string normalize(std::string_view p);
// realpath, normalized; `p` unchanged when it cannot be resolved.
std::string resolve(const std::string& p);
// `p` equals `root` or lies below it ("/" holds everything; empty holds nothing).
bool is_inside(std::string_view p, std::string_view root);
// `p` is exactly one component below `parent`.
bool is_direct_child(std::string_view p, std::string_view parent);

// The trees protected with everything inside them.
const std::vector<std::string>& protected_trees();

// Absolute, normalized folders named by a user-dirs.dirs text: "$HOME/..."
// values become `home` + the rest, absolute values are kept, others ignored.
std::vector<std::string> parse_user_dirs(std::string_view home, std::string_view text);

// Paths protected only themselves: the fixed entries, and when `home` is
// absolute the home, its standard folders and those of `user_dirs_text`.
ExactSet exact_set_for(std::string_view home, std::string_view user_dirs_text);

struct Context {
    const mounts::Table& table;
    std::string home; // normalized; empty when unknown
    const ExactSet& exact;
    bool in_snap = false; // only the home and media folders are writable
    bool hostfs = false;  // host paths are reached under the host prefix
};

// The reason `path` may not be deleted, or null.
const char* classify(const Context& ctx, std::string_view path);

} // namespace rules

} // namespace deletion_guard
