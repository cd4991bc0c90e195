// Overlay mounts for mount-table tests: a file system whose type is neither
// tmpfs nor a pseudo type and whose source name is chosen freely (the kernel
// ignores it), so the scannable-root rules for devices can be exercised
// without block devices. Call only inside a private mount namespace.
#pragma once

#include <string>

namespace testing_support {

// Mounts an overlay at `point` with lower, upper and work folders created
// under `scratch`; the table shows `source` as its source. False on failure
// (errno set).
bool mount_overlay(const std::string& scratch, const std::string& point, const std::string& source);

} // namespace testing_support
