#include "tree_edit.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tree_edit {

namespace {

// The path of the child of folder `dir` that `path` lies in or names, or
// empty when `path` is not strictly below `dir`.
std::string_view child_prefix(std::string_view dir, std::string_view path) {
    std::size_t start = 0;
    if (dir == "/") {
        if (path.size() < 2 || path[0] != '/') return {};
        start = 1;
    } else {
        if (path.size() <= dir.size() + 1 || path.compare(0, dir.size(), dir) != 0 ||
            path[dir.size()] != '/')
            return {};
        start = dir.size() + 1;
    }
    const std::size_t slash = path.find('/', start);
    return path.substr(0, slash == std::string_view::npos ? path.size() : slash);
}

// The folder above `path` ("/" above "/a"), or empty above "/".
std::string_view parent_view(std::string_view path) {
    if (path.size() <= 1) return {};
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The scanner's rule: the category holding the most bytes among the
// children, the first one met on a tie; a folder of empty children is a Folder.
FileCategory dominant(const std::vector<FileNodePtr>& children) {
    std::array<std::int64_t, static_cast<std::size_t>(FileCategory::COUNT)> sums{};
    for (const auto& c : children) {
        const auto i = static_cast<std::size_t>(c->category);
        if (c->size > 0 && i < sums.size()) sums[i] += c->size;
    }
    FileCategory best = FileCategory::Folder;
    std::int64_t best_sum = 0;
    for (std::size_t i = 0; i < sums.size(); ++i) {
        if (sums[i] > best_sum) {
            best_sum = sums[i];
            best = static_cast<FileCategory>(i);
        }
    }
    return best;
}

// A new folder in place of `node` with `kept` as its children: same id,
// name, path, dates and flags; size and counts as given (they include the
// folder's own blocks).
FileNodePtr rebuilt(const FileNode& node, std::vector<FileNodePtr> kept, std::int64_t size,
                    std::int64_t files, std::int64_t newest) {
    // Stable: children of equal size keep the order they were shown in.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const FileNodePtr& a, const FileNodePtr& b) { return a->size > b->size; });
    auto out = std::make_shared<FileNode>(node);
    out->is_directory = true;
    out->is_aggregate = false;
    out->size = size;
    out->file_count = files;
    out->modified = newest;
    out->category = dominant(kept);
    out->children = std::move(kept);
    out->seal();
    return out;
}

// `node` without the entries at `paths`, all strictly below it.
FileNodePtr edit(const FileNodePtr& node, const std::vector<std::string_view>& paths) {
    if (!node->is_directory || node->children.empty()) return node;
    std::unordered_map<std::string_view, std::vector<std::string_view>> by_child;
    for (std::string_view p : paths) {
        const std::string_view child = child_prefix(node->path, p);
        if (!child.empty()) by_child[child].push_back(p);
    }
    if (by_child.empty()) return node;

    std::vector<FileNodePtr> kept;
    kept.reserve(node->children.size());
    bool changed = false;
    std::int64_t size = node->size;
    std::int64_t files = node->file_count;
    std::int64_t newest = node->modified;
    for (const FileNodePtr& child : node->children) {
        // An aggregate borrows its folder's path: it is never addressed here.
        const auto hit = child->is_aggregate ? by_child.end() : by_child.find(child->path);
        if (hit == by_child.end()) {
            kept.push_back(child);
            continue;
        }
        const std::vector<std::string_view>& below = hit->second;
        if (std::find(below.begin(), below.end(), std::string_view(child->path)) != below.end()) {
            changed = true; // the child itself is gone
            size -= child->size;
            files -= child->file_count;
            continue;
        }
        FileNodePtr survivor = edit(child, below);
        if (survivor != child) {
            changed = true;
            size += survivor->size - child->size;
            files += survivor->file_count - child->file_count;
            newest = std::max(newest, survivor->modified);
        }
        kept.push_back(std::move(survivor));
    }
    if (!changed) return node;
    return rebuilt(*node, std::move(kept), size, files, newest);
}

// `node` with `nodes` (all strictly below it, outermost first) put in.
FileNodePtr insert(const FileNodePtr& node, const std::vector<const FileNodePtr*>& nodes) {
    if (!node->is_directory || node->is_aggregate) return node;
    // Grouped by the child each lies in or is, in the order met.
    std::vector<std::string_view> order;
    std::unordered_map<std::string_view, std::vector<const FileNodePtr*>> by_child;
    for (const FileNodePtr* n : nodes) {
        const std::string_view child = child_prefix(node->path, (*n)->path);
        if (child.empty()) continue;
        auto& group = by_child[child];
        if (group.empty()) order.push_back(child);
        group.push_back(n);
    }
    if (order.empty()) return node;

    std::vector<FileNodePtr> kept = node->children;
    bool changed = false;
    std::int64_t size = node->size;
    std::int64_t files = node->file_count;
    std::int64_t newest = node->modified;
    for (std::string_view child : order) {
        std::vector<const FileNodePtr*>& group = by_child[child];
        auto at = std::find_if(kept.begin(), kept.end(), [&](const FileNodePtr& c) {
            return !c->is_aggregate && c->path == child;
        });
        FileNodePtr before = at == kept.end() ? FileNodePtr() : *at;
        FileNodePtr after = before;
        auto first = group.begin();
        if (!before && (**first)->path == child) {
            after = **first; // goes in here; a second one of that path is skipped below
            ++first;
        }
        if (!after) continue; // its folder is not in the tree
        std::vector<const FileNodePtr*> below;
        for (auto it = first; it != group.end(); ++it)
            if ((**it)->path != child) below.push_back(*it);
        if (!below.empty()) after = insert(after, below);
        if (after == before) continue;
        changed = true;
        size += after->size - (before ? before->size : 0);
        files += after->file_count - (before ? before->file_count : 0);
        newest = std::max(newest, after->modified);
        if (before)
            *at = std::move(after);
        else
            kept.push_back(std::move(after));
    }
    if (!changed) return node;
    return rebuilt(*node, std::move(kept), size, files, newest);
}

} // namespace

FileNodePtr without(const FileNodePtr& root, const std::vector<std::string>& removed) {
    if (!root || removed.empty()) return root;
    std::vector<std::string_view> below;
    below.reserve(removed.size());
    for (const std::string& p : removed) {
        if (p == root->path) return {};
        if (!child_prefix(root->path, p).empty()) below.push_back(p);
    }
    if (below.empty()) return root;
    return edit(root, below);
}

FileNodePtr with(const FileNodePtr& root, const std::vector<FileNodePtr>& nodes) {
    if (!root || nodes.empty()) return root;
    std::vector<const FileNodePtr*> below;
    below.reserve(nodes.size());
    for (const FileNodePtr& n : nodes)
        if (n && !n->is_aggregate && !child_prefix(root->path, n->path).empty())
            below.push_back(&n);
    // Outermost first, so a folder that goes in can take what lay inside it.
    std::stable_sort(below.begin(), below.end(), [](const FileNodePtr* a, const FileNodePtr* b) {
        return std::count((*a)->path.begin(), (*a)->path.end(), '/') <
               std::count((*b)->path.begin(), (*b)->path.end(), '/');
    });
    return insert(root, below);
}

std::vector<FileNodePtr> follow(const FileNodePtr& new_root,
                                const std::vector<FileNodePtr>& old_stack) {
    std::vector<FileNodePtr> out;
    FileNodePtr cursor = new_root;
    for (const FileNodePtr& old : old_stack) {
        if (!cursor || !old) break;
        FileNodePtr next;
        for (const FileNodePtr& child : cursor->children) {
            if (!child->is_aggregate && child->path == old->path) {
                next = child;
                break;
            }
        }
        if (!next) break;
        out.push_back(next);
        cursor = std::move(next);
    }
    return out;
}

std::size_t add_outermost(std::vector<FileNodePtr>& list, const std::vector<FileNodePtr>& items) {
    std::unordered_set<std::uint64_t> ids;
    std::unordered_set<std::string_view> listed;
    for (const FileNodePtr& n : list) {
        ids.insert(n->id);
        listed.insert(n->path);
    }
    // Whether `path` or a folder above it is in `set`.
    const auto covered = [](std::string_view path, const auto& set) {
        for (std::string_view p = path; !p.empty(); p = parent_view(p))
            if (set.count(p) != 0) return true;
        return false;
    };
    std::vector<FileNodePtr> added;
    std::unordered_set<std::string_view> added_paths;
    for (const FileNodePtr& n : items) {
        if (!n || ids.count(n->id) != 0 || covered(n->path, listed) ||
            covered(n->path, added_paths))
            continue;
        ids.insert(n->id);
        added_paths.insert(n->path);
        added.push_back(n);
    }
    if (added.empty()) return 0;
    // Listed items, and items added before their ancestor, give way.
    const auto inside_new = [&](const FileNodePtr& n) {
        for (std::string_view p = parent_view(n->path); !p.empty(); p = parent_view(p))
            if (added_paths.count(p) != 0) return true;
        return false;
    };
    std::erase_if(list, inside_new);
    std::erase_if(added, inside_new);
    const std::size_t count = added.size();
    list.insert(list.end(), added.begin(), added.end());
    return count;
}

FileNodePtr find(const FileNodePtr& root, const std::string& path) {
    FileNodePtr cursor = root;
    while (cursor && cursor->path != path) {
        const std::string_view want = child_prefix(cursor->path, path);
        if (want.empty()) return {};
        FileNodePtr next;
        for (const FileNodePtr& child : cursor->children) {
            if (!child->is_aggregate && child->path == want) {
                next = child;
                break;
            }
        }
        cursor = std::move(next);
    }
    return cursor;
}

} // namespace tree_edit
