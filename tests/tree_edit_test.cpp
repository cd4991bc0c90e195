// The tree after deletions equals a fresh scan of the disk; the reclaimable
// junk is taken outermost first and only where one-click removal is sound.
#include "tree_edit.h"

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "reclaimable.h"
#include "scanner.h"
#include "strutil.h"
#include "temp_tree.h"
#include "tree_text.h"

using testing_support::describe;
using testing_support::TempTree;

namespace {

FileNodePtr scan(const std::string& path) {
    ScanProgress progress;
    return scanner::scan(path, progress, {});
}

// A random tree of folders, small files (folded into "Small files") and large
// ones, up to four levels deep.
void grow(TempTree& t, std::mt19937& rng, const std::string& rel, int depth) {
    const int files = static_cast<int>(rng() % 5);
    for (int i = 0; i < files; ++i) {
        const bool big = rng() % 3 == 0;
        t.file(rel + "/f" + std::to_string(i), big ? 270000 + rng() % 150000 : rng() % 9000);
    }
    if (files == 0) t.dir(rel);
    for (int i = 0, dirs = depth > 0 ? static_cast<int>(rng() % 4) : 0; i < dirs; ++i)
        grow(t, rng, rel + "/d" + std::to_string(i), depth - 1);
}

void all_nodes(const FileNodePtr& n, std::vector<FileNodePtr>& out) {
    out.push_back(n);
    for (const auto& c : n->children)
        all_nodes(c, out);
}

bool at_or_below(const std::string& p, const std::string& root) {
    return p == root || su::starts_with(p, root + "/");
}

// Every subtree without a removed path below it is the old tree's own object.
void expect_shared(const FileNodePtr& edited, const FileNodePtr& old,
                   const std::vector<std::string>& removed) {
    const bool touched = std::any_of(removed.begin(), removed.end(), [&](const std::string& r) {
        return at_or_below(r, old->path) && !old->is_aggregate;
    });
    if (!touched) {
        EXPECT_EQ(edited.get(), old.get()) << "copied instead of shared: " << old->path;
        return;
    }
    EXPECT_NE(edited.get(), old.get()) << old->path;
    EXPECT_EQ(edited->id, old->id) << "a rebuilt folder keeps its identity";
    for (const auto& c : edited->children) {
        for (const auto& o : old->children)
            if (o->path == c->path && o->is_aggregate == c->is_aggregate)
                expect_shared(c, o, removed);
    }
}

} // namespace

TEST(TreeEdit, RandomDeletionsMatchAFreshScanAndShareWhatDidNotChange) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        TempTree t;
        grow(t, rng, "top", 4);
        FileNodePtr tree = scan(t.path("top"));
        ASSERT_TRUE(tree);
        // Several rounds on the same tree: an edited tree is edited again.
        for (int round = 0; round < 3; ++round) {
            std::vector<FileNodePtr> nodes;
            all_nodes(tree, nodes);
            std::shuffle(nodes.begin(), nodes.end(), rng);
            std::vector<std::string> removed;
            for (const auto& n : nodes) {
                if (removed.size() == 3 || n == tree || n->is_aggregate) continue;
                const bool nested =
                    std::any_of(removed.begin(), removed.end(), [&](const std::string& r) {
                        return at_or_below(n->path, r) || at_or_below(r, n->path);
                    });
                if (!nested) removed.push_back(n->path);
            }
            for (const auto& p : removed)
                testing_support::remove_tree(p);

            const FileNodePtr edited = tree_edit::without(tree, removed);
            ASSERT_TRUE(edited);
            EXPECT_EQ(describe(*edited), describe(*scan(t.path("top"))));
            expect_shared(edited, tree, removed);
            for (const auto& p : removed)
                EXPECT_FALSE(tree_edit::find(edited, p)) << p;
            tree = edited;
        }
    }
}

