#include "file_node.h"

#include <gtest/gtest.h>
#include <thread>

TEST(FileNodeActions, OnlyEntriesThatArePlainlyTheirPathAllowActions) {
    // a: aggregate, d: denied, s: skipped, r: read-only, b: broken name
    // repaired, p: no path, e: empty folder, f: a file.
    // Then what is allowed: R reveal, C change, E enter.
    const std::pair<std::string, std::string> cases[] = {
        {"", "RCE"}, {"a", ""},  {"ds", ""},  {"d", "RC"}, {"r", "RE"},
        {"b", "E"},  {"p", "E"}, {"e", "RC"}, {"f", "RC"},
    };
    for (const auto& [flags, allowed] : cases) {
        const auto has = [&](char f) { return flags.find(f) != std::string::npos; };
        FileNode n;
        n.path = has('p') ? "" : "/home/ann/folder";
        n.is_directory = !has('f');
        if (!has('e')) n.children = {std::make_shared<FileNode>()};
        n.is_aggregate = has('a');
        n.is_denied = has('d');
        n.is_timeout = has('s');
        n.is_readonly = has('r');
        n.path_repaired = has('b');
        EXPECT_EQ(std::string(n.allows(FileNode::Action::Reveal) ? "R" : "") +
                      (n.allows(FileNode::Action::Change) ? "C" : "") + (n.can_enter() ? "E" : ""),
                  allowed)
            << flags;
    }
}

// Freeing goes level by level: 200,000 levels freed one destructor inside
// the other would overflow the thread's stack.
TEST(FileNodeFree, AVeryDeepTreeKeepsTheStackFlat) {
    FileNodePtr deepest;
    FileNodePtr top;
    for (int i = 0; i < 200000; ++i) {
        auto n = std::make_shared<FileNode>();
        if (top) n->children.push_back(std::move(top));
        top = std::move(n);
        if (i == 0) deepest = top;
    }
    std::thread([&top] { top.reset(); }).join();
    EXPECT_EQ(deepest.use_count(), 1) << "a node held elsewhere survives";
}
