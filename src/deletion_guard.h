// Which paths may never be marked, trashed or deleted.
//
// Asked before an item is marked for deletion and again by the trash and
// delete operations just before each item is touched. A null reason means the
// path may be deleted; anything the guard cannot judge (empty or relative
// paths) is protected. Safe from any thread; the protected tables are built
// once per process.
#pragma once

#include <string>

namespace deletion_guard {

// Null when `path` may be deleted, else one of the catalogue keys
// "Protected system location", "Read-only location",
// "Another user's home directory" (constant strings; translate to show).
const char* reason_key(const std::string& path);

bool is_protected(const std::string& path);

} // namespace deletion_guard