TEST(TreeEdit, RemovalsTheZoomStackFollowsAndPutBack) {
    TempTree t;
    t.file("r/a/b/c/big", 300000);
    t.file("r/a/x", 290000);
    t.file("r/y", 280000);
    const FileNodePtr root = scan(t.path("r"));
    EXPECT_FALSE(tree_edit::without(root, {t.path("r")}));
    EXPECT_EQ(tree_edit::without(root, {t.path("elsewhere")}), root);
    const FileNodePtr a = tree_edit::find(root, t.path("r/a"));
    const FileNodePtr b = tree_edit::find(root, t.path("r/a/b"));
    const FileNodePtr c = tree_edit::find(root, t.path("r/a/b/c"));
    ASSERT_TRUE(a && b && c);
    const auto stack = tree_edit::follow(tree_edit::without(root, {c->path}), {a, b, c});
    ASSERT_EQ(stack.size(), 2u) << "the view stays in the deepest folder that still exists";
    EXPECT_EQ(stack[1]->path, b->path);
    EXPECT_EQ(stack[1]->size, b->size - c->size);

    EXPECT_EQ(tree_edit::with(root, {a, nullptr}), root) << "its path is taken";
    // b went first, then its folder a: both come back in one call.
    const FileNodePtr no_b = tree_edit::without(root, {b->path});
    const FileNodePtr no_a = tree_edit::without(no_b, {a->path});
    EXPECT_EQ(tree_edit::with(no_a, {b}), no_a) << "its folder is not in the tree";
    const FileNodePtr both = tree_edit::with(no_a, {b, tree_edit::find(no_b, a->path)});
    EXPECT_EQ(describe(*both), describe(*root));
    EXPECT_EQ(both->id, root->id);
    EXPECT_EQ(tree_edit::find(both, b->path), b);
}

TEST(Reclaimable, AreaIsTheHomeAndRemovableMedia) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/home/ann/.cache/pip", "/home/ann", true},
        {"/home/ann", "/home/ann", false},
        {"/home/annex/build", "/home/ann", false},
        {"/home/ann/x", "/home/ann/", true},
        {"/var/cache/apt", "/home/ann", false},
        {"/home/bob/project/target", "/home/ann", false},
        {"/media/ann/STICK/.Trash-1000", "", true},
        {"/run/media/ann/STICK/tmp", "", true},
        {"/mnt/data/build", "", true},
        {"/mnt", "", false},
        {"/mntx/build", "", false},
        {"/home/ann/x", "relative", false},
    };
    for (const auto& [path, home, in] : cases)
        EXPECT_EQ(reclaimable::in_area(path, home), in) << path << " home " << home;
}

TEST(Reclaimable, OutermostJunkInTreeOrderNeverTheRootNorNestedNorRefused) {
    TempTree t;
    t.file("h/proj/node_modules/a/node_modules/b/big", 300000); // nested junk
    t.file("h/proj/node_modules/c", 5000);
    t.file("h/.cache/pip/wheel", 280000); // the guard refuses .cache itself only
    t.file("h/build/out.o", 270000);
    t.file("h/docs/report.pdf", 300000);
    const FileNodePtr root = scan(t.path("h"));
    const std::string cache = t.path("h/.cache");
    const auto guard = [&](const FileNode& n) { return n.path != cache; };

    const auto items = reclaimable::collect(root, t.path("h"), guard);
    std::vector<std::string> paths;
    std::int64_t total = 0;
    for (const auto& n : items) {
        paths.push_back(n->path);
        total += n->size;
    }
    // Tree order: the folders holding them, largest first.
    EXPECT_EQ(paths, (std::vector<std::string>{t.path("h/proj/node_modules"),
                                               t.path("h/.cache/pip"), t.path("h/build")}));
    EXPECT_EQ(reclaimable::total(items), total);
    // Outside the home nothing is offered; a junk root is never offered.
    EXPECT_TRUE(reclaimable::collect(root, "/elsewhere", guard).empty());
    EXPECT_TRUE(
        reclaimable::collect(tree_edit::find(root, t.path("h/build")), t.path("h"), guard).empty());
}
