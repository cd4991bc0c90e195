// Moving to the trash and permanent deletion on real files: the home trash in
// a temporary data folder, volume trash folders and mounts below an item on
// tmpfs in a private mount namespace. Every case runs in a child process,
// because the home folder, the guard's tables and the mount table are read
// once per process.
#include "shell_ops.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "child_process.h"
#include "i18n.h"
#include "temp_tree.h"

using namespace testing_support;
using shell_ops::TrashMessage;

namespace {

std::string key(TrashMessage m) {
    return shell_ops::message_key(m);
}

std::string uid_text() {
    return std::to_string(::getuid());
}

// HOME and the data folder inside the tree; the trash is data/Trash.
struct HomeSetup {
    std::string home;
    std::string trash;
};

HomeSetup use_home(TempTree& tree, const std::string& data_rel = "data") {
    I18n::instance().set_language("en"); // messages are compared in English
    HomeSetup s;
    s.home = tree.dir("home");
    set_env("HOME", s.home);
    set_env("XDG_DATA_HOME", tree.path(data_rel));
    s.trash = tree.path(data_rel) + "/Trash";
    return s;
}

// The record, with the date checked for its shape and then cut out.
void expect_record(const std::string& record_path, const std::string& encoded_path) {
    const std::string text = read_file(record_path);
    static const std::regex shape(
        "\\[Trash "
        "Info\\]\nPath=([^\n]*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, shape)) << record_path << ":\n" << text;
    EXPECT_EQ(m[1].str(), encoded_path);
}

// ---- Pure rules

TEST(TrashRules, RecordsEncodeTheirPathAndNamesNumberBeforeTheExtension) {
    EXPECT_EQ(shell_ops::trash_rules::record_text("/x/a b/%\xC3\xA4#?&=+,;'\"\n\x7F\xFF~_-.9",
                                                  "2024-02-29T23:59:01"),
              "[Trash Info]\nPath=/x/a%20b/%25%C3%A4%23%3F%26%3D%2B%2C%3B%27%22%0A%7F%FF~_-.9\n"
              "DeletionDate=2024-02-29T23:59:01\n");
    struct Case {
        const char* base;
        int n;
        const char* name;
    } cases[] = {
        {"photo.jpg", 1, "photo.jpg"},
        {"photo.jpg", 2, "photo.2.jpg"},
        {"archive.tar.gz", 2, "archive.tar.2.gz"},
        {".bashrc", 2, ".bashrc.2"},
        {"README", 99999, "README.99999"},
        {"a.", 2, "a.2."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shell_ops::trash_rules::candidate_name(c.base, c.n), c.name)
            << c.base << " #" << c.n;
}

TEST(TrashRules, LongNamesAreShortenedToFitTheRecordName) {
    // 120 two-byte characters: 240 bytes, plus ".jpg".
    std::string umlauts;
    for (int i = 0; i < 120; ++i)
        umlauts += "\xC3\xA4";
    const std::string huge_ext = "x." + std::string(250, 'e');
    // Not UTF-8 at all (stray continuation bytes): cut by bytes, not emptied.
    const std::string stray = std::string(250, '\x80') + ".txt";
    for (const std::string& base : {umlauts + ".jpg", std::string(255, 'a'), huge_ext, stray}) {
        for (int n : {1, 2, 99999}) {
            const std::string name = shell_ops::trash_rules::candidate_name(base, n);
            EXPECT_LE(name.size() + 10, 255u) << n;
            EXPECT_GT(name.size(), 200u);
            // Never a split character: every byte sequence stays whole.
            EXPECT_EQ(name.find("\xC3."), std::string::npos) << name;
            if (n > 1) {
                EXPECT_NE(name.find("." + std::to_string(n)), std::string::npos) << name;
            }
        }
    }
    EXPECT_EQ(shell_ops::trash_rules::candidate_name(umlauts + ".jpg", 2).substr(240 - 6),
              "\xC3\xA4\xC3\xA4.2.jpg");
}

TEST(TrashRules, UniqueNameSkipsTakenNamesAndGivesUp) {
    const std::set<std::string> taken = {"photo.jpg", "photo.2.jpg"};
    const auto name = shell_ops::trash_rules::unique_name(
        "photo.jpg", [&taken](const std::string& n) { return taken.count(n) != 0; });
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, "photo.3.jpg");
    int asked = 0;
    const auto none = shell_ops::trash_rules::unique_name("x", [&asked](const std::string&) {
        ++asked;
        return true;
    });
    EXPECT_FALSE(none.has_value());
    EXPECT_EQ(asked, 99999);
}

// ---- Home trash

TEST(HomeTrash, MovesItemsAndWritesEncodedRecords) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  const HomeSetup s = use_home(tree);
                  const std::string a = tree.file("work/a b.txt", 10);
                  const std::string b = tree.file("work/\xC3\xA4%.txt", 3, 'b');
                  const std::string d = tree.file("work/folder/inner", 5);
                  const std::string folder = tree.path("work/folder");
                  const auto r = shell_ops::move_to_trash({a, b, folder});
                  EXPECT_EQ(r.trashed, (std::vector<std::string>{a, b, folder}));
                  EXPECT_EQ(r.failed_count, 0);
                  EXPECT_EQ(r.error, "");
                  EXPECT_FALSE(exists(a));
                  EXPECT_FALSE(exists(folder));
                  EXPECT_EQ(read_file(s.trash + "/files/a b.txt"), std::string(10, 'x'));
                  EXPECT_EQ(read_file(s.trash + "/files/\xC3\xA4%.txt"), "bbb");
                  EXPECT_EQ(read_file(s.trash + "/files/folder/inner"), std::string(5, 'x'));
                  expect_record(s.trash + "/info/a b.txt.trashinfo",
                                tree.root() + "/work/a%20b.txt");
                  expect_record(s.trash + "/info/\xC3\xA4%.txt.trashinfo",
                                tree.root() + "/work/%C3%A4%25.txt");
                  expect_record(s.trash + "/info/folder.trashinfo", tree.root() + "/work/folder");
                  struct stat st {};
                  ASSERT_EQ(::stat((s.trash + "/info/folder.trashinfo").c_str(), &st), 0);
                  EXPECT_EQ(st.st_mode & 0777, 0600u);
                  (void)d;
              }),
              0);
}

