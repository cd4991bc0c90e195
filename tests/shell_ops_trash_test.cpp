// Moving to the trash and permanent deletion on real files: the home trash in
// a temporary data folder, volume trash folders and mounts below an item on
// tmpfs in a private mount namespace. Every case runs in a child process,
// because the home folder, the guard's tables and the mount table are read
// once per process.
#include "shell_ops.h"

#include <csignal>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "i18n.h"
#include "mount_namespace.h"
#include "temp_tree.h"

using namespace testing_support;
using shell_ops::message_key;
using shell_ops::TrashMessage;
namespace rules = shell_ops::trash_rules;

namespace {

using Names = std::vector<std::string>;

const std::string uid = std::to_string(::getuid());

// HOME and the data folder inside the tree: the home trash is data/Trash.
void use_home(TempTree& tree) {
    I18n::instance().set_language("en"); // messages are compared in English
    set_env("HOME", tree.dir("home"));
    set_env("XDG_DATA_HOME", tree.path("data"));
}

// The record, with the date checked for its shape and then cut out.
void expect_record(const std::string& record_path, const std::string& encoded_path) {
    const std::string text = read_file(record_path);
    static const std::regex shape("\\[Trash Info\\]\nPath=([^\n]*)\n"
                                  "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, shape)) << record_path << ":\n" << text;
    EXPECT_EQ(m[1].str(), encoded_path);
}

TEST(TrashRules, RecordsEncodeTheirPathAndNamesNumberBeforeTheExtension) {
    EXPECT_EQ(
        rules::record_text("/x/a b/%\xC3\xA4#?&=+,;'\"\n\x7F\xFF~_-.9", "2024-02-29T23:59:01"),
        "[Trash Info]\nPath=/x/a%20b/%25%C3%A4%23%3F%26%3D%2B%2C%3B%27%22%0A%7F%FF~_-.9\n"
        "DeletionDate=2024-02-29T23:59:01\n");
    const std::tuple<const char*, int, const char*> cases[] = {
        {"photo.jpg", 1, "photo.jpg"},     {"photo.jpg", 2, "photo.2.jpg"},
        {".bashrc", 2, ".bashrc.2"},       {"archive.tar.gz", 2, "archive.tar.2.gz"},
        {"README", 99999, "README.99999"}, {"a.", 2, "a.2."}};
    for (const auto& [base, n, name] : cases)
        EXPECT_EQ(rules::candidate_name(base, n), name) << base << " #" << n;

    // Long names are shortened to leave room for ".trashinfo", never splitting
    // a character; bytes that are not UTF-8 at all are cut, not emptied.
    std::string umlauts;
    for (int i = 0; i < 120; ++i)
        umlauts += "\xC3\xA4";
    for (const std::string& base :
         {umlauts + ".jpg", std::string(255, 'a'), "x." + std::string(250, 'e'),
          std::string(250, '\x80') + ".txt"}) {
        for (int n : {1, 2, 99999}) {
            const std::string name = rules::candidate_name(base, n);
            EXPECT_LE(name.size() + 10, 255u) << n;
            EXPECT_GT(name.size(), 200u);
            EXPECT_EQ(name.find("\xC3."), std::string::npos) << name;
            EXPECT_TRUE(n == 1 || name.find("." + std::to_string(n)) != std::string::npos) << name;
        }
    }
    EXPECT_EQ(rules::candidate_name(umlauts + ".jpg", 2).substr(234), "\xC3\xA4\xC3\xA4.2.jpg");

    int asked = 0;
    EXPECT_FALSE(rules::unique_name("x", [&](const std::string&) { return ++asked > 0; }));
    EXPECT_EQ(asked, 99999);
}

// Runs `body` in a child with HOME and the data folder inside `tree`.
void in_child(TempTree& tree, const std::function<void()>& body) {
    EXPECT_EQ(run_in_child([&] {
                  use_home(tree);
                  body();
              }),
              0);
}

// Into a data folder not made yet, with encoded records. Then collisions,
// stale records and dangling links get the next number, the trash and its
// folders are not moved into themselves, and a record cut short stops a move.
TEST(HomeTrash, EncodedRecordsNumberedNamesAndNeverIntoItself) {
    TempTree tree;
    const std::string trash = tree.path("not/yet/share/Trash");
    in_child(tree, [&] {
        set_env("XDG_DATA_HOME", tree.path("not/yet/share"));
        const std::string folder = tree.dir("work/folder");
        tree.file("work/folder/inner", 5);
        const Names first = {tree.file("work/a b.txt", 2), tree.file("work/\xC3\xA4%.txt", 3),
                             folder};
        EXPECT_EQ(shell_ops::move_to_trash(first).trashed, first);
        EXPECT_EQ(list_dir(tree.path("work")), Names{});
        EXPECT_EQ(read_file(trash + "/files/a b.txt"), "xx");
        EXPECT_EQ(read_file(trash + "/files/\xC3\xA4%.txt"), "xxx");
        EXPECT_EQ(read_file(trash + "/files/folder/inner"), "xxxxx");
        const std::pair<const char*, const char*> records[] = {
            {"a b.txt", "a%20b.txt"}, {"\xC3\xA4%.txt", "%C3%A4%25.txt"}, {"folder", "folder"}};
        for (const auto& [name, encoded] : records)
            expect_record(trash + "/info/" + name + ".trashinfo", tree.root() + "/work/" + encoded);

        // A stale record without its file, and a dangling link without its
        // record: both block the name.
        write_file(trash + "/info/stale.txt.trashinfo", "old record");
        ASSERT_EQ(::symlink("/nonexistent/target", (trash + "/files/dangling").c_str()), 0);
        const std::pair<const char*, const char*> items[] = {
            {"a/photo.jpg", "photo.jpg"},   {"b/photo.jpg", "photo.2.jpg"},
            {"c/photo.jpg", "photo.3.jpg"}, {"a/.bashrc", ".bashrc"},
            {"b/.bashrc", ".bashrc.2"},     {"a/stale.txt", "stale.2.txt"},
            {"a/dangling", "dangling.2"}};
        Names paths;
        for (const auto& [rel, name] : items)
            paths.push_back(tree.file(rel, 1, rel[0]));
        EXPECT_EQ(shell_ops::move_to_trash(paths).trashed, paths);
        for (const auto& [rel, name] : items) {
            EXPECT_EQ(read_file(trash + "/files/" + name), std::string(1, rel[0])) << name;
            expect_record(trash + "/info/" + name + ".trashinfo", tree.root() + "/" + rel);
        }
        EXPECT_EQ(read_file(trash + "/info/stale.txt.trashinfo"), "old record");
        EXPECT_FALSE(exists(trash + "/info/dangling.trashinfo"));

        const Names own{trash + "/info", trash + "/files", trash};
        const auto r = shell_ops::move_to_trash(own);
        EXPECT_EQ(r.failed_count, 3);
        EXPECT_EQ(r.error, message_key(TrashMessage::NoTrash));
        EXPECT_EQ(r.no_trash_available, own);
        EXPECT_EQ(list_dir(trash + "/files").size(), 11u);

        // A record the file system cut short (here by the file size limit) is
        // no record: the item stays where it was.
        const std::string item = tree.file("work/item.txt", 4);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20, 20};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto cut = shell_ops::move_to_trash({item});
        EXPECT_EQ(cut.error, message_key(TrashMessage::RecordFailed));
        EXPECT_EQ(cut.no_trash_available, Names{item});
        EXPECT_EQ(read_file(item), "xxxx");
        EXPECT_EQ(list_dir(trash + "/info").size(), 11u);
    });
}

// Both removals pin the item through the same step.
struct Removal {
    const char* name;
    shell_ops::TrashResult (*run)(const Names&, const shell_ops::TrashOptions&);
    bool missing_is_done; // an item already gone counts as deleted, not as a failure
};

class PinnedRemoval : public ::testing::TestWithParam<Removal> {
protected:
    TempTree tree;
};

TEST_P(PinnedRemoval, BatchGoesOnPastFailuresReportsTheFirstAndLinksLoseOnlyThemselves) {
    in_child(tree, [&] {
        tree.file("home/Documents/keep.txt", 1);
        const std::string good = tree.file("work/good.txt", 2);
        const std::string deep = tree.deep_chain("work/deep", 600);
        const std::string link = tree.symlink("work/link-to-dir", tree.dir("target"));
        tree.file("target/inside", 1);
        const std::string missing = tree.path("work/never-there");
        const auto r = GetParam().run(
            {tree.path("home/Documents"), "relative/x", good, deep, link, missing}, {});
        const bool done = GetParam().missing_is_done;
        EXPECT_EQ(r.trashed, (done ? Names{good, deep, link, missing} : Names{good, deep, link}));
        EXPECT_EQ(r.failed_count, done ? 2 : 3);
        EXPECT_EQ(r.error, "Protected system location");
        EXPECT_TRUE(r.no_trash_available.empty());
        EXPECT_TRUE(exists(tree.path("home/Documents/keep.txt")));
        EXPECT_EQ(list_dir(tree.path("work")), Names{});
        EXPECT_TRUE(exists(tree.path("target/inside"))); // the link went, not its target
        EXPECT_EQ(exists(tree.path("data")), !done);     // deleting uses no trash
    });
}

// Between the guard's answer and the removal, a parent folder is swapped for
// a link into the home, and an item is replaced by a file the user never chose.
TEST_P(PinnedRemoval, ChangesAfterTheCheckAreRefused) {
    in_child(tree, [&] {
        tree.file("home/Documents/precious.txt", 3);
        tree.file("work/Documents/junk.txt", 1);
        const std::string item = tree.file("other/item", 1);
        shell_ops::TrashOptions options;
        options.after_guard = [&](const std::string& path) {
            if (path == item) {
                ASSERT_EQ(::rename(item.c_str(), tree.path("other/moved").c_str()), 0);
                write_file(item, "new");
                return;
            }
            ASSERT_EQ(::rename(tree.path("work").c_str(), tree.path("work.old").c_str()), 0);
            ASSERT_EQ(::symlink(tree.path("home").c_str(), tree.path("work").c_str()), 0);
        };
        const auto r = GetParam().run({tree.path("work/Documents"), item}, options);
        EXPECT_EQ(r.failed_count, 2);
        EXPECT_EQ(r.error, message_key(TrashMessage::NotMoved));
        EXPECT_EQ(read_file(tree.path("home/Documents/precious.txt")), "xxx");
        EXPECT_TRUE(exists(tree.path("work.old/Documents/junk.txt")));
        EXPECT_EQ(read_file(item), "new");
        EXPECT_EQ(list_dir(tree.path("data/Trash/info")), Names{});
    });
}

INSTANTIATE_TEST_SUITE_P(Removals, PinnedRemoval,
                         ::testing::Values(Removal{"Trash", &shell_ops::move_to_trash, false},
                                           Removal{"Delete", &shell_ops::delete_permanently, true}),
                         [](const auto& row) { return std::string(row.param.name); });

// As an ordinary user: what may not be moved or removed stays, the rest goes,
// and a refused move leaves no record behind.
TEST(DeletePermanently, AsAUserUndeletablePartsStayAndARefusedTrashLeavesNoRecord) {
    TempTree tree;
    tree.chmod("", 0777);
    EXPECT_EQ(run_unprivileged([&] {
                  use_home(tree);
                  const std::string item = tree.path("item");
                  const std::string locked = tree.path("locked/file");
                  write_file(item + "/keep/file", "k");
                  write_file(item + "/gone/sub/file", "g");
                  write_file(item + "/top.txt", "t");
                  write_file(locked, "l");
                  tree.chmod("item/keep", 0555); // its file cannot be unlinked
                  tree.chmod("locked", 0555);
                  auto r = shell_ops::move_to_trash({locked});
                  EXPECT_EQ(r.error, message_key(TrashMessage::PermissionDenied));
                  EXPECT_TRUE(r.no_trash_available.empty());
                  EXPECT_EQ(list_dir(tree.path("data/Trash/info")), Names{});
                  r = shell_ops::delete_permanently({item, locked});
                  EXPECT_TRUE(r.trashed.empty());
                  EXPECT_EQ(r.error, message_key(TrashMessage::NotMoved));
                  EXPECT_EQ(read_file(item + "/keep/file"), "k");
                  EXPECT_EQ(list_dir(item), Names{"keep"});
                  EXPECT_EQ(read_file(locked), "l");
                  return true;
              }),
              0);
}

TEST(DeletePermanently, NeverEntersAnotherFileSystemMountedAfterTheCheck) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        use_home(tree);
        const std::string item = tree.dir("work/item");
        tree.file("work/item/b/c.txt", 3);
        const std::string disk = tree.dir("work/item/disk");
        const std::string bind = tree.dir("work/item/bind");
        const std::string self = tree.dir("work/self");
        tree.file("other/bound.txt", 2);
        // The mounts appear after the guard's answer, so only the removal
        // itself can notice them: a second disk, a same-device bind mount, and
        // a folder bound onto itself (same device and inode as when judged).
        shell_ops::TrashOptions options;
        options.after_guard = [&](const std::string& path) {
            if (path == self) {
                ASSERT_TRUE(mount_bind(self, self));
                return;
            }
            ASSERT_TRUE(mount_tmpfs(disk));
            write_file(disk + "/folder/deeper", "e");
            ASSERT_TRUE(mount_bind(tree.path("other"), bind));
        };
        const auto r = shell_ops::delete_permanently({item}, options);
        EXPECT_EQ(r.failed_count, 1);
        EXPECT_EQ(r.error, message_key(TrashMessage::NotMoved));
        EXPECT_EQ(read_file(disk + "/folder/deeper"), "e");
        EXPECT_EQ(read_file(tree.path("other/bound.txt")), "xx");
        EXPECT_EQ(list_dir(item), (Names{"bind", "disk"}));
        EXPECT_EQ(shell_ops::delete_permanently({self}, options).error,
                  "Protected system location");
    });
}

