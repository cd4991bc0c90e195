// A tree printed as the window would see it, for comparing two trees in one
// assertion: one line per node with its size, file count, category, flags and
// path, children by size then name (the order of equal sizes is not fixed),
// ids left out. A folder whose stored order is not by size fails the test.
#pragma once

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "file_node.h"

namespace testing_support {

inline std::string describe(const FileNode& n, int depth = 0) {
    std::string out = std::string(static_cast<std::size_t>(depth) * 2, ' ') + n.name +
                      " size=" + std::to_string(n.size) + " files=" + std::to_string(n.file_count) +
                      " cat=" + std::to_string(static_cast<int>(n.category)) +
                      (n.is_directory ? " dir" : "") + (n.is_aggregate ? " agg" : "") +
                      (n.is_junk ? " junk" : "") + (n.is_denied ? " denied" : "") +
                      (n.is_timeout ? " skipped" : "") + (n.path_repaired ? " repaired" : "") +
                      " reclaimable=" + std::to_string(n.reclaimable) + " path=" + n.path + "\n";
    auto kids = n.children;
    const auto larger = [](const FileNodePtr& a, const FileNodePtr& b) {
        return a->size > b->size;
    };
    EXPECT_TRUE(std::is_sorted(kids.begin(), kids.end(), larger)) << n.path;
    std::sort(kids.begin(), kids.end(), [&](const FileNodePtr& a, const FileNodePtr& b) {
        return larger(a, b) || (a->size == b->size && a->name < b->name);
    });
    for (const auto& c : kids)
        out += describe(*c, depth + 1);
    return out;
}

} // namespace testing_support
