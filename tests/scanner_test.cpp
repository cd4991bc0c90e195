#include "scanner.h"

#include "i18n.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "strutil.h"
#include "child_process.h"
#include "fresh_process.h"
#include "temp_tree.h"

using testing_support::TempTree;

namespace {

const FileNode* child(const FileNode& parent, const std::string& name) {
    for (const auto& c : parent.children)
        if (c->name == name) return c.get();
    return nullptr;
}

// Follows names down from `root`; null when any step is missing.
const FileNode* at(const FileNode& root, std::initializer_list<std::string> names) {
    const FileNode* n = &root;
    for (const auto& name : names) {
        n = child(*n, name);
        if (n == nullptr) return nullptr;
    }
    return n;
}

long long blocks(const std::string& path) {
    return TempTree::allocated(path);
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
        if (n.id == 0) return "id 0 at " + n.path;
        if (!n.is_directory && !n.children.empty()) return "leaf with children " + n.path;
        std::int64_t sum = 0;
        std::int64_t files = n.is_directory ? 0 : n.file_count;
        std::int64_t reclaim = 0;
        std::int64_t newest = n.is_directory ? n.modified : 0;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            const FileNode& c = *n.children[i];
            if (i > 0 && c.size > n.children[i - 1]->size) return "unsorted " + n.path;
            if (c.id >= n.id) return "child id above its folder's at " + c.path;
            sum += c.size;
            files += c.file_count;
            reclaim += c.reclaimable;
            if (c.modified > newest) return "child newer than folder at " + c.path;
            stack.push_back(&c);
        }
        if (n.is_directory) {
            if (n.size < sum) return "folder smaller than its children " + n.path;
            if (files != n.file_count) return "file count " + n.path;
        }
        if (n.reclaimable != (n.is_junk ? n.size : reclaim)) return "reclaimable " + n.path;
    }
    return {};
}

std::int64_t count_nodes(const FileNode& root, const std::function<bool(const FileNode&)>& pred) {
    std::int64_t count = 0;
    std::vector<const FileNode*> stack{&root};
    while (!stack.empty()) {
        const FileNode* n = stack.back();
        stack.pop_back();
        if (pred(*n)) ++count;
        for (const auto& c : n->children)
            stack.push_back(c.get());
    }
    return count;
}

// Many small files quickly: no fsync, so sizes may settle later; only for
// tests that check consistency, not exact sizes.
void quick_files(TempTree& t, int dirs, int files_per_dir) {
    for (int d = 0; d < dirs; ++d) {
        const std::string dir = t.dir("d" + std::to_string(d) + "/s" + std::to_string(d % 7));
        for (int f = 0; f < files_per_dir; ++f) {
            const std::string p = dir + "/f" + std::to_string(f);
            const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) continue;
            (void)!::write(fd, "0123456789", 10);
            ::close(fd);
        }
    }
}

