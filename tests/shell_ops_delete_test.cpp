// Permanent deletion on real trees: deep folders, links, undeletable parts,
// mounts below the item and a folder swapped for a link after the check.
// Cases run in child processes (the guard and mount tables are per process).
#include "shell_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "temp_tree.h"
#include "trash_helpers.h"

using namespace testing_support;
using shell_ops::TrashMessage;

namespace {

std::string key(TrashMessage m) {
    return shell_ops::message_key(m);
}

void use_home(TempTree& tree) {
    set_env("HOME", tree.dir("home"));
    set_env("XDG_DATA_HOME", tree.path("data"));
}

// A chain of `depth` folders "d" below `rel`, a file at the bottom; built
// with descriptor-relative calls so the path length does not matter.
void deep_chain(TempTree& tree, const std::string& rel, int depth) {
    int fd = ::open(tree.dir(rel).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);
}

TEST(DeletePermanently, RemovesDeepTreesFilesAndOnlyTheLinkOfALinkedFolder) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  use_home(tree);
                  deep_chain(tree, "work/deep", 600);
                  tree.file("work/deep/side/a.txt", 100);
                  const std::string file = tree.file("work/plain.txt", 10);
                  tree.file("elsewhere/keep.txt", 5);
                  const std::string link = tree.symlink("work/link", tree.path("elsewhere"));
                  const std::string deep = tree.path("work/deep");
                  const auto r = shell_ops::delete_permanently({deep, file, link});
                  EXPECT_EQ(r.trashed, (std::vector<std::string>{deep, file, link}));
                  EXPECT_EQ(r.failed_count, 0);
                  EXPECT_EQ(r.error, "");
                  EXPECT_TRUE(r.no_trash_available.empty());
                  EXPECT_TRUE(list_dir(tree.path("work")).empty());
                  EXPECT_EQ(read_file(tree.path("elsewhere/keep.txt")), "xxxxx");
                  EXPECT_FALSE(exists(tree.path("data/Trash"))); // nothing went to a trash
              }),
              0);
}

TEST(DeletePermanently, BatchGoesOnPastProtectedAndMissingItems) {
    TempTree tree;
    EXPECT_EQ(
        run_in_child([&] {
            use_home(tree);
            tree.file("home/Documents/keep.txt", 1);
            const std::string good = tree.file("work/good", 1);
            const auto r = shell_ops::delete_permanently(
                {tree.path("home/Documents"), tree.path("work/never-there"), good, "x/y"});
            // An item that is already gone counts as deleted.
            EXPECT_EQ(r.trashed, (std::vector<std::string>{tree.path("work/never-there"), good}));
            EXPECT_EQ(r.failed_count, 2);
            EXPECT_EQ(r.error, "Protected system location");
            EXPECT_TRUE(exists(tree.path("home/Documents/keep.txt")));
            EXPECT_FALSE(exists(good));
        }),
        0);
}

TEST(DeletePermanently, UndeletablePartsStayAndTheRestGoes) {
    TempTree tree;
    const std::string base = tree.dir("shared");
    ASSERT_EQ(::chmod(base.c_str(), 0777), 0);
    EXPECT_EQ(run_unprivileged([&] {
                  set_env("HOME", base + "/home");
                  ::mkdir((base + "/home").c_str(), 0700);
                  const std::string item = base + "/item";
                  for (const char* d : {"", "/keep", "/gone", "/gone/sub"})
                      ::mkdir((item + d).c_str(), 0755);
                  write_file(item + "/keep/file", "k");
                  write_file(item + "/gone/sub/file", "g");
                  write_file(item + "/top.txt", "t");
                  ::chmod((item + "/keep").c_str(), 0555); // its file cannot be unlinked
                  // And a file in a folder we may not write: refused outright.
                  ::mkdir((base + "/locked").c_str(), 0755);
                  write_file(base + "/locked/file", "l");
                  ::chmod((base + "/locked").c_str(), 0555);
                  const auto r = shell_ops::delete_permanently({item, base + "/locked/file"});
                  bool ok = r.trashed.empty() && r.failed_count == 2 &&
                            r.error == key(TrashMessage::NotMoved);
                  ok = ok && read_file(item + "/keep/file") == "k";
                  ok = ok && list_dir(item) == std::vector<std::string>{"keep"};
                  ok = ok && read_file(base + "/locked/file") == "l";
                  if (!ok) std::fprintf(stderr, "error: %s\n", r.error.c_str());
                  return ok;
              }),
              0);
}