TEST(HomeTrash, CollisionsStaleRecordsAndDanglingLinksGetTheNextNumber) {
    TempTree tree;
    EXPECT_EQ(
        run_in_child([&] {
            const HomeSetup s = use_home(tree);
            tree.dir("data/Trash/files");
            tree.dir("data/Trash/info");
            // A stale record without its file, and a dangling link without
            // its record: both block the name.
            write_file(s.trash + "/info/stale.txt.trashinfo", "old record");
            tree.symlink("data/Trash/files/dangling", "/nonexistent/target");
            std::vector<std::string> items;
            for (const char* dir : {"a", "b", "c"})
                items.push_back(tree.file(std::string(dir) + "/photo.jpg", 1, *dir));
            items.push_back(tree.file("a/.bashrc", 1, '1'));
            items.push_back(tree.file("b/.bashrc", 1, '2'));
            items.push_back(tree.file("a/stale.txt", 1, 's'));
            items.push_back(tree.file("a/dangling", 1, 'd'));
            const auto r = shell_ops::move_to_trash(items);
            EXPECT_EQ(r.trashed, items);
            EXPECT_EQ(read_file(s.trash + "/files/photo.jpg"), "a");
            EXPECT_EQ(read_file(s.trash + "/files/photo.2.jpg"), "b");
            EXPECT_EQ(read_file(s.trash + "/files/photo.3.jpg"), "c");
            EXPECT_EQ(read_file(s.trash + "/files/.bashrc"), "1");
            EXPECT_EQ(read_file(s.trash + "/files/.bashrc.2"), "2");
            EXPECT_EQ(read_file(s.trash + "/files/stale.2.txt"), "s");
            EXPECT_EQ(read_file(s.trash + "/files/dangling.2"), "d");
            EXPECT_EQ(read_file(s.trash + "/info/stale.txt.trashinfo"), "old record");
            expect_record(s.trash + "/info/photo.3.jpg.trashinfo", tree.root() + "/c/photo.jpg");
            expect_record(s.trash + "/info/dangling.2.trashinfo", tree.root() + "/a/dangling");
            EXPECT_FALSE(exists(s.trash + "/info/dangling.trashinfo"));
        }),
        0);
}

