// The walk on real trees, with the faults that once made it slow or wrong:
// broken names, unreadable and swapped folders, failing reads, chains far
// beyond PATH_MAX, mounts and bind mounts in private namespaces, cancel.
#include "scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "i18n.h"
#include "mount_namespace.h"
#include "temp_tree.h"

using testing_support::TempTree;

namespace {

constexpr auto blocks = &TempTree::allocated;

// Follows names down from `root`; null when any step is missing.
const FileNode* at(const FileNode& root, const std::vector<std::string>& names) {
    const FileNode* n = &root;
    for (const auto& name : names) {
        const auto it = std::find_if(n->children.begin(), n->children.end(),
                                     [&](const FileNodePtr& c) { return c->name == name; });
        if (it == n->children.end()) return nullptr;
        n = it->get();
    }
    return n;
}

FileNodePtr scan(const std::string& root, scanner::Options options = {},
                 ScanProgress* progress = nullptr, scanner::ScanDetails* details = nullptr) {
    ScanProgress local;
    return scanner::scan(root, progress ? *progress : local, options, details);
}

// Rules every finished folder obeys, checked on the whole tree; returns the
// first broken rule, or an empty string.
std::string broken_invariant(const FileNode& root) {
    std::vector<const FileNode*> stack{&root};
    while (!stack.empty()) {
        const FileNode& n = *stack.back();
        stack.pop_back();
        std::int64_t sum = 0;
        std::int64_t files = n.is_directory ? 0 : n.file_count;
        std::int64_t reclaim = 0;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            const FileNode& c = *n.children[i];
            if (i > 0 && c.size > n.children[i - 1]->size) return "unsorted " + n.path;
            if (c.id >= n.id) return "child id above its folder's at " + c.path;
            if (c.modified > n.modified) return "child newer than folder at " + c.path;
            sum += c.size;
            files += c.file_count;
            reclaim += c.reclaimable;
            stack.push_back(&c);
        }
        if (n.is_directory && n.size < sum) return "folder smaller than its children " + n.path;
        if (files != n.file_count) return "file count " + n.path;
        if (n.reclaimable != (n.is_junk ? n.size : reclaim)) return "reclaimable " + n.path;
    }
    return {};
}

// The flags of a node, for comparing them all at once.
std::string facts(const FileNode& n) {
    return std::string(n.is_directory ? "dir" : "leaf") + (n.is_denied ? " denied" : "") +
           (n.is_timeout ? " skipped" : "") + (n.is_readonly ? " ro" : "") +
           (n.is_directory && n.children.empty() ? " empty" : "");
}

std::int64_t count_nodes(const FileNode& root, const std::function<bool(const FileNode&)>& pred) {
    std::int64_t count = 0;
    std::vector<const FileNode*> stack{&root};
    while (!stack.empty()) {
        const FileNode* n = stack.back();
        stack.pop_back();
        count += pred(*n);
        for (const auto& c : n->children)
            stack.push_back(c.get());
    }
    return count;
}

const auto named = [](const std::string& name) {
    return [name](const FileNode& n) { return n.name == name; };
};

// Runs `act` once, when the first folder (the root) has been listed and
// before any of its subfolders is opened.
struct OnRootListed : scanner::EntrySink {
    std::function<void()> act;
    void folder_listed(std::uint64_t, std::uint64_t, std::span<const scanner::ListedEntry>,
                       bool) override {
        if (act) std::exchange(act, nullptr)();
    }
};

} // namespace

TEST(ScannerThreads, NeverFewerThanTwoWorkers) {
    for (unsigned cores : {0u, 1u, 4u})
        EXPECT_EQ(scanner::worker_count_for(cores), 2) << cores << " cores";
    EXPECT_LT(scanner::worker_count_for(64), 64) << "some cores stay free for the window";
}

TEST(ScannerRoot, SlashesMissingRootsFilesAndLinksGivenAsRoot) {
    const std::pair<const char*, const char*> table[] = {
        {"/data///", "/data"}, {"", "/"}, {"///", "/"}};
    for (const auto& [in, out] : table)
        EXPECT_EQ(scanner::normalize_root(in), out) << in;

    TempTree t;
    const std::string file = t.file("real/movie.mkv", 300000);
    t.symlink("alias", t.path("real"));

    // A root that cannot be examined, or a file: one leaf.
    const auto leaf = [](const FileNodePtr& n) {
        return facts(*n) + " " + n->name + " " + std::to_string(n->size) + " " +
               std::to_string(n->file_count) + " " + category::label_key(n->category);
    };
    EXPECT_EQ(leaf(scan(t.path("nope.txt"))), "leaf nope.txt 0 1 Documents");
    EXPECT_EQ(leaf(scan(file)), "leaf movie.mkv " + std::to_string(blocks(file)) + " 1 Video");
    // A link given as the root is followed; paths below keep its spelling.
    const auto alias = scan(t.path("alias"));
    const FileNode* movie = at(*alias, {"movie.mkv"});
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->path, t.path("alias/movie.mkv"));
}