// The path of the first entry called `name` met the way the scanner counts
// hard links: each folder's own files in listing order, then its subfolders
// depth first in listing order. Empty when there is none.
std::string first_met(const std::string& dir, const std::string& name) {
    std::vector<std::string> subdirs;
    std::string found;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return {};
    while (const dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        struct stat st {};
        if (::lstat((dir + "/" + entry).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            subdirs.push_back(dir + "/" + entry);
        else if (entry == name && found.empty())
            found = dir + "/" + entry;
    }
    ::closedir(d);
    for (const auto& sub : subdirs) {
        if (!found.empty()) break;
        found = first_met(sub, name);
    }
    return found;
}

} // namespace

TEST(ScannerThreads, NeverFewerThanTwoWorkers) {
    for (unsigned cores : {0u, 1u, 4u})
        EXPECT_EQ(scanner::worker_count_for(cores), 2) << cores << " cores";
    EXPECT_LT(scanner::worker_count_for(64), 64) << "some cores stay free for the window";
}

TEST(ScannerRoot, TrailingSlashesAreDroppedAndEmptyMeansSlash) {
    const std::pair<const char*, const char*> table[] = {
        {"/data///", "/data"}, {"", "/"}, {"///", "/"}};
    for (const auto& [in, out] : table)
        EXPECT_EQ(scanner::normalize_root(in), out) << in;

    TempTree t;
    t.file("f", 5000);
    const auto root = scan(t.root() + "///");
    EXPECT_EQ(root->path, t.root());
    EXPECT_EQ(root->name, su::basename_of(t.root()));
}

TEST(ScannerRoot, MissingRootAndFileRootGiveOneLeaf) {
    TempTree t;
    const auto missing = scan(t.path("nope.txt"));
    EXPECT_FALSE(missing->is_directory);
    EXPECT_EQ(missing->size, 0);
    EXPECT_EQ(missing->file_count, 1);
    EXPECT_EQ(missing->name, "nope.txt");

    const std::string file = t.file("movie.mkv", 20000);
    const auto leaf = scan(file);
    EXPECT_FALSE(leaf->is_directory);
    EXPECT_EQ(leaf->size, blocks(file));
    EXPECT_EQ(leaf->category, FileCategory::Video);
}

TEST(ScannerRoot, SymbolicLinkGivenAsRootIsFollowed) {
    TempTree t;
    t.file("real/a.bin", 300000);
    t.symlink("alias", t.path("real"));
    const auto root = scan(t.path("alias"));
    ASSERT_TRUE(root->is_directory);
    EXPECT_EQ(root->path, t.path("alias"));
    ASSERT_NE(child(*root, "a.bin"), nullptr);
    EXPECT_EQ(child(*root, "a.bin")->path, t.path("alias/a.bin"));
}

TEST(ScannerWalk, SizesAreOccupiedBlocksAndEmptyEntriesVanish) {
    TempTree t;
    const std::string one = t.file("one_byte.txt", 1);
    const std::string big = t.file("big.bin", 400000);
    t.file("empty.txt", 0);
    t.symlink("fast_link", "x");            // no blocks
    t.symlink("dir_link", t.path("sub"));   // a link to a folder is a leaf
    t.sparse("hole.img", 50 * 1024 * 1024); // nothing allocated
    t.file("sub/inner.bin", 300000);

    ScanProgress progress;
    const auto root = scan(t.root(), {}, &progress);
    ASSERT_TRUE(root->is_directory);
    EXPECT_EQ(child(*root, "empty.txt"), nullptr);
    EXPECT_EQ(child(*root, "fast_link"), nullptr);
    EXPECT_EQ(child(*root, "dir_link"), nullptr);
    EXPECT_EQ(child(*root, "hole.img"), nullptr);
    EXPECT_GT(blocks(one), 0);
    const FileNode* b = child(*root, "big.bin");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, blocks(big));

    const std::int64_t expected = blocks(t.root()) + blocks(one) + blocks(big) +
                                  blocks(t.path("sub")) + blocks(t.path("sub/inner.bin"));
    EXPECT_EQ(root->size, expected);
    EXPECT_EQ(root->file_count, 3);
    EXPECT_EQ(progress.snapshot().files, 3);
    EXPECT_EQ(progress.snapshot().bytes,
              blocks(one) + blocks(big) + blocks(t.path("sub/inner.bin")));
    EXPECT_EQ(broken_invariant(*root), "");
}

TEST(ScannerWalk, LongLinkTargetWithBlocksIsANotRegularLeaf) {
    TempTree t;
    const std::string target(300, 'y');
    t.symlink("long_link", target);
    if (blocks(t.path("long_link")) == 0) GTEST_SKIP() << "this file system keeps links inline";
    t.file("x/a", 10); // keep the link out of a fold: it is the only small file here
    scanner::ScanDetails details;
    const auto root = scan(t.root(), {}, nullptr, &details);
    const FileNode* link = child(*root, "long_link");
    ASSERT_NE(link, nullptr);
    ASSERT_EQ(details.leaves.count(link->id), 1u);
    EXPECT_TRUE(details.leaves.at(link->id).not_regular);
    EXPECT_FALSE(details.leaves.at(link->id).multiply_linked);
}