TEST(HomeTrash, MissingDataFolderIsCreatedAndLongNamesAreShortened) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  const HomeSetup s = use_home(tree, "not/yet/share");
                  std::string long_name;
                  for (int i = 0; i < 125; ++i)
                      long_name += "\xC3\xA4"; // 250 bytes
                  const std::string item = tree.file("work/" + long_name, 4);
                  const auto r = shell_ops::move_to_trash({item});
                  EXPECT_EQ(r.trashed, std::vector<std::string>{item}) << r.error;
                  EXPECT_FALSE(exists(item));
                  const auto files = list_dir(s.trash + "/files");
                  ASSERT_EQ(files.size(), 1u);
                  EXPECT_LE(files[0].size(), 245u);
                  EXPECT_EQ(read_file(s.trash + "/files/" + files[0]), "xxxx");
                  expect_record(s.trash + "/info/" + files[0] + ".trashinfo",
                                shell_ops::trash_rules::percent_encode(item));
              }),
              0);
}

TEST(HomeTrash, TheTrashAndItsFoldersAreNotMovedIntoThemselves) {
    TempTree tree;
    EXPECT_EQ(
        run_in_child([&] {
            const HomeSetup s = use_home(tree);
            const std::string a = tree.file("work/a.txt", 4);
            ASSERT_EQ(shell_ops::move_to_trash({a}).failed_count, 0);
            const std::vector<std::string> own{s.trash + "/info", s.trash + "/files", s.trash};
            const auto r = shell_ops::move_to_trash(own);
            EXPECT_TRUE(r.trashed.empty());
            EXPECT_EQ(r.failed_count, 3);
            EXPECT_EQ(r.error, key(TrashMessage::NoTrash));
            EXPECT_EQ(r.no_trash_available, own);
            EXPECT_EQ(list_dir(s.trash + "/info"), (std::vector<std::string>{"a.txt.trashinfo"}));
            EXPECT_EQ(list_dir(s.trash + "/files"), (std::vector<std::string>{"a.txt"}));
        }),
        0);
}

TEST(HomeTrash, RenameRefusedAsPermissionDeniedLeavesNoRecord) {
    TempTree tree;
    const std::string base = tree.dir("shared");
    ASSERT_EQ(::chmod(base.c_str(), 0777), 0);
    EXPECT_EQ(run_unprivileged([&] {
                  I18n::instance().set_language("en");
                  set_env("HOME", base + "/home");
                  set_env("XDG_DATA_HOME", base + "/data");
                  ::mkdir((base + "/home").c_str(), 0700);
                  ::mkdir((base + "/locked").c_str(), 0700);
                  write_file(base + "/locked/file", "f");
                  ::chmod((base + "/locked").c_str(), 0555);
                  const auto r = shell_ops::move_to_trash({base + "/locked/file"});
                  const bool ok = r.trashed.empty() && r.failed_count == 1 &&
                                  r.error == key(TrashMessage::PermissionDenied) &&
                                  r.no_trash_available.empty() && exists(base + "/locked/file") &&
                                  list_dir(base + "/data/Trash/info").empty();
                  if (!ok) std::fprintf(stderr, "error: %s\n", r.error.c_str());
                  return ok;
              }),
              0);
}