TEST(ScannerWalk, SizesAreOccupiedBlocksAndEmptyEntriesVanish) {
    TempTree t;
    const std::string one = t.file("one_byte.txt", 1);
    const std::string big = t.file("big.bin", 400000);
    t.file("empty.txt", 0);
    t.symlink("fast_link", "x");            // no blocks
    t.symlink("dir_link", t.path("sub"));   // a link to a folder is a leaf
    t.sparse("hole.img", 50 * 1024 * 1024); // nothing allocated
    const std::string inner = t.file("sub/inner.bin", 300000);
    // Blocks on most file systems, and the only small file of its folder.
    const long long link = blocks(t.symlink("sub/long_link", std::string(300, 'y')));

    ScanProgress progress;
    scanner::ScanDetails details;
    const auto root = scan(t.root(), {}, &progress, &details);
    for (const char* gone : {"empty.txt", "fast_link", "dir_link", "hole.img"})
        EXPECT_EQ(at(*root, {gone}), nullptr) << gone;
    ASSERT_NE(at(*root, {"big.bin"}), nullptr);
    EXPECT_EQ(at(*root, {"big.bin"})->size, blocks(big));
    const std::int64_t files = blocks(one) + blocks(big) + blocks(inner) + link;
    EXPECT_EQ(root->size, blocks(t.root()) + blocks(t.path("sub")) + files);
    EXPECT_EQ(root->file_count, 3 + (link > 0));
    EXPECT_EQ(progress.snapshot().files, root->file_count);
    EXPECT_EQ(progress.snapshot().bytes, files);
    EXPECT_EQ(broken_invariant(*root), "");
    // A link is a leaf of its own, flagged as not a regular file.
    const FileNode* l = at(*root, {"sub", "long_link"});
    ASSERT_EQ(l != nullptr, link > 0);
    if (l != nullptr) {
        const scanner::LeafFacts& f = details.leaves.at(l->id);
        EXPECT_TRUE(f.not_regular && !f.multiply_linked);
    }
}

TEST(ScannerAssembly, TimesCategoriesOrderAndJunk) {
    I18n::instance().set_language("en");
    TempTree t;
    t.file("media/a.mp4", 900000);
    t.file("media/b.mp4", 500000);
    t.file("media/c.jpg", 700000);
    t.file("media/old.txt", 10);
    t.file("media/older.txt", 10);
    t.file("proj/node_modules/a/index.js", 300000);
    t.file("proj/node_modules/b.js", 100);
    t.file("proj/node_modules/a/.cache/x.bin", 300000);
    t.file("proj/src/main.cpp", 300000);
    const timespec stamp[2] = {{1000000000, 0}, {1000000000, 0}};
    const timespec newer[2] = {{1600000000, 0}, {1600000000, 0}};
    for (const char* f : {"media/a.mp4", "media/b.mp4", "media/c.jpg", "media/old.txt", "media"})
        ASSERT_EQ(::utimensat(AT_FDCWD, t.path(f).c_str(), stamp, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, t.path("media/older.txt").c_str(), newer, 0), 0);

    const auto root = scan(t.root());
    EXPECT_EQ(broken_invariant(*root), "");
    const FileNode* media = at(*root, {"media"});
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(media->category, FileCategory::Video); // 1.4 MB of video beats 0.7 MB of image
    EXPECT_EQ(media->modified, 1600000000);
    std::string order;
    for (const auto& c : media->children)
        order += c->name + " ";
    ASSERT_EQ(order, "a.mp4 c.jpg b.mp4 Small files ");
    EXPECT_EQ(at(*media, {"Small files"})->modified, 1600000000);
    struct stat st {};
    ASSERT_EQ(::stat(t.path("media").c_str(), &st), 0);
    EXPECT_EQ(media->created, st.st_ctim.tv_sec);
    // A junk folder is reclaimable whole, junk inside it not a second time.
    const FileNode* junk = at(*root, {"proj", "node_modules"});
    ASSERT_NE(junk, nullptr);
    EXPECT_TRUE(junk->is_junk);
    EXPECT_EQ(root->reclaimable, junk->size);
}