TEST(ScannerAssembly, SmallFilesFoldAtTheLimit) {
    TempTree t;
    // 262144 bytes is the first size that stays its own tile; the largest
    // smaller size a 4 KiB-block file system can hold is 258048.
    const std::string at_limit = t.file("f/at_limit.bin", 262144);
    const std::string below = t.file("f/below.bin", 258048);
    if (blocks(at_limit) != 262144 || blocks(below) != 258048)
        GTEST_SKIP() << "file system allocates differently";
    t.file("f/tiny.txt", 100);
    t.file("single/only.txt", 100);
    t.file("single/huge.bin", 300000);

    I18n::instance().set_language("en");
    const auto root = scan(t.root());
    const FileNode* f = child(*root, "f");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->children.size(), 2u);
    EXPECT_NE(child(*f, "at_limit.bin"), nullptr);
    const FileNode* agg = child(*f, "Small files");
    ASSERT_NE(agg, nullptr);
    EXPECT_TRUE(agg->is_aggregate);
    EXPECT_EQ(agg->file_count, 2);
    EXPECT_EQ(agg->size, 258048 + blocks(t.path("f/tiny.txt")));
    EXPECT_FALSE(agg->can_enter());

    const FileNode* single = child(*root, "single");
    ASSERT_NE(single, nullptr);
    EXPECT_NE(child(*single, "only.txt"), nullptr) << "one small file stays itself";
    EXPECT_EQ(child(*single, "Small files"), nullptr);
    EXPECT_EQ(broken_invariant(*root), "");
}

TEST(ScannerAssembly, FoldedJunkIsNotReclaimableButJunkFoldersAreWhole) {
    TempTree t;
    t.file("proj/node_modules/a/index.js", 300000);
    t.file("proj/node_modules/b.js", 100);
    t.file("proj/src/main.cpp", 300000);
    const auto root = scan(t.root());
    const FileNode* nm = at(*root, {"proj", "node_modules"});
    ASSERT_NE(nm, nullptr);
    EXPECT_TRUE(nm->is_junk);
    EXPECT_EQ(nm->reclaimable, nm->size);
    EXPECT_EQ(root->reclaimable, nm->size);
    const FileNode* src = at(*root, {"proj", "src"});
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->reclaimable, 0);
}

TEST(ScannerAssembly, HardLinksCountOnceInWalkOrderOrEveryTimeWhenAsked) {
    TempTree t;
    const std::string original = t.file("b/original.bin", 10 * 1024 * 1024);
    t.hardlink("a/sub/link.bin", "b/original.bin");
    t.hardlink("a/link_here.bin", "b/original.bin");
    const std::int64_t size = blocks(original);
    const std::int64_t dirs =
        blocks(t.root()) + blocks(t.path("a")) + blocks(t.path("b")) + blocks(t.path("a/sub"));

    scanner::Options on;
    scanner::ScanDetails details;
    const auto deduped = scan(t.root(), on, nullptr, &details);
    EXPECT_EQ(deduped->size, dirs + size);
    EXPECT_EQ(deduped->file_count, 1);
    // Folders are visited in listing order, a folder's own files before its
    // subfolders: exactly one of the three names survives.
    const std::int64_t names =
        count_nodes(*deduped, [](const FileNode& n) { return !n.is_directory && n.size > 0; });
    EXPECT_EQ(names, 1);
    const FileNode* in_sub = at(*deduped, {"a", "sub", "link.bin"});
    const FileNode* in_a = at(*deduped, {"a", "link_here.bin"});
    EXPECT_EQ(in_sub, nullptr) << "a folder's own files come before its subfolders";
    const FileNode* kept = in_a != nullptr ? in_a : at(*deduped, {"b", "original.bin"});
    ASSERT_NE(kept, nullptr);
    ASSERT_EQ(details.leaves.count(kept->id), 1u);
    EXPECT_TRUE(details.leaves.at(kept->id).multiply_linked);

    scanner::Options off;
    off.dedupe_hard_links = false;
    const auto counted = scan(t.root(), off);
    EXPECT_EQ(counted->size, dirs + 3 * size);
    EXPECT_EQ(counted->file_count, 3);
    EXPECT_NE(at(*counted, {"a", "sub", "link.bin"}), nullptr);
    EXPECT_EQ(broken_invariant(*counted), "");
}