// ---- Both removals pin the item through the same step

struct Removal {
    const char* name;
    shell_ops::TrashResult (*run)(const std::vector<std::string>&, const shell_ops::TrashOptions&);
    bool missing_is_done; // an item already gone counts as deleted, not as a failure
};

class PinnedRemoval : public ::testing::TestWithParam<Removal> {
protected:
    shell_ops::TrashResult run(const std::vector<std::string>& paths,
                               const shell_ops::TrashOptions& options = {}) {
        return GetParam().run(paths, options);
    }
    TempTree tree;
};

TEST_P(PinnedRemoval, BatchGoesOnPastProtectedItemsAndLinksLoseOnlyThemselves) {
    EXPECT_EQ(
        run_in_child([&] {
            use_home(tree);
            tree.file("home/Documents/keep.txt", 1);
            const std::string good = tree.file("work/good.txt", 2);
            const std::string link = tree.symlink("work/link-to-dir", tree.dir("target"));
            tree.file("target/inside", 1);
            const std::string missing = tree.path("work/never-there");
            const auto r = run({tree.path("home/Documents"), missing, good, link, "relative/x"});
            const bool done = GetParam().missing_is_done;
            const std::vector<std::string> gone =
                done ? std::vector<std::string>{missing, good, link}
                     : std::vector<std::string>{good, link};
            EXPECT_EQ(r.trashed, gone);
            EXPECT_EQ(r.failed_count, done ? 2 : 3);
            EXPECT_EQ(r.error, "Protected system location");
            EXPECT_TRUE(r.no_trash_available.empty());
            EXPECT_TRUE(exists(tree.path("home/Documents/keep.txt")));
            EXPECT_FALSE(exists(good));
            EXPECT_FALSE(exists(link));
            EXPECT_TRUE(exists(tree.path("target/inside"))); // the link went, not its target
        }),
        0);
}

TEST_P(PinnedRemoval, ParentSwappedForALinkAfterTheCheckIsRefused) {
    EXPECT_EQ(run_in_child([&] {
                  const HomeSetup s = use_home(tree);
                  tree.file("home/Documents/precious.txt", 3);
                  tree.file("work/Documents/junk.txt", 1);
                  shell_ops::TrashOptions options;
                  options.after_guard = [&](const std::string&) {
                      // The guard saw work/Documents; now work leads into the home.
                      ASSERT_EQ(::rename(tree.path("work").c_str(), tree.path("work.old").c_str()),
                                0);
                      ASSERT_EQ(::symlink(s.home.c_str(), tree.path("work").c_str()), 0);
                  };
                  const auto r = run({tree.path("work/Documents")}, options);
                  EXPECT_TRUE(r.trashed.empty());
                  EXPECT_EQ(r.failed_count, 1);
                  EXPECT_EQ(r.error, key(TrashMessage::NotMoved));
                  EXPECT_EQ(read_file(tree.path("home/Documents/precious.txt")), "xxx");
                  EXPECT_TRUE(exists(tree.path("work.old/Documents/junk.txt")));
                  EXPECT_TRUE(list_dir(s.trash + "/info").empty());
              }),
              0);
}