// Subtrees are assembled by whichever walker finishes them, those holding
// hard links only at the end: one name survives however the work was shared,
// never one that comes after another name among its folder's own files, and
// the facts recorded on every thread reach the caller.
TEST(ScannerAssembly, HardLinksCountOnceOrEveryTimeWhenAsked) {
    TempTree t;
    constexpr int kSubtrees = 32;
    const std::int64_t size = blocks(t.file("orig/shared.bin", 300000));
    t.hardlink("a/shared.bin", "orig/shared.bin");
    t.hardlink("a/sub/shared.bin", "orig/shared.bin");
    for (int i = 0; i < kSubtrees; ++i) {
        const std::string top = "p" + std::to_string(i) + "/q/";
        t.file(top + "big.bin", 300000);
        if (i % 2 == 0)
            t.hardlink(top + "r/shared.bin", "orig/shared.bin");
        else
            t.file(top + "r/own.bin", 300000);
    }
    const int names = 3 + kSubtrees / 2;
    for (int round = 0; round < 4; ++round) {
        scanner::Options off;
        off.dedupe_hard_links = false;
        scanner::ScanDetails all;
        const auto counted = scan(t.root(), off, nullptr, &all);
        EXPECT_EQ(broken_invariant(*counted), "");
        EXPECT_EQ(count_nodes(*counted, named("shared.bin")), names);
        EXPECT_EQ(all.leaves.size(), static_cast<std::size_t>(names));
        for (const auto& [id, facts] : all.leaves)
            EXPECT_TRUE(facts.multiply_linked) << "leaf " << id;

        scanner::ScanDetails one;
        const auto deduped = scan(t.root(), {}, nullptr, &one);
        EXPECT_EQ(broken_invariant(*deduped), "");
        EXPECT_EQ(count_nodes(*deduped, named("shared.bin")), 1);
        EXPECT_EQ(at(*deduped, {"a", "sub", "shared.bin"}), nullptr);
        EXPECT_EQ(deduped->size, counted->size - (names - 1) * size);
        EXPECT_EQ(deduped->file_count, counted->file_count - (names - 1));
        EXPECT_EQ(one.leaves.size(), 1u);
    }
}

// A folder without listing permission, one listed but not searchable (names
// but no facts), an unreadable root, no descriptors left, directory reads
// failing with EIO as on a dying disk: empty folders flagged denied, never a
// failure.
TEST(ScannerWalk, UnreadableFoldersAreDeniedAndEmpty) {
    constexpr int kNoFilters = 77;
    const auto no_descriptors = [] {
        const rlimit low{32, 32};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0) return false;
        while (::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) {
        }
        return errno == EMFILE;
    };
    const auto failing_reads = [] {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getdents64, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog prog{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
            ::_exit(kNoFilters);
        return true;
    };
    const struct {
        mode_t mode;
        bool at_root;
        std::function<bool()> fault;
    } cases[] = {
        {0300, false, {}},
        {0444, false, {}},
        {0000, true, {}},
        {0755, true, no_descriptors},
        {0755, true, failing_reads},
    };
    for (const auto& c : cases) {
        TempTree t;
        t.file("x/a.bin", 300000);
        t.file("x/sub/b.bin", 300000);
        t.file("open/c.bin", 300000);
        t.chmod("x", c.mode);
        const std::string scanned = c.at_root ? t.path("x") : t.root();
        const int status = testing_support::run_unprivileged([&] {
            if (c.fault && !c.fault()) return false;
            ScanProgress progress;
            const auto root = scanner::scan(scanned, progress, {});
            const FileNode* x = c.at_root ? root.get() : at(*root, {"x"});
            if (x == nullptr) return false;
            EXPECT_EQ(facts(*x), "dir denied empty");
            EXPECT_EQ(x->size, blocks(t.path("x")));
            EXPECT_EQ(progress.denied_count(), 1);
            EXPECT_EQ(root->file_count, c.at_root ? 0 : 1);
            return true;
        });
        if (status == kNoFilters) GTEST_SKIP() << "seccomp filters are not available here";
        EXPECT_EQ(status, 0) << std::oct << c.mode;
    }
}