// Our own .Trash-<uid> only when it is a real folder of ours: one someone
// else made first, or a link to a folder elsewhere, is refused. A shared
// .Trash is used first, but only when it is a real folder with the sticky bit;
// our own is closed to others when it was not. The home trash on another
// device is not even made. A read-only volume is not tried.
TEST(VolumeTrash, StickySharedTrashFirstThenOwnPrivateFolderNeverAForeignOne) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        use_home(tree);
        const std::string top = tree.dir("vol"); // a volume, elsewhere than the data folder
        ASSERT_TRUE(mount_tmpfs(top));
        const std::string sticky = top + "/.Trash";
        const std::string own = top + "/.Trash-" + uid;
        const auto trash = [&](const std::string& name) {
            write_file(top + "/" + name, name);
            return shell_ops::move_to_trash({top + "/" + name});
        };
        bool foreign = true; // not where this user namespace has no other ids
        for (const char* d : {"", "/files", "/info"}) {
            ASSERT_EQ(::mkdir((own + d).c_str(), 0700), 0);
            foreign = foreign && ::chown((own + d).c_str(), 65534, 65534) == 0;
        }
        if (foreign) {
            const auto r = trash("secret");
            EXPECT_EQ(r.error, message_key(TrashMessage::NoTrash));
            EXPECT_EQ(r.no_trash_available, Names{top + "/secret"});
            EXPECT_EQ(list_dir(own + "/files"), Names{});
            EXPECT_EQ(list_dir(own + "/info"), Names{});
        }
        remove_tree(own);
        ASSERT_EQ(::mkdir((top + "/elsewhere").c_str(), 0700), 0);
        ASSERT_EQ(::symlink("elsewhere", own.c_str()), 0);
        EXPECT_EQ(trash("secret").error, message_key(TrashMessage::NoTrash));
        EXPECT_EQ(read_file(top + "/secret"), "secret");
        EXPECT_EQ(list_dir(top + "/elsewhere"), Names{});
        ASSERT_EQ(::unlink(own.c_str()), 0);

        ASSERT_EQ(::mkdir(sticky.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
        ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
        EXPECT_EQ(trash("one").failed_count, 0);
        EXPECT_EQ(read_file(sticky + "/" + uid + "/files/one"), "one");
        EXPECT_EQ(list_dir(own), Names{});

        ASSERT_EQ(::chmod(sticky.c_str(), 0777), 0);
        EXPECT_EQ(trash("stick two").failed_count, 0);
        EXPECT_EQ(read_file(own + "/files/stick two"), "stick two");
        expect_record(own + "/info/stick two.trashinfo", top + "/stick%20two");
        struct stat st {};
        ASSERT_EQ(::lstat(own.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_FALSE(exists(tree.path("data")));

        ASSERT_EQ(::rename(sticky.c_str(), (top + "/real-trash").c_str()), 0);
        ASSERT_EQ(::chmod((top + "/real-trash").c_str(), 01777), 0);
        ASSERT_EQ(::symlink("real-trash", sticky.c_str()), 0);
        EXPECT_EQ(trash("three").failed_count, 0);
        EXPECT_EQ(read_file(own + "/files/three"), "three");

        // With a complete trash folder on it, a read-only volume is not tried.
        write_file(top + "/kept", "k");
        ASSERT_TRUE(remount_read_only(top));
        const auto r = shell_ops::move_to_trash({top + "/kept"});
        EXPECT_EQ(r.error, message_key(TrashMessage::NoTrash));
        EXPECT_EQ(r.no_trash_available, Names{top + "/kept"});
        EXPECT_EQ(read_file(top + "/kept"), "k");
    });
}

TEST(VolumeTrash, BindMountOfTheHomeDiskUsesItsOwnTrashAfterCrossDeviceRefusal) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        // Data home and the item share one tmpfs, but the item is reached
        // through a bind mount, so rename into the home trash gives EXDEV.
        const std::string disk = tree.dir("disk");
        ASSERT_TRUE(mount_tmpfs(disk));
        use_home(tree);
        set_env("XDG_DATA_HOME", disk + "/data");
        write_file(disk + "/sub/item", "i");
        const std::string bind = tree.dir("bind");
        ASSERT_TRUE(mount_bind(disk + "/sub", bind));
        const auto r = shell_ops::move_to_trash({bind + "/item"});
        EXPECT_EQ(r.trashed, Names{bind + "/item"}) << r.error;
        EXPECT_EQ(read_file(bind + "/.Trash-" + uid + "/files/item"), "i");
        expect_record(bind + "/.Trash-" + uid + "/info/item.trashinfo", bind + "/item");
        EXPECT_EQ(list_dir(disk + "/data/Trash/info"), Names{}); // no orphan from the try
    });
}

} // namespace
