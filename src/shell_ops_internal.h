// Helpers shared by the trash and restore sources of shell_ops, not part of
// its interface. They pin folders down by descriptor so that a folder swapped
// for a symbolic link between a check and a use cannot redirect a move, and
// they never replace an existing entry. Safe on any thread; every failure is
// returned as a value with errno set where noted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "shell_ops.h"
#include "unique_fd.h"

namespace shell_ops::internal {

inline constexpr std::string_view kRecordSuffix = ".trashinfo";

// Where catalogue keys become shown (translated) text.
std::string shown(const char* key);
std::string shown(TrashMessage message);

// The system's own text for an errno value (not translated).
std::string system_error_text(int err);

bool same_file(const struct stat& a, const struct stat& b);

// realpath(3) of `path`; nothing when it cannot be resolved (errno set).
std::optional<std::string> real_path_of(const std::string& path);

// Opens an absolute folder (O_PATH) one component at a time, refusing any
// symbolic link on the way. Empty on failure, errno set (ELOOP for a link).
UniqueFd open_dir_no_links(const std::string& path);

// The real location of an open descriptor, as the kernel sees it.
std::optional<std::string> path_of_fd(int fd);

// renameat2 with RENAME_NOREPLACE; where the file system cannot refuse a
// replacement, a look first (a small window). EEXIST when `to` is taken.
int rename_no_replace(int from_dir, const char* from, int to_dir, const char* to);

} // namespace shell_ops::internal