TEST(ScannerWalk, BrokenNamesAreReadAndMarkedRepaired) {
    TempTree t;
    t.file("caf\xE9/inside.bin", 300000);
    t.file("caf\xE9/deeper/more.bin", 300000);
    t.file("x\xFFy.bin", 300000);
    t.file("line\nbreak.bin", 300000);
    t.file("fine.bin", 300000);
    ScanProgress progress;
    const auto root = scan(t.root(), {}, &progress);
    EXPECT_EQ(progress.denied_count(), 0) << "raw name bytes open the folder";
    EXPECT_EQ(root->file_count, 5);
    // The folder, its file, its subfolder and file there, the file's broken name.
    EXPECT_EQ(count_nodes(*root, [](const FileNode& n) { return n.path_repaired; }), 5);
    const std::string cafe = "caf\xEF\xBF\xBD";
    EXPECT_EQ(at(*root, {cafe})->path, t.root() + "/" + cafe);
    EXPECT_NE(at(*root, {"line\nbreak.bin"}), nullptr);
}

// Paths ten times PATH_MAX, and more levels than one descriptor or one
// stack frame per level would allow. On a tmpfs that vanishes with the
// namespace: removing the chain would need the same care.
TEST(ScannerWalk, ChainTwentyThousandFoldersDeepIsWalkedWhole) {
    TempTree t;
    const std::string top = t.dir("deep");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(testing_support::mount_tmpfs(top));
        constexpr int kDepth = 20000;
        t.deep_chain("deep", kDepth, "d", 300000);
        const long long level = blocks(top + "/d"); // every level holds one name
        ScanProgress progress;
        const auto root = scan(top, {}, &progress);
        EXPECT_EQ(progress.denied_count(), 0);
        EXPECT_EQ(root->file_count, 1);
        int levels = 0;
        const FileNode* n = root.get();
        for (const FileNode* d; (d = at(*n, {"d"})) != nullptr; ++levels)
            n = d;
        EXPECT_EQ(levels, kDepth);
        const FileNode* bottom = at(*n, {"bottom"});
        ASSERT_NE(bottom, nullptr);
        EXPECT_GT(bottom->path.size(), 2u * kDepth);
        EXPECT_GE(bottom->size, 300000);
        EXPECT_EQ(root->size, blocks(top) + kDepth * level + bottom->size);
    });
}

TEST(ScannerCancel, CancelCutsTheWalkShortAndKeepsTheTreeConsistent) {
    TempTree t;
    for (int d = 0; d < 800; ++d) // no fsync: sizes may settle later, so none is compared
        for (const char* f : {"/s/a", "/s/b"})
            testing_support::write_file(t.path("d" + std::to_string(d) + f), "0123456789");
    // Many small folders: the walk checks for a cancel before each one, and
    // takes long enough for the cancelling thread to be scheduled even on a
    // busy machine. A few tries allow for one that the walk outran all the same.
    const auto full = scan(t.root());
    ASSERT_EQ(full->file_count, 800 * 2);
    std::int64_t fewest = full->file_count;
    for (int attempt = 0; attempt < 3 && fewest == full->file_count; ++attempt) {
        ScanProgress progress;
        std::thread canceller([&] {
            while (progress.snapshot().files == 0)
                std::this_thread::yield();
            progress.cancel();
        });
        const auto partial = scan(t.root(), {}, &progress);
        canceller.join();
        EXPECT_EQ(broken_invariant(*partial), "");
        EXPECT_LE(partial->size, full->size);
        fewest = std::min(fewest, partial->file_count);
    }
    EXPECT_LT(fewest, full->file_count) << "the cancel never cut the walk short";
}

// A folder swapped after its parent was listed, before it is opened: for a
// link leading outside, or for another folder. Neither is read in its place.
TEST(ScannerWalk, FolderSwappedBeforeItIsOpenedIsNotRead) {
    TempTree outside;
    outside.file("marker.bin", 300000);
    TempTree t;
    t.file("a/a.bin", 300000);
    t.file("b/b.bin", 300000);
    t.file("spare/c/marker.bin", 300000);
    OnRootListed sink;
    sink.act = [&] {
        ::rename(t.path("a").c_str(), t.path("a_moved").c_str());
        ::symlink(outside.root().c_str(), t.path("a").c_str());
        ::rename(t.path("b").c_str(), t.path("b_moved").c_str());
        ::rename(t.path("spare/c").c_str(), t.path("b").c_str());
    };
    scanner::Options options;
    options.entry_sink = &sink;
    const auto root = scan(t.root(), options);
    for (const char* swapped : {"a", "b"})
        EXPECT_EQ(at(*root, {swapped}) ? facts(*at(*root, {swapped})) : "", "dir denied empty");
    EXPECT_EQ(count_nodes(*root, named("marker.bin")), 0);
}

