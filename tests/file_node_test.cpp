#include "file_node.h"
#include "scanner.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

std::shared_ptr<FileNode> node(std::int64_t size, bool junk = false) {
    auto n = std::make_shared<FileNode>();
    n->id = FileNode::next_id();
    n->size = size;
    n->is_junk = junk;
    return n;
}

} // namespace

TEST(FileNodeIds, UniqueAndIncreasingAcrossThreads) {
    constexpr int kThreads = 8, kPerThread = 20000;
    std::vector<std::vector<std::uint64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < kPerThread; ++i)
                seen[t].push_back(FileNode::next_id());
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
}

TEST(FileNodeSeal, JunkCountsWholeAndNothingBelowCountsTwice) {
    auto junk_file = node(4096, true);
    junk_file->seal();
    auto plain_file = node(8192);
    plain_file->seal();
    auto junk_dir = node(100000, true);
    junk_dir->children = {junk_file, plain_file};
    junk_dir->seal();
    EXPECT_EQ(junk_dir->reclaimable, 100000);
    auto plain_dir = node(200000);
    plain_dir->children = {junk_dir, junk_file, plain_file};
    plain_dir->seal();
    EXPECT_EQ(plain_dir->reclaimable, 100000 + 4096);
}

TEST(FileNodeActions, OnlyEntriesThatArePlainlyTheirPathAllowActions) {
    struct Case {
        const char* what;
        void (*set)(FileNode&);
        bool reveal;
        bool change;
        bool enter;
    };
    const Case cases[] = {
        {"plain", [](FileNode&) {}, true, true, true},
        {"aggregate", [](FileNode& n) { n.is_aggregate = true; }, false, false, false},
        {"mount not entered",
         [](FileNode& n) {
             n.is_denied = true;
             n.is_timeout = true;
         },
         false, false, false},
        {"unreadable folder", [](FileNode& n) { n.is_denied = true; }, true, true, false},
        {"read-only", [](FileNode& n) { n.is_readonly = true; }, true, false, true},
        {"repaired name", [](FileNode& n) { n.path_repaired = true; }, false, false, true},
        {"no path", [](FileNode& n) { n.path.clear(); }, false, false, true},
        {"empty folder", [](FileNode& n) { n.children.clear(); }, true, true, false},
        {"file", [](FileNode& n) { n.is_directory = false; }, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileNode n;
        n.path = "/home/ann/folder";
        n.is_directory = true;
        n.children = {node(1)};
        c.set(n);
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

TEST(ScanProgressCounters, TotalsAddUpFromManyThreads) {
    ScanProgress progress;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&progress, t] {
            for (int i = 0; i < 1000; ++i) {
                progress.add(512, 2);
                progress.set_current("/folder/" + std::to_string(t));
                if (i % 10 == 0) progress.add_denied();
                if (i % 100 == 0) progress.add_skipped();
                (void)progress.snapshot();
            }
        });
    for (auto& th : threads)
        th.join();
    const auto snap = progress.snapshot();
    EXPECT_EQ(snap.bytes, 4 * 1000 * 512);
    EXPECT_EQ(snap.files, 8000);
    EXPECT_EQ(snap.current.rfind("/folder/", 0), 0u);
    EXPECT_EQ(progress.denied_count(), 400);
    EXPECT_EQ(progress.skipped_count(), 40);
}