TEST(DeletePermanently, NeverEntersAnotherFileSystemMountedBelow) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        use_home(tree);
        const std::string item = tree.dir("work/item");
        tree.file("work/item/a.txt", 3);
        tree.file("work/item/b/c.txt", 3);
        const std::string disk = tree.dir("work/item/disk");
        const std::string bind = tree.dir("work/item/bind");
        tree.file("other/bound.txt", 2);
        // The mounts appear after the guard's answer, so only the removal
        // itself can notice them: a second disk, and a same-device bind mount.
        shell_ops::TrashOptions options;
        options.after_guard = [&](const std::string&) {
            ASSERT_TRUE(mount_tmpfs(disk));
            write_file(disk + "/on-disk", "d");
            ASSERT_EQ(::mkdir((disk + "/folder").c_str(), 0755), 0);
            write_file(disk + "/folder/deeper", "e");
            ASSERT_TRUE(mount_bind(tree.path("other"), bind));
        };
        const auto r = shell_ops::delete_permanently({item}, options);
        EXPECT_TRUE(r.trashed.empty());
        EXPECT_EQ(r.failed_count, 1);
        EXPECT_EQ(r.error, key(TrashMessage::NotMoved));
        EXPECT_EQ(read_file(disk + "/on-disk"), "d");
        EXPECT_EQ(read_file(disk + "/folder/deeper"), "e");
        EXPECT_EQ(read_file(tree.path("other/bound.txt")), "xx");
        EXPECT_EQ(list_dir(item), (std::vector<std::string>{"bind", "disk"}));

        // Asked again with the mounts in place, nothing on them is touched.
        write_file(item + "/again.txt", "a");
        const auto again = shell_ops::delete_permanently({item});
        EXPECT_EQ(again.failed_count, 1);
        EXPECT_EQ(read_file(disk + "/on-disk"), "d");
        EXPECT_EQ(read_file(tree.path("other/bound.txt")), "xx");
    });
}

TEST(DeletePermanently, ParentSwappedForALinkAfterTheCheckIsRefused) {
    TempTree tree;
    EXPECT_EQ(
        run_in_child([&] {
            use_home(tree);
            tree.file("home/Documents/precious.txt", 3);
            tree.file("work/Documents/junk.txt", 1);
            shell_ops::TrashOptions options;
            options.after_guard = [&](const std::string&) {
                ASSERT_EQ(::rename(tree.path("work").c_str(), tree.path("work.old").c_str()), 0);
                ASSERT_EQ(::symlink(tree.path("home").c_str(), tree.path("work").c_str()), 0);
            };
            const auto r = shell_ops::delete_permanently({tree.path("work/Documents")}, options);
            EXPECT_TRUE(r.trashed.empty());
            EXPECT_EQ(r.failed_count, 1);
            EXPECT_EQ(r.error, key(TrashMessage::NotMoved));
            EXPECT_EQ(read_file(tree.path("home/Documents/precious.txt")), "xxx");
            EXPECT_TRUE(exists(tree.path("work.old/Documents/junk.txt")));
        }),
        0);
}

TEST(DeletePermanently, ItemReplacedAfterTheCheckIsLeftAlone) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  use_home(tree);
                  const std::string item = tree.file("work/item", 1);
                  shell_ops::TrashOptions options;
                  options.after_guard = [&](const std::string&) {
                      ASSERT_EQ(::rename(item.c_str(), tree.path("work/moved").c_str()), 0);
                      write_file(item, "new content the user never chose");
                  };
                  const auto r = shell_ops::delete_permanently({item}, options);
                  EXPECT_EQ(r.failed_count, 1);
                  EXPECT_EQ(read_file(item), "new content the user never chose");
              }),
              0);
}

} // namespace