// Mounts below the scanned folder, in a private namespace (each scan reads
// the mount table of the namespace it runs in).
TEST(ScannerMounts, SkippedEnteredAndCyclicMountsInAPrivateNamespace) {
    TempTree t;
    t.file("home/a.bin", 300000);
    for (const char* d : {"home/disk", "home/pseudo", "home/ro", "top/scan/loop"})
        t.dir(d);
    const long long above = blocks(t.path("top")) + blocks(t.file("top/above.bin", 300000));
    const std::string scan_root = t.path("top/scan");
    const long long own = blocks(scan_root) + blocks(t.file("top/scan/inside.bin", 300000));
    const std::string home = t.path("home");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        // A folder above the scanned one, bind-mounted inside it: walking it
        // finds the scanned folder again, skipped, not counted twice; with one
        // file system the bind mount itself is not entered.
        ASSERT_TRUE(testing_support::mount_bind(t.path("top"), t.path("top/scan/loop")));
        for (const bool one_fs : {false, true}) {
            ScanProgress progress;
            const auto root = scanner::scan(scan_root, progress, {true, one_fs, 0, nullptr});
            EXPECT_EQ(root->size, own + (one_fs ? 0 : above)) << "one file system: " << one_fs;
            EXPECT_EQ(root->file_count, one_fs ? 1 : 2);
            EXPECT_EQ(progress.skipped_count(), 1);
            const FileNode* skipped = at(*root, one_fs ? std::vector<std::string>{"loop"}
                                                       : std::vector<std::string>{"loop", "scan"});
            EXPECT_EQ(skipped ? facts(*skipped) : "", "dir denied skipped ro empty");
        }

        ASSERT_TRUE(testing_support::mount_tmpfs(home + "/disk"));
        ASSERT_TRUE(testing_support::mount_tmpfs(home + "/ro"));
        ASSERT_EQ(::mount("none", (home + "/pseudo").c_str(), "ramfs", 0, nullptr), 0);
        testing_support::write_file(home + "/disk/on_disk.bin", std::string(300000, 'd'));
        testing_support::write_file(home + "/pseudo/sub/in_ram.bin", std::string(300000, 'r'));
        testing_support::write_file(home + "/ro/frozen.bin", std::string(300000, 'f'));
        ASSERT_TRUE(testing_support::remount_read_only(home + "/ro"));
        // A bind mount within the scanned file system is entered, whatever its type.
        ::mkdir((home + "/pseudo/bound").c_str(), 0755);
        ASSERT_TRUE(testing_support::mount_bind(home + "/pseudo/sub", home + "/pseudo/bound"));
        ScanProgress progress;
        const auto ram = scanner::scan(home + "/pseudo", progress, {});
        EXPECT_NE(at(*ram, {"bound", "in_ram.bin"}), nullptr);

        const auto one_fs = scanner::scan(home, progress, {true, true, 0, nullptr});
        for (const char* name : {"disk", "pseudo", "ro"}) {
            const FileNode* m = at(*one_fs, {name});
            ASSERT_NE(m, nullptr) << name;
            // Read-only: removing a mount point reaches into it.
            EXPECT_EQ(facts(*m), "dir denied skipped ro empty") << name;
            EXPECT_EQ(m->size, 0) << name;
        }
        EXPECT_EQ(progress.skipped_count(), 3);
        EXPECT_EQ(progress.denied_count(), 0);
        EXPECT_EQ(facts(*one_fs), "dir");

        const auto root = scanner::scan(home, progress, {});
        const std::pair<std::vector<std::string>, std::string> rows[] = {
            {{"a.bin"}, "leaf"},
            {{"disk", "on_disk.bin"}, "leaf"},           // another local file system is entered
            {{"pseudo"}, "dir denied skipped ro empty"}, // a pseudo file system never
            {{"ro", "frozen.bin"}, "leaf ro"},
        };
        for (const auto& [names, want] : rows)
            EXPECT_EQ(at(*root, names) ? facts(*at(*root, names)) : "(missing)", want) << names[0];
        EXPECT_EQ(progress.skipped_count(), 4);
    });
}