TEST_P(PinnedRemoval, ItemReplacedAfterTheCheckIsLeftAlone) {
    EXPECT_EQ(run_in_child([&] {
                  const HomeSetup s = use_home(tree);
                  const std::string item = tree.file("work/item", 1);
                  shell_ops::TrashOptions options;
                  options.after_guard = [&](const std::string&) {
                      ASSERT_EQ(::rename(item.c_str(), tree.path("work/moved").c_str()), 0);
                      write_file(item, "new content the user never chose");
                  };
                  const auto r = run({item}, options);
                  EXPECT_EQ(r.failed_count, 1);
                  EXPECT_EQ(read_file(item), "new content the user never chose");
                  EXPECT_TRUE(list_dir(s.trash + "/files").empty());
              }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Removals, PinnedRemoval,
                         ::testing::Values(Removal{"Trash", &shell_ops::move_to_trash, false},
                                           Removal{"Delete", &shell_ops::delete_permanently, true}),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- Permanent deletion

TEST(DeletePermanently, RemovesDeepTreesFilesAndOnlyTheLinkOfALinkedFolder) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  use_home(tree);
                  tree.deep_chain("work/deep", 600);
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

TEST(DeletePermanently, UndeletablePartsStayAndTheRestGoes) {
    TempTree tree;
    const std::string base = tree.dir("shared");
    ASSERT_EQ(::chmod(base.c_str(), 0777), 0);
    EXPECT_EQ(run_unprivileged([&] {
                  I18n::instance().set_language("en");
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

// ---- Volume trash

struct Volume {
    std::string top;
    std::string data; // on another file system than the volume
};

Volume mount_volume(TempTree& tree, const std::string& rel = "vol") {
    Volume v;
    v.top = tree.dir(rel);
    use_home(tree);
    EXPECT_TRUE(mount_tmpfs(v.top)) << std::strerror(errno);
    return v;
}

TEST(VolumeTrash, PrivateTrashFolderIsCreatedClosedAndUsed) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const Volume v = mount_volume(tree);
        const std::string item = v.top + "/stick file.txt";
        write_file(item, "data");
        const auto r = shell_ops::move_to_trash({item});
        EXPECT_EQ(r.trashed, std::vector<std::string>{item}) << r.error;
        const std::string t = v.top + "/.Trash-" + uid_text();
        EXPECT_EQ(read_file(t + "/files/stick file.txt"), "data");
        expect_record(t + "/info/stick file.txt.trashinfo", v.top + "/stick%20file.txt");
        struct stat st {};
        ASSERT_EQ(::lstat(t.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_FALSE(exists(tree.path("data/Trash/files/stick file.txt")));
    });
}

TEST(VolumeTrash, StickySharedTrashIsPreferredLinksAndPlainFoldersAreNot) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const Volume v = mount_volume(tree);
        const std::string sticky = v.top + "/.Trash";
        ASSERT_EQ(::mkdir(sticky.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
        write_file(v.top + "/one", "1");
        auto r = shell_ops::move_to_trash({v.top + "/one"});
        EXPECT_EQ(r.failed_count, 0) << r.error;
        EXPECT_EQ(read_file(sticky + "/" + uid_text() + "/files/one"), "1");
        EXPECT_FALSE(exists(v.top + "/.Trash-" + uid_text()));

        // Without the sticky bit, and as a link, .Trash is passed over.
        ASSERT_EQ(::chmod(sticky.c_str(), 0777), 0);
        write_file(v.top + "/two", "2");
        r = shell_ops::move_to_trash({v.top + "/two"});
        EXPECT_EQ(r.failed_count, 0) << r.error;
        EXPECT_EQ(read_file(v.top + "/.Trash-" + uid_text() + "/files/two"), "2");

        ASSERT_EQ(::rename(sticky.c_str(), (v.top + "/real-trash").c_str()), 0);
        ASSERT_EQ(::chmod((v.top + "/real-trash").c_str(), 01777), 0);
        ASSERT_EQ(::symlink("real-trash", sticky.c_str()), 0);
        write_file(v.top + "/three", "3");
        r = shell_ops::move_to_trash({v.top + "/three"});
        EXPECT_EQ(r.failed_count, 0) << r.error;
        EXPECT_EQ(read_file(v.top + "/.Trash-" + uid_text() + "/files/three"), "3");
        EXPECT_FALSE(exists(v.top + "/real-trash/" + uid_text() + "/files/three"));
    });
}

TEST(VolumeTrash, ForeignOrLinkedTrashFolderIsRefused) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const Volume v = mount_volume(tree);
        const std::string t = v.top + "/.Trash-" + uid_text();
        // Someone else made it first, looking like a proper trash folder.
        for (const char* d : {"", "/files", "/info"}) {
            ASSERT_EQ(::mkdir((t + d).c_str(), 0700), 0);
            if (::chown((t + d).c_str(), 65534, 65534) != 0) return; // no foreign ids here
        }
        write_file(v.top + "/secret", "s");
        auto r = shell_ops::move_to_trash({v.top + "/secret"});
        EXPECT_TRUE(r.trashed.empty());
        EXPECT_EQ(r.error, key(TrashMessage::NoTrash));
        EXPECT_EQ(r.no_trash_available, std::vector<std::string>{v.top + "/secret"});
        EXPECT_EQ(read_file(v.top + "/secret"), "s");
        EXPECT_TRUE(list_dir(t + "/files").empty());
        EXPECT_TRUE(list_dir(t + "/info").empty());

        // A link to a folder elsewhere is refused the same way.
        remove_tree(t);
        const std::string elsewhere = v.top + "/elsewhere";
        ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
        ASSERT_EQ(::symlink("elsewhere", t.c_str()), 0);
        r = shell_ops::move_to_trash({v.top + "/secret"});
        EXPECT_EQ(r.error, key(TrashMessage::NoTrash));
        EXPECT_EQ(read_file(v.top + "/secret"), "s");
        EXPECT_TRUE(list_dir(elsewhere).empty());
    });
}

TEST(VolumeTrash, OwnTrashFolderWithLooseModeIsTightened) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const Volume v = mount_volume(tree);
        const std::string t = v.top + "/.Trash-" + uid_text();
        ASSERT_EQ(::mkdir(t.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(t.c_str(), 0755), 0);
        write_file(v.top + "/f", "f");
        const auto r = shell_ops::move_to_trash({v.top + "/f"});
        EXPECT_EQ(r.failed_count, 0) << r.error;
        EXPECT_EQ(read_file(t + "/files/f"), "f");
        struct stat st {};
        ASSERT_EQ(::lstat(t.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    });
}

TEST(VolumeTrash, ReadOnlyMountHasNoTrash) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const Volume v = mount_volume(tree);
        write_file(v.top + "/kept", "k");
        ASSERT_TRUE(remount_read_only(v.top)) << std::strerror(errno);
        const auto r = shell_ops::move_to_trash({v.top + "/kept"});
        EXPECT_TRUE(r.trashed.empty());
        EXPECT_EQ(r.failed_count, 1);
        EXPECT_EQ(r.error, key(TrashMessage::NoTrash));
        EXPECT_EQ(r.no_trash_available, std::vector<std::string>{v.top + "/kept"});
        EXPECT_EQ(read_file(v.top + "/kept"), "k");
    });
}

