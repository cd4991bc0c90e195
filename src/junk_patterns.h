// Which entries are likely junk: caches, package caches, trash, temporary and
// build output.
//
// A pure function of the entry's name and display path, called by every scan
// worker for every entry; it allocates nothing.
#pragma once

#include <string_view>

namespace junk {

// True when the entry is junk: its name is a well-known cache or build folder
// name, or its path (with "/" appended) lies in a cache, trash or temporary
// location. Flatpak and snap application folders count only inside a cache
// sub-folder.
bool is_junk(std::string_view name, std::string_view path);

} // namespace junk
