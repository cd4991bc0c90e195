#include "reclaimable.h"

namespace reclaimable {

namespace {

constexpr std::string_view kMediaRoots[] = {"/media", "/run/media", "/mnt"};

// `p` equals `root` or lies below it, textually ("/mntx" is not below "/mnt").
bool at_or_below(std::string_view p, std::string_view root) {
    if (root.empty()) return false;
    if (root == "/") return !p.empty() && p[0] == '/';
    return p.size() >= root.size() && p.compare(0, root.size(), root) == 0 &&
           (p.size() == root.size() || p[root.size()] == '/');
}

bool strictly_below(std::string_view p, std::string_view root) {
    return p != root && at_or_below(p, root);
}

std::string_view usable_home(std::string_view home) {
    while (home.size() > 1 && home.back() == '/')
        home.remove_suffix(1);
    return !home.empty() && home[0] == '/' ? home : std::string_view();
}

// Whether some part of the area lies at or below `p`, so searching it may
// still find something.
bool area_below(std::string_view p, std::string_view home) {
    if (!home.empty() && at_or_below(home, p)) return true;
    for (std::string_view root : kMediaRoots)
        if (at_or_below(root, p)) return true;
    return false;
}

} // namespace

bool in_area(std::string_view path, std::string_view home) {
    home = usable_home(home);
    if (!home.empty() && strictly_below(path, home)) return true;
    for (std::string_view root : kMediaRoots)
        if (strictly_below(path, root)) return true;
    return false;
}

std::vector<FileNodePtr> collect(const FileNodePtr& root, std::string_view home,
                                 const GuardFn& guard_ok) {
    std::vector<FileNodePtr> out;
    if (!root) return out;
    home = usable_home(home);
    if (!in_area(root->path, home) && !area_below(root->path, home)) return out;
    // Depth first in stored order, without recursion (trees can be deep). The
    // stack points into the children vectors, which the tree keeps alive, and
    // carries whether the parent lay in the area: then the child does too,
    // with no need to compare paths.
    struct Item {
        const FileNodePtr* node;
        bool parent_inside;
    };
    std::vector<Item> stack;
    const auto push_children = [&stack](const FileNode& n, bool inside) {
        for (auto it = n.children.rbegin(); it != n.children.rend(); ++it)
            stack.push_back({&*it, inside});
    };
    push_children(*root, in_area(root->path, home)); // the root is only searched, never taken
    while (!stack.empty()) {
        const Item item = stack.back();
        stack.pop_back();
        const FileNodePtr& node = *item.node;
        const FileNode& n = *node;
        // No junk of any size below (sealed figure): nothing to find there.
        if (n.is_aggregate || n.reclaimable <= 0) continue;
        const bool inside = item.parent_inside || in_area(n.path, home);
        if (inside && n.is_junk && n.size > 0 && n.allows(FileNode::Action::Change) &&
            (!guard_ok || guard_ok(n))) {
            out.push_back(node);
            continue;
        }
        if (n.children.empty()) continue;
        if (inside || area_below(n.path, home)) push_children(n, inside);
    }
    return out;
}

std::int64_t total(const std::vector<FileNodePtr>& items) {
    std::int64_t sum = 0;
    for (const FileNodePtr& n : items)
        sum += n->size;
    return sum;
}

} // namespace reclaimable