TEST(VolumeTrash, BindMountOfTheHomeDiskUsesItsOwnTrashAfterCrossDeviceRefusal) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        // Data home and the item share one tmpfs, but the item is reached
        // through a bind mount, so rename into the home trash gives EXDEV.
        const std::string disk = tree.dir("disk");
        ASSERT_TRUE(mount_tmpfs(disk));
        tree.dir("home");
        set_env("HOME", tree.path("home"));
        set_env("XDG_DATA_HOME", disk + "/data");
        ASSERT_EQ(::mkdir((disk + "/sub").c_str(), 0755), 0);
        write_file(disk + "/sub/item", "i");
        const std::string bind = tree.dir("bind");
        ASSERT_TRUE(mount_bind(disk + "/sub", bind));
        const auto r = shell_ops::move_to_trash({bind + "/item"});
        EXPECT_EQ(r.trashed, std::vector<std::string>{bind + "/item"}) << r.error;
        EXPECT_EQ(read_file(bind + "/.Trash-" + uid_text() + "/files/item"), "i");
        expect_record(bind + "/.Trash-" + uid_text() + "/info/item.trashinfo", bind + "/item");
        EXPECT_TRUE(list_dir(disk + "/data/Trash/info").empty()); // no orphan from the try
    });
}

} // namespace
