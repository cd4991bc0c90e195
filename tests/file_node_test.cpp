#include "file_node.h"
#include "scanner.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <thread>

// Ids and progress counters, written by every walker at once.
TEST(FileNodeIds, UniqueIncreasingIdsAndProgressTotalsAcrossThreads) {
    constexpr int kThreads = 8, kPerThread = 5000;
    ScanProgress progress;
    std::vector<std::vector<std::uint64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                seen[t].push_back(FileNode::next_id());
                progress.add(512, 2);
                progress.set_current("/folder/" + std::to_string(t));
                if (i % 10 == 0) progress.add_denied();
                (void)progress.snapshot();
            }
        });
    for (auto& th : threads)
        th.join();
    std::set<std::uint64_t> all;
    for (const auto& v : seen) {
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
        all.insert(v.begin(), v.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(all.count(0), 0u);
    EXPECT_EQ(progress.snapshot().bytes, std::int64_t{kThreads} * kPerThread * 512);
    EXPECT_EQ(progress.snapshot().files, std::int64_t{kThreads} * kPerThread * 2);
    EXPECT_EQ(progress.snapshot().current.rfind("/folder/", 0), 0u);
    EXPECT_EQ(progress.denied_count(), kThreads * kPerThread / 10);
}

TEST(FileNodeActions, OnlyEntriesThatArePlainlyTheirPathAllowActions) {
    enum : unsigned {
        Aggregate = 1,
        Denied = 2,
        Skipped = 4,
        ReadOnly = 8,
        Repaired = 16,
        NoPath = 32,
        Empty = 64,
        File = 128
    };
    const struct {
        unsigned flags;
        bool reveal, change, enter;
    } cases[] = {
        {0, true, true, true},
        {Aggregate, false, false, false},
        {Denied | Skipped, false, false, false}, // a mount not entered
        {Denied, true, true, false},             // an unreadable folder
        {ReadOnly, true, false, true},
        {Repaired, false, false, true},
        {NoPath, false, false, true},
        {Empty, true, true, false},
        {File, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        FileNode n;
        n.path = (c.flags & NoPath) ? "" : "/home/ann/folder";
        n.is_directory = (c.flags & File) == 0;
        if ((c.flags & Empty) == 0) n.children = {std::make_shared<FileNode>()};
        n.is_aggregate = c.flags & Aggregate;
        n.is_denied = c.flags & Denied;
        n.is_timeout = c.flags & Skipped;
        n.is_readonly = c.flags & ReadOnly;
        n.path_repaired = c.flags & Repaired;
        EXPECT_EQ(n.allows(FileNode::Action::Reveal), c.reveal);
        EXPECT_EQ(n.allows(FileNode::Action::Change), c.change);
        EXPECT_EQ(n.can_enter(), c.enter);
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
