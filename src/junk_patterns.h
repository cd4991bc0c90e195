// Which entries are likely junk: caches, package caches, trash, temporary and
// build output.
//
// A pure function of the entry's name and display path, called by every scan
// worker for every entry; it allocates nothing.
#pragma once

#include <cstddef>
#include <string_view>

namespace junk {

// True when the entry is junk: its name is a well-known cache or build folder
// name, or its path (with "/" appended) lies in a cache, trash or temporary
// location. Flatpak and snap application folders count only inside a cache
// sub-folder.
bool is_junk(std::string_view name, std::string_view path);

// The same answer for the many entries of one folder without rereading the
// folder's path for each: the part of the path every entry shares is read
// once, so the cost per entry does not grow with depth.
struct PathState {
    static constexpr std::size_t npos = std::string_view::npos;
    std::size_t resume = 0; // slashes before this offset are read
    std::size_t app_end = npos;
    std::size_t last_cache = npos;
    bool plain = false; // a cache, trash or temporary location: all below is junk
};

// `prefix` is the folder's path with its separator ("/a/b/", or "/"); the
// state of its parent's prefix, when given, is extended rather than redone.
PathState folder_state(std::string_view prefix, const PathState* parent = nullptr);
// `path` is `prefix` followed by `name`.
bool is_junk(std::string_view name, std::string_view path, const PathState& folder);

} // namespace junk
