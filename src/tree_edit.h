// The scanned tree after a deletion, without a rescan.
//
// Nodes are immutable, so removing entries means building new folders on the
// paths from the root down to the removed entries and sharing every other
// subtree with the old tree. Pure functions over the tree: no file-system
// access, safe on any thread; the old tree stays valid for whoever still
// holds it (drawing code, a scan thread).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "file_node.h"

namespace tree_edit {

// `root` without the entries whose paths are in `removed` (exact display
// paths; paths that name nothing in the tree are ignored). Returns `root`
// itself when nothing was removed, and an empty pointer when the root itself
// is among the removed paths.
//
// A rebuilt folder keeps its own blocks (its size drops by exactly what left
// below it), keeps its id, name, path, dates and flags, has its children
// re-sorted largest first (stable, so equal sizes keep their order) and its
// dominant category and reclaimable bytes recomputed. Its modification time
// is never lowered. Cost: the folders on the paths to the removed entries
// plus their direct children.
FileNodePtr without(const FileNodePtr& root, const std::vector<std::string>& removed);

// The inverse of `without`: `root` with `nodes` (entries taken out earlier,
// still held) put back into the folders whose paths are their parent paths.
// A node whose parent folder is not in the tree, or whose path is already
// taken, is skipped; a node whose parent is another of `nodes` goes in with
// it. Folders on the way are rebuilt as `without` rebuilds them (own blocks,
// ids, dates never lowered, children re-sorted largest first, category and
// reclaimable bytes recomputed). Returns `root` itself when nothing went in.
FileNodePtr with(const FileNodePtr& root, const std::vector<FileNodePtr>& nodes);

// The zoom stack `old_stack` (folders below the old root, outermost first)
// followed in `new_root` by path: the same folders as they are in the new
// tree, up to the deepest one that still exists.
std::vector<FileNodePtr> follow(const FileNodePtr& new_root,
                                const std::vector<FileNodePtr>& old_stack);

// Appends `items` to the delete list `list` by the rules of adding one item:
// an item already listed (same id) or lying inside a listed item is skipped,
// and listed items lying inside a new item give way to it, so no listed path
// is ever inside another and no byte is counted twice. Returns how many
// items were appended. Cost: the path depth times the number of items.
std::size_t add_outermost(std::vector<FileNodePtr>& list, const std::vector<FileNodePtr>& items);

// The node of `root`'s tree whose path is `path`, or empty.
FileNodePtr find(const FileNodePtr& root, const std::string& path);

} // namespace tree_edit