// Subtrees are assembled by whichever walker finishes them, those holding
// hard links only at the end: one name survives however the work was shared,
// and the facts recorded on every thread reach the caller.
TEST(ScannerAssembly, HardLinksAndFactsHoldWhenManySubtreesFinishApart) {
    TempTree t;
    constexpr int kSubtrees = 32;
    t.file("orig/shared.bin", 300000);
    for (int i = 0; i < kSubtrees; ++i) {
        const std::string top = "p" + std::to_string(i);
        t.file(top + "/q/big.bin", 300000);
        if (i % 2 == 0)
            t.hardlink(top + "/q/r/shared.bin", "orig/shared.bin");
        else
            t.file(top + "/q/r/own.bin", 300000);
    }
    const int names = 1 + kSubtrees / 2;
    const std::int64_t shared_size = blocks(t.path("orig/shared.bin"));
    auto is_shared = [](const FileNode& n) { return n.name == "shared.bin"; };
    const std::string survivor = first_met(t.root(), "shared.bin");

    for (int round = 0; round < 4; ++round) {
        scanner::Options off;
        off.dedupe_hard_links = false;
        scanner::ScanDetails all_facts;
        const auto counted = scan(t.root(), off, nullptr, &all_facts);
        EXPECT_EQ(broken_invariant(*counted), "");
        EXPECT_EQ(count_nodes(*counted, is_shared), names);
        EXPECT_EQ(all_facts.leaves.size(), static_cast<std::size_t>(names));
        for (const auto& [id, facts] : all_facts.leaves)
            EXPECT_TRUE(facts.multiply_linked) << "leaf " << id;

        scanner::ScanDetails facts;
        const auto deduped = scan(t.root(), {}, nullptr, &facts);
        EXPECT_EQ(broken_invariant(*deduped), "");
        EXPECT_EQ(count_nodes(*deduped, is_shared), 1);
        EXPECT_EQ(count_nodes(*deduped, [&](const FileNode& n) { return n.path == survivor; }), 1);
        EXPECT_EQ(deduped->size, counted->size - (names - 1) * shared_size);
        EXPECT_EQ(deduped->file_count, counted->file_count - (names - 1));
        EXPECT_EQ(facts.leaves.size(), 1u);
    }
}

TEST(ScannerAssembly, TimesCategoriesAndOrder) {
    I18n::instance().set_language("en");
    TempTree t;
    t.file("media/a.mp4", 900000);
    t.file("media/b.mp4", 500000);
    t.file("media/c.jpg", 700000);
    t.file("media/old.txt", 10);
    t.file("media/older.txt", 10);
    const timespec stamp[2] = {{1000000000, 0}, {1000000000, 0}};
    const timespec newer[2] = {{1600000000, 0}, {1600000000, 0}};
    for (const char* f : {"media/a.mp4", "media/b.mp4", "media/c.jpg", "media/old.txt", "media"})
        ASSERT_EQ(::utimensat(AT_FDCWD, t.path(f).c_str(), stamp, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, t.path("media/older.txt").c_str(), newer, 0), 0);

    const auto root = scan(t.root());
    const FileNode* media = child(*root, "media");
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(media->category, FileCategory::Video); // 1.4 MB of video beats 0.7 MB of image
    EXPECT_EQ(media->modified, 1600000000);
    const FileNode* agg = child(*media, "Small files");
    ASSERT_NE(agg, nullptr);
    EXPECT_EQ(agg->modified, 1600000000);
    ASSERT_EQ(media->children.size(), 4u);
    EXPECT_EQ(media->children[0]->name, "a.mp4");
    EXPECT_EQ(media->children[1]->name, "c.jpg");
    EXPECT_EQ(media->children[2]->name, "b.mp4");
    struct stat st {};
    ASSERT_EQ(::stat(t.path("media").c_str(), &st), 0);
    EXPECT_EQ(media->created, st.st_ctim.tv_sec);

    t.dir("hollow/empty");
    const auto again = scan(t.root());
    const FileNode* hollow = child(*again, "hollow");
    ASSERT_NE(hollow, nullptr);
    EXPECT_FALSE(child(*hollow, "empty")->can_enter());
    EXPECT_EQ(broken_invariant(*again), "");
}

