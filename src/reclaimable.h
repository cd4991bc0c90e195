// Which junk is offered for one-click removal, and how much it frees.
//
// Junk marks (junk::is_junk) say what an entry looks like wherever it lies;
// offering it for removal is narrower. Only junk inside the user's home and
// on removable media (/media, /run/media, /mnt) is reclaimable: a whole-system
// scan must never offer package caches or another user's build folders. The
// caller supplies the deletion guard's verdict, so a program can cache it per
// node and tests can pass their own. Pure functions over the immutable tree,
// safe on any thread as long as the guard callback is.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "file_node.h"

namespace reclaimable {

// True when `path` lies strictly inside `home` (when `home` is an absolute
// path) or strictly inside one of the removable-media roots.
bool in_area(std::string_view path, std::string_view home);

// Whether the guard lets this node's path be removed.
using GuardFn = std::function<bool(const FileNode&)>;

// The reclaimable items below `root`, in tree order (children in their stored
// order), never the root itself and never one inside another: a junk node of
// positive size in the area whose path allows changes and that `guard_ok`
// accepts is taken whole; any other node is searched below, as long as the
// area can lie below it (a system folder outside it is skipped whole). A junk
// folder the guard refuses only as itself (~/.cache) thus yields its contents.
// Subtrees whose sealed `reclaimable` figure is 0 hold no junk and are skipped.
std::vector<FileNodePtr> collect(const FileNodePtr& root, std::string_view home,
                                 const GuardFn& guard_ok);

// The bytes the items free together.
std::int64_t total(const std::vector<FileNodePtr>& items);

} // namespace reclaimable
