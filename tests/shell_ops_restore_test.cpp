// Putting trashed items back, on real files: the home trash in a temporary
// data folder and a tmpfs volume's trash, in a private mount namespace (which
// also gives each case its own process for the guard's and mount tables).
#include "shell_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "i18n.h"
#include "mount_namespace.h"
#include "strutil.h"
#include "temp_tree.h"

using namespace testing_support;
using shell_ops::RestoreProblem;
using shell_ops::TrashedItem;

namespace {

// English messages, home and data folder in the tree, a tmpfs volume at vol.
std::string setup(TempTree& tree) {
    I18n::instance().set_language("en");
    set_env("HOME", tree.dir("home"));
    set_env("XDG_DATA_HOME", tree.path("data"));
    const std::string volume = tree.dir("vol");
    EXPECT_TRUE(mount_tmpfs(volume, "size=64m"));
    return volume;
}

std::string entry_of(const TrashedItem& t) {
    return t.trash_files + "/" + t.name;
}

std::string record_of(const TrashedItem& t) {
    return su::parent_of(t.trash_files) + "/info/" + t.name + ".trashinfo";
}

// A file's content (hashed), inode, mode and modification time; "-" when
// nothing is there.
std::string state(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "-";
    return std::to_string(std::hash<std::string>()(read_file(path))) + " " +
           std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "\n";
}

TEST(Restore, WhatCanGoBackDoesAndTheRestStaysInTheTrashWithItsRecord) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        // Going back: a file with its own mode and date, a folder whose file
        // left in an earlier batch, and a file on the volume.
        const std::string file = tree.file("work/a b.txt", 300000, 'a');
        ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
        const std::string inner = tree.file("work/folder/id", 5000, 'i');
        const std::string folder = tree.path("work/folder");
        const std::string stick = tree.file("vol/stick/b.bin", 3, 'b');
        // Staying in the Trash.
        const std::string taken = tree.file("other/taken.txt", 1);
        const std::string replaced = tree.file("other/replaced.txt", 1);
        const std::string orphan = tree.file("gone/orphan.txt", 1);
        const std::string docs = tree.dir("swap/Documents");
        const auto states = [&] { return state(file) + state(inner) + state(stick); };
        const std::string before = states();

        const auto first = shell_ops::move_to_trash({inner});
        const auto second =
            shell_ops::move_to_trash({file, folder, stick, taken, replaced, orphan, docs});
        ASSERT_EQ(second.moved.size(), 7u) << second.error;
        const auto& m = second.moved;
        EXPECT_EQ(m[2].trash_files, volume + "/.Trash-" + std::to_string(::getuid()) + "/files");
        write_file(taken, "new");
        ASSERT_EQ(::unlink(entry_of(m[4]).c_str()), 0);
        write_file(entry_of(m[4]), "another file of that name");
        remove_tree(tree.path("gone"));
        // swap now leads into the home, where Documents is protected.
        ASSERT_EQ(::rename(tree.path("swap").c_str(), tree.path("swap.old").c_str()), 0);
        ASSERT_EQ(::symlink(tree.path("home").c_str(), tree.path("swap").c_str()), 0);
        TrashedItem portal;
        portal.path = tree.path("work/portal.txt");
        portal.via_portal = true;
        std::vector<TrashedItem> items = {first.moved.at(0)}; // before its folder
        items.insert(items.end(), m.begin(), m.end());
        items.push_back(portal);

        const auto r = shell_ops::restore_from_trash(items);
        EXPECT_EQ(r.restored, (std::vector<std::string>{file, folder, inner, stick}));
        EXPECT_EQ(states(), before);
        using P = RestoreProblem;
        std::vector<std::pair<std::string, P>> failed;
        for (const auto& f : r.failed)
            failed.emplace_back(f.path, f.problem);
        EXPECT_EQ(failed, (decltype(failed){{taken, P::PathTaken},
                                            {replaced, P::NotInTrash},
                                            {orphan, P::FolderGone},
                                            {docs, P::Protected},
                                            {portal.path, P::ViaPortal}}));
        EXPECT_EQ(r.failed.at(3).message, "Protected system location"); // the guard's reason
        EXPECT_EQ(r.failed.at(0).message, "Something else now stands at its original place");
        EXPECT_EQ(read_file(taken), "new");
        EXPECT_EQ(read_file(entry_of(m[4])), "another file of that name");
        EXPECT_FALSE(exists(tree.path("home/Documents")));
        EXPECT_FALSE(exists(record_of(first.moved[0])));
        for (std::size_t i = 0; i < m.size(); ++i) {
            EXPECT_EQ(exists(entry_of(m[i])), i >= 3) << m[i].path;
            EXPECT_EQ(exists(record_of(m[i])), i >= 3) << m[i].path;
        }
    });
}

} // namespace
