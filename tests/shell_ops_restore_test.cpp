// Putting trashed items back, on real files: the home trash in a temporary
// data folder and a tmpfs volume's trash, in a private mount namespace (which
// also gives each case its own process for the guard's and mount tables).
#include "shell_ops.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "i18n.h"
#include "mount_namespace.h"
#include "scanner.h"
#include "strutil.h"
#include "temp_tree.h"
#include "tree_edit.h"

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
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// Paths, sizes and file counts of a scanned tree, children in order.
std::string dump(const FileNodePtr& n) {
    std::string out = n->path + " " + std::to_string(n->size) + " " + std::to_string(n->file_count);
    for (const auto& c : n->children)
        out += "\n" + dump(c);
    return out;
}

FileNodePtr scan(const std::string& path) {
    ScanProgress progress;
    return scanner::scan(path, progress, {});
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
        std::map<std::string, std::string> before;
        for (const auto& p : {file, inner, stick})
            before[p] = state(p);
        const FileNodePtr scanned = scan(tree.path("work"));
        const std::vector<FileNodePtr> nodes = {tree_edit::find(scanned, file),
                                                tree_edit::find(scanned, folder)};

        const auto first = shell_ops::move_to_trash({inner});
        const auto second =
            shell_ops::move_to_trash({file, folder, stick, taken, replaced, orphan, docs});
        ASSERT_EQ(second.moved.size(), 7u) << second.error;
        const auto& m = second.moved;
        EXPECT_EQ(m[2].trash_files, volume + "/.Trash-" + std::to_string(::getuid()) + "/files");
        const FileNodePtr shrunk = tree_edit::without(scanned, {file, folder});
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
        for (const auto& [path, was] : before)
            EXPECT_EQ(state(path), was) << path;
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
        EXPECT_EQ(dump(tree_edit::with(shrunk, nodes)), dump(scan(tree.path("work"))));
    });
}

TEST(RestoreCrash, KilledRestoresNeverLoseOrDuplicateItems) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        std::mt19937 random(4242);
        long long full_run_us = 0;
        int interrupted = 0;
        for (int round = 0; round <= 15; ++round) {
            std::vector<std::string> paths;
            for (int i = 0; i < 100; ++i) { // half on each volume; the content names the item
                paths.push_back((i % 2 ? volume : tree.root()) + "/r" + std::to_string(round) +
                                "/item " + std::to_string(i));
                write_file(paths.back(), paths.back());
            }
            const auto trashed = shell_ops::move_to_trash(paths);
            ASSERT_EQ(trashed.moved.size(), paths.size()) << trashed.error;
            const auto started = std::chrono::steady_clock::now();
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                shell_ops::restore_from_trash(trashed.moved);
                ::_exit(0);
            }
            if (round > 0) { // round 0 runs to the end and measures
                ::usleep(static_cast<useconds_t>(
                    std::uniform_int_distribution<long long>(0, full_run_us)(random)));
                ::kill(pid, SIGKILL);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            interrupted += WIFSIGNALED(status) ? 1 : 0;
            if (round == 0)
                full_run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
            // Each item once: back at its path, or in the trash with its record.
            for (const TrashedItem& t : trashed.moved) {
                const bool back = read_file(t.path) == t.path;
                const bool in_trash = read_file(entry_of(t)) == t.path;
                EXPECT_NE(back, in_trash) << t.path << " is lost or duplicated";
                EXPECT_TRUE(back || exists(record_of(t))) << t.path << " lost its record";
                EXPECT_TRUE(round > 0 || !exists(record_of(t))) << t.path;
            }
            remove_tree(su::parent_of(trashed.moved[0].trash_files));
            remove_tree(su::parent_of(trashed.moved[1].trash_files));
        }
        std::printf("full restore %lld us; %d of 15 rounds interrupted\n", full_run_us,
                    interrupted);
    });
}

} // namespace
