// Trees that once made the scan slow or wrong: a very deep chain, a bind
// mount that leads back above the scanned folder, a folder that can be listed
// but not searched.
#include "scanner.h"

#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "mount_namespace.h"
#include "temp_tree.h"

using testing_support::TempTree;

namespace {

const FileNode* child(const FileNode& parent, const std::string& name) {
    for (const auto& c : parent.children)
        if (c->name == name) return c.get();
    return nullptr;
}

long long blocks(const std::string& path) {
    return TempTree::allocated(path);
}

// `depth` nested folders "d" below `base` with a file at the bottom, made and
// measured with descriptor-relative calls: returns the occupied bytes of the
// chain and its file, or -1.
long long make_chain(const std::string& base, int depth, std::size_t file_bytes) {
    long long total = 0;
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < depth; ++i) {
        if (::mkdirat(fd, "d", 0755) != 0) break;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) return -1;
    const int file = ::openat(fd, "bottom.bin", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string data(file_bytes, 'b');
    const bool written =
        file >= 0 && ::write(file, data.data(), data.size()) == static_cast<ssize_t>(file_bytes);
    if (file >= 0) ::close(file);
    ::close(fd);
    if (!written) return -1;
    // Sizes are read after everything is written, when every folder holds
    // its one entry.
    fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < depth; ++i) {
        struct stat st {};
        if (::fstatat(fd, "d", &st, AT_SYMLINK_NOFOLLOW) != 0) break;
        total += static_cast<long long>(st.st_blocks) * 512;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    struct stat st {};
    if (fd < 0 || ::fstatat(fd, "bottom.bin", &st, 0) != 0) return -1;
    ::close(fd);
    return total + static_cast<long long>(st.st_blocks) * 512;
}

// Removes a chain at any depth with constant descriptors and stack: the
// second folder moves up beside the first, which is then empty and goes.
void remove_chain(const std::string& base) {
    const int top = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return;
    for (;;) {
        const int d = ::openat(top, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d < 0) break;
        const bool deeper = ::renameat(d, "d", top, "next") == 0;
        if (!deeper) ::unlinkat(d, "bottom.bin", 0);
        ::close(d);
        ::unlinkat(top, "d", AT_REMOVEDIR);
        if (!deeper || ::renameat(top, "next", top, "d") != 0) break;
    }
    ::close(top);
}

TEST(ScannerFaults, ChainTwentyThousandFoldersDeepIsWalkedWhole) {
    TempTree t;
    constexpr int kDepth = 20000;
    const long long chain = make_chain(t.root(), kDepth, 300000);
    ASSERT_GT(chain, 0);
    ScanProgress progress;
    const auto root = scanner::scan(t.root(), progress, {});
    EXPECT_EQ(progress.denied_count(), 0);
    EXPECT_EQ(root->size, blocks(t.root()) + chain);
    EXPECT_EQ(root->file_count, 1);
    int levels = 0;
    const FileNode* n = root.get();
    while (const FileNode* d = child(*n, "d")) {
        n = d;
        ++levels;
    }
    EXPECT_EQ(levels, kDepth);
    EXPECT_NE(child(*n, "bottom.bin"), nullptr);
    remove_chain(t.root());
}

// Freeing goes level by level: 200,000 levels freed one destructor inside
// the other would overflow the thread's stack.
TEST(ScannerFaults, FreeingAVeryDeepTreeKeepsTheStackFlat) {
    FileNodePtr deepest;
    FileNodePtr top;
    for (int i = 0; i < 200000; ++i) {
        auto n = std::make_shared<FileNode>();
        n->is_directory = true;
        if (top) n->children.push_back(std::move(top));
        top = std::move(n);
        if (i == 0) deepest = top;
    }
    std::thread([&top] { top.reset(); }).join();
    EXPECT_EQ(top, nullptr);
    EXPECT_EQ(deepest.use_count(), 1) << "a node held elsewhere survives";
}

// A folder above the scanned one, bind-mounted inside it: walking it finds
// the scanned folder again, which must be skipped, not counted twice; with
// one file system the bind mount itself is not entered.
TEST(ScannerFaults, BindMountOfAnAncestorIsACycleNotADoubleCount) {
    TempTree t;
    t.file("top/above.bin", 300000);
    t.file("top/scan/inside.bin", 300000);
    t.dir("top/scan/loop");
    const std::string scan_root = t.path("top/scan");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(testing_support::mount_bind(t.path("top"), t.path("top/scan/loop")));
        const long long own = blocks(scan_root) + blocks(scan_root + "/inside.bin");
        struct Case {
            bool one_filesystem;
            long long size;
            std::int64_t files;
        };
        const Case cases[] = {
            // The bind mount shows "top": its folder and file count; its
            // "scan" is the scanned folder again.
            {false, own + blocks(t.path("top")) + blocks(t.path("top/above.bin")), 2},
            {true, own, 1},
        };
        for (const Case& c : cases) {
            ScanProgress progress;
            scanner::Options options;
            options.one_filesystem = c.one_filesystem;
            const auto root = scanner::scan(scan_root, progress, options);
            EXPECT_EQ(root->size, c.size) << "one file system: " << c.one_filesystem;
            EXPECT_EQ(root->file_count, c.files);
            EXPECT_EQ(progress.skipped_count(), 1);
            const FileNode* loop = child(*root, "loop");
            ASSERT_NE(loop, nullptr);
            const FileNode* skipped = c.one_filesystem ? loop : child(*loop, "scan");
            ASSERT_NE(skipped, nullptr);
            EXPECT_TRUE(skipped->is_denied && skipped->is_timeout && skipped->children.empty());
        }
    });
}

// Read permission without search permission: the names can be listed but
// none examined, so the contents are unknown, as with no permission at all.
TEST(ScannerFaults, FolderListableButNotSearchableIsDenied) {
    TempTree t;
    t.file("listable/a.bin", 300000);
    t.file("listable/sub/b.bin", 300000);
    t.file("open/c.bin", 300000);
    t.chmod("listable", 0444);
    const int status = testing_support::run_unprivileged([&] {
        ScanProgress progress;
        const auto root = scanner::scan(t.root(), progress, {});
        const FileNode* listable = child(*root, "listable");
        if (listable == nullptr) return false;
        EXPECT_TRUE(listable->is_denied);
        EXPECT_FALSE(listable->is_timeout);
        EXPECT_TRUE(listable->children.empty());
        EXPECT_EQ(listable->size, blocks(t.path("listable")));
        EXPECT_EQ(progress.denied_count(), 1);
        EXPECT_EQ(root->file_count, 1);
        return true;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