TEST(ScannerWalk, UnreadableFolderIsDeniedAndEmpty) {
    TempTree t;
    t.file("open/a.bin", 300000);
    t.file("closed/secret.bin", 300000);
    t.file("closed/inner/more.bin", 300000);
    t.chmod("closed", 0300); // search but no listing
    const int status = testing_support::run_unprivileged([&] {
        ScanProgress progress;
        const auto root = scanner::scan(t.root(), progress, {});
        const FileNode* closed = child(*root, "closed");
        const FileNode* open = child(*root, "open");
        return closed != nullptr && open != nullptr && closed->is_directory && closed->is_denied &&
               !closed->is_timeout && closed->children.empty() && !closed->can_enter() &&
               closed->size == blocks(t.path("closed")) && progress.denied_count() == 1 &&
               open->size > 0 && !open->is_denied;
    });
    EXPECT_EQ(status, 0);
}

TEST(ScannerWalk, UnreadableRootIsDenied) {
    TempTree t;
    t.file("locked/a.bin", 300000);
    t.chmod("locked", 0000);
    const int status = testing_support::run_unprivileged([&] {
        ScanProgress progress;
        const auto root = scanner::scan(t.path("locked"), progress, {});
        return root->is_directory && root->is_denied && root->children.empty() &&
               progress.denied_count() == 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(ScannerWalk, FolderWhoseListingFailsIsDenied) {
    TempTree t;
    t.file("a.bin", 300000);
    constexpr int kNoFilters = 77;
    const int status = testing_support::run_in_child([&] {
        // Every directory read fails with EIO, as on a failing disk.
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
        ScanProgress progress;
        const auto root = scanner::scan(t.root(), progress, {});
        return root->is_directory && root->is_denied && !root->can_enter() &&
               progress.denied_count() == 1;
    });
    if (status == kNoFilters) GTEST_SKIP() << "seccomp filters are not available here";
    EXPECT_EQ(status, 0);
}

TEST(ScannerWalk, BrokenNamesAreReadAndMarkedRepaired) {
    TempTree t;
    const std::string bad_dir = "caf\xE9";
    const std::string bad_file = "x\xFFy.bin";
    t.file(bad_dir + "/inside.bin", 300000);
    t.file(bad_dir + "/deeper/more.bin", 300000);
    t.file(bad_file, 300000);
    t.file("line\nbreak.bin", 300000);
    t.file("fine.bin", 300000);

    ScanProgress progress;
    const auto root = scan(t.root(), {}, &progress);
    EXPECT_EQ(progress.denied_count(), 0);
    const FileNode* dir = child(*root, "caf\xEF\xBF\xBD");
    ASSERT_NE(dir, nullptr);
    EXPECT_FALSE(dir->is_denied) << "raw name bytes open the folder";
    EXPECT_TRUE(dir->path_repaired);
    EXPECT_EQ(dir->path, t.root() + "/caf\xEF\xBF\xBD");
    const FileNode* inside = child(*dir, "inside.bin");
    ASSERT_NE(inside, nullptr);
    EXPECT_TRUE(inside->path_repaired);
    const FileNode* more = at(*dir, {"deeper", "more.bin"});
    ASSERT_NE(more, nullptr);
    EXPECT_TRUE(more->path_repaired);
    const FileNode* file = child(*root, "x\xEF\xBF\xBDy.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->path_repaired);
    ASSERT_NE(child(*root, "line\nbreak.bin"), nullptr);
    EXPECT_FALSE(child(*root, "line\nbreak.bin")->path_repaired);
    EXPECT_FALSE(child(*root, "fine.bin")->path_repaired);
    EXPECT_FALSE(root->path_repaired);
    EXPECT_EQ(root->file_count, 5);
}

TEST(ScannerWalk, ThousandDeepPathsBeyondPathMaxAreWalked) {
    TempTree t;
    const int depth = 1000;
    t.deep_chain("", depth, "level_0123", 300000);
    ScanProgress progress;
    const auto root = scan(t.root(), {}, &progress);
    EXPECT_EQ(progress.denied_count(), 0);
    const FileNode* n = root.get();
    int levels = 0;
    while (n->is_directory && !n->children.empty()) {
        n = n->children.front().get();
        levels += n->is_directory ? 1 : 0;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(n->name, "bottom");
    EXPECT_GT(n->path.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(root->file_count, 1);
    EXPECT_EQ(broken_invariant(*root), "");
}

TEST(ScannerWalk, RunningOutOfDescriptorsDeniesInsteadOfFailing) {
    TempTree t;
    t.file("a/x.bin", 300000);
    const int status = testing_support::run_in_child([&] {
        const rlimit low{32, 32};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0) return false;
        std::vector<int> hoard;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            hoard.push_back(fd);
        if (errno != EMFILE) return false;
        ScanProgress progress;
        const auto root = scanner::scan(t.root(), progress, {});
        for (const int fd : hoard)
            ::close(fd);
        return root->is_directory && root->is_denied && progress.denied_count() == 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(ScannerCancel, CancelledBeforeStartReturnsTheEmptyRoot) {
    TempTree t;
    t.file("a/b.bin", 300000);
    ScanProgress progress;
    progress.cancel();
    const auto root = scan(t.root(), {}, &progress);
    ASSERT_TRUE(root->is_directory);
    EXPECT_TRUE(root->children.empty());
    EXPECT_EQ(root->size, blocks(t.root()));
}

TEST(ScannerCancel, CancelDuringTheWalkCutsItShortAndKeepsTheTreeConsistent) {
    // Many small folders: the walk checks for a cancel before each one, and
    // takes long enough for the cancelling thread to be scheduled even on a
    // busy machine. A few tries allow for one that the walk outran all the same.
    TempTree t;
    quick_files(t, 800, 2);
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
        ASSERT_TRUE(partial->is_directory);
        EXPECT_EQ(broken_invariant(*partial), "");
        EXPECT_LE(partial->size, full->size);
        fewest = std::min(fewest, partial->file_count);
    }
    EXPECT_LT(fewest, full->file_count) << "the cancel never cut the walk short";
}

TEST(ScannerWalk, TreeChangingDuringTheScanNeverLeadsOutside) {
    TempTree outside;
    outside.file("outside_marker.bin", 300000);
    TempTree t;
    quick_files(t, 30, 20);
    t.file("swap/inside.bin", 300000);

    std::atomic<bool> stop{false};
    std::thread churn([&] {
        int i = 0;
        while (!stop.load()) {
            const std::string dir = t.path("churn" + std::to_string(i % 5));
            ::mkdir(dir.c_str(), 0755);
            const std::string f = dir + "/f" + std::to_string(i);
            const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)::write(fd, "data", 4);
                ::close(fd);
            }
            if (i % 3 == 0) ::unlink(f.c_str());
            if (i % 7 == 0) testing_support::remove_tree(dir);
            // Swap a folder for a link to somewhere else and back again.
            ::rename(t.path("swap").c_str(), t.path("swap_away").c_str());
            ::symlink(outside.root().c_str(), t.path("swap").c_str());
            ::unlink(t.path("swap").c_str());
            ::rename(t.path("swap_away").c_str(), t.path("swap").c_str());
            ++i;
        }
    });
    for (int round = 0; round < 20; ++round) {
        const auto root = scan(t.root());
        ASSERT_TRUE(root->is_directory);
        EXPECT_EQ(broken_invariant(*root), "");
        EXPECT_EQ(
            count_nodes(*root, [](const FileNode& n) { return n.name == "outside_marker.bin"; }),
            0);
    }
    stop = true;
    churn.join();
}

// The mount table is loaded once per process, from the namespace the process
// was in then; the checks therefore run in a fresh copy of this program
// started inside the namespace (ScannerMountsInNamespace below), which must
// run and pass there.
TEST(ScannerMounts, SkippedAndEnteredMountsInAPrivateNamespace) {
    TempTree t;
    t.file("home/a.bin", 300000);
    t.dir("home/disk");
    t.dir("home/pseudo");
    t.dir("home/ro");
    const auto body = [&] {
        const std::string disk = t.path("home/disk");
        const std::string pseudo = t.path("home/pseudo");
        const std::string ro = t.path("home/ro");
        if (!testing_support::mount_tmpfs(disk) || !testing_support::mount_tmpfs(ro)) return false;
        if (::mount("none", pseudo.c_str(), "ramfs", 0, nullptr) != 0) return false;
        testing_support::write_file(disk + "/on_disk.bin", std::string(300000, 'd'));
        testing_support::write_file(pseudo + "/in_ram.bin", std::string(300000, 'r'));
        testing_support::write_file(ro + "/frozen.bin", std::string(300000, 'f'));
        if (!testing_support::remount_read_only(ro)) return false;

        const auto fresh = testing_support::run_test_in_fresh_process(
            "ScannerMountsInNamespace.MountsBelowTheRoot",
            {{"SPACEMOLE_TEST_MOUNT_ROOT", t.path("home")}});
        if (!fresh.passed) std::fprintf(stderr, "%s\n", fresh.output.c_str());
        return fresh.passed;
    };
    SPACEMOLE_IN_MOUNT_NAMESPACE(body);
}

TEST(ScannerMountsInNamespace, MountsBelowTheRoot) {
    const char* home = std::getenv("SPACEMOLE_TEST_MOUNT_ROOT");
    if (home == nullptr) GTEST_SKIP() << "runs only inside ScannerMounts";
    {
        ScanProgress progress;
        scanner::Options options;
        options.one_filesystem = true;
        const auto root = scanner::scan(home, progress, options);
        for (const char* name : {"disk", "pseudo", "ro"}) {
            const FileNode* m = child(*root, name);
            ASSERT_NE(m, nullptr) << name;
            EXPECT_TRUE(m->is_denied && m->is_timeout) << name;
            EXPECT_EQ(m->size, 0) << name;
            EXPECT_TRUE(m->children.empty()) << name;
            EXPECT_TRUE(m->is_readonly) << name << ": removing a mount point reaches into it";
        }
        EXPECT_EQ(progress.skipped_count(), 3);
        EXPECT_EQ(progress.denied_count(), 0);
        EXPECT_NE(child(*root, "a.bin"), nullptr);
        EXPECT_FALSE(root->is_readonly);
    }
    {
        ScanProgress progress;
        const auto root = scanner::scan(home, progress, {});
        const FileNode* d = child(*root, "disk");
        const FileNode* p = child(*root, "pseudo");
        const FileNode* r = child(*root, "ro");
        ASSERT_TRUE(d && p && r);
        EXPECT_FALSE(d->is_denied);
        EXPECT_NE(child(*d, "on_disk.bin"), nullptr) << "another local file system is entered";
        EXPECT_FALSE(d->is_readonly);
        EXPECT_TRUE(p->is_timeout) << "a pseudo file system is never entered";
        EXPECT_TRUE(p->children.empty());
        EXPECT_FALSE(r->is_denied);
        EXPECT_TRUE(r->is_readonly);
        ASSERT_NE(child(*r, "frozen.bin"), nullptr);
        EXPECT_TRUE(child(*r, "frozen.bin")->is_readonly);
        EXPECT_FALSE(child(*root, "a.bin")->is_readonly);
        EXPECT_EQ(progress.skipped_count(), 1);
    }
}
