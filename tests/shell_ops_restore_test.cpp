// Putting trashed items back, on real files: the home trash in a temporary
// data folder and a tmpfs volume's trash, in a private mount namespace (which
// also gives each case its own process for the guard's and mount tables).
#include "shell_ops.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
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

// Paths, sizes and file counts of a tree, children in order.
std::string dump(const FileNodePtr& n) {
    std::string out = n->path + " " + std::to_string(n->size) + " " +
                      std::to_string(n->file_count) + (n->is_aggregate ? "*" : "") + "\n";
    for (const auto& c : n->children)
        out += dump(c);
    return out;
}

FileNodePtr scan(const std::string& path) {
    ScanProgress progress;
    return scanner::scan(path, progress, {});
}

TEST(Restore, ItemsOnTwoVolumesComeBackAsTheyWereAndTheTreeMatchesAFreshScan) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        const std::string a = tree.file("work/a b.txt", 300000, 'a');
        const std::string folder = tree.dir("work/folder");
        tree.file("work/folder/inner", 5000, 'i');
        tree.file("work/kept", 280000);
        const std::string b = tree.file("vol/stick/b.bin", 3, 'b');
        ASSERT_EQ(::chmod(a.c_str(), 0604), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0750), 0);
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123}};
        ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
        const std::vector<std::string> paths = {a, folder, b};
        std::map<std::string, struct stat> before;
        for (const auto& p : paths)
            ASSERT_EQ(::lstat(p.c_str(), &before[p]), 0);
        const FileNodePtr scanned = scan(tree.path("work"));
        const std::vector<FileNodePtr> nodes = {tree_edit::find(scanned, a),
                                                tree_edit::find(scanned, folder)};

        const auto trashed = shell_ops::move_to_trash(paths);
        ASSERT_EQ(trashed.moved.size(), 3u) << trashed.error;
        EXPECT_EQ(trashed.moved[2].trash_files,
                  volume + "/.Trash-" + std::to_string(::getuid()) + "/files");
        for (const auto& m : trashed.moved)
            EXPECT_TRUE(exists(entry_of(m)) && exists(record_of(m))) << m.path;
        const FileNodePtr shrunk = tree_edit::without(scanned, {a, folder});

        const auto r = shell_ops::restore_from_trash(trashed.moved);
        EXPECT_EQ(r.restored, paths);
        EXPECT_TRUE(r.failed.empty());
        for (const auto& p : paths) {
            struct stat st {};
            ASSERT_EQ(::lstat(p.c_str(), &st), 0) << p;
            EXPECT_EQ(st.st_ino, before[p].st_ino) << p;
            EXPECT_EQ(st.st_mode, before[p].st_mode) << p;
            EXPECT_EQ(st.st_mtim.tv_sec, before[p].st_mtim.tv_sec) << p;
            EXPECT_EQ(st.st_mtim.tv_nsec, before[p].st_mtim.tv_nsec) << p;
        }
        EXPECT_EQ(read_file(a), std::string(300000, 'a'));
        EXPECT_EQ(read_file(folder + "/inner"), std::string(5000, 'i'));
        EXPECT_EQ(read_file(b), "bbb");
        for (const auto& m : trashed.moved)
            EXPECT_FALSE(exists(entry_of(m)) || exists(record_of(m))) << m.path;
        EXPECT_EQ(dump(tree_edit::with(shrunk, nodes)), dump(scan(tree.path("work"))));
    });
}

TEST(Restore, ItemsThatCannotGoBackStayInTheTrashWithTheirRecords) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        setup(tree);
        const std::string inner = tree.file("work/outer/inner.txt", 1);
        const std::string outer = tree.path("work/outer");
        const std::string taken = tree.file("work/taken.txt", 1);
        const std::string emptied = tree.file("work/emptied.txt", 1);
        const std::string replaced = tree.file("work/replaced.txt", 1);
        const std::string orphan = tree.file("gone/orphan.txt", 1);
        const std::string docs = tree.file("swap/Documents/x", 1);
        const std::string swapped = tree.path("swap/Documents");
        // inner.txt left in an earlier batch than its folder.
        const auto first = shell_ops::move_to_trash({inner});
        const auto second =
            shell_ops::move_to_trash({outer, taken, emptied, replaced, orphan, swapped});
        ASSERT_EQ(first.moved.size() + second.moved.size(), 7u) << second.error;
        const auto& m = second.moved;

        write_file(taken, "the user's new file");
        ASSERT_EQ(::unlink(entry_of(m[2]).c_str()), 0);
        ASSERT_EQ(::unlink(entry_of(m[3]).c_str()), 0);
        write_file(entry_of(m[3]), "another file of that name");
        remove_tree(tree.path("gone"));
        // The folder now leads into the home, where Documents is protected.
        ASSERT_EQ(::rename(tree.path("swap").c_str(), tree.path("swap.old").c_str()), 0);
        ASSERT_EQ(::symlink(tree.path("home").c_str(), tree.path("swap").c_str()), 0);
        TrashedItem portal;
        portal.path = tree.path("work/portal.txt");
        portal.via_portal = true;

        std::vector<TrashedItem> items(m.rbegin(), m.rend());
        items.insert(items.begin(), first.moved[0]);
        items.push_back(portal);
        const auto r = shell_ops::restore_from_trash(items);
        EXPECT_EQ(r.restored, (std::vector<std::string>{outer, inner}));
        std::map<std::string, std::pair<RestoreProblem, std::string>> failed;
        for (const auto& f : r.failed)
            failed[f.path] = {f.problem, f.message};
        const std::map<std::string, std::pair<RestoreProblem, std::string>> expected = {
            {taken, {RestoreProblem::PathTaken, "Something else now stands at its original place"}},
            {emptied, {RestoreProblem::NotInTrash, "It is no longer in the Trash as it was moved"}},
            {replaced,
             {RestoreProblem::NotInTrash, "It is no longer in the Trash as it was moved"}},
            {orphan, {RestoreProblem::FolderGone, "Its original folder no longer exists"}},
            {swapped, {RestoreProblem::Protected, "Protected system location"}},
            {portal.path,
             {RestoreProblem::ViaPortal,
              "It went to the Trash through the desktop; restore it from there"}},
        };
        EXPECT_EQ(failed, expected);
        EXPECT_EQ(read_file(inner), "x");
        EXPECT_EQ(read_file(taken), "the user's new file");
        EXPECT_EQ(read_file(entry_of(m[3])), "another file of that name");
        EXPECT_FALSE(exists(tree.path("home/Documents")));
        for (const auto* kept : {&m[1], &m[3], &m[4], &m[5]})
            EXPECT_TRUE(exists(entry_of(*kept)) && exists(record_of(*kept))) << kept->path;
    });
}

// ---- Fault injection: restores killed at random moments

constexpr int kItems = 100;
constexpr int kRounds = 15;

// Where each item is: at its path (its content names it) or in the trash,
// where it must still have its record.
void expect_each_once(const std::vector<TrashedItem>& moved, const std::vector<std::string>& ids) {
    for (std::size_t i = 0; i < moved.size(); ++i) {
        const TrashedItem& t = moved[i];
        const bool back = exists(t.path);
        const bool in_trash = exists(entry_of(t));
        EXPECT_NE(back, in_trash) << t.path << " is lost or duplicated";
        if (back) {
            EXPECT_EQ(read_file(t.path + "/id"), ids[i]) << t.path;
        }
        if (in_trash) {
            EXPECT_EQ(read_file(entry_of(t) + "/id"), ids[i]) << t.path;
            EXPECT_TRUE(exists(record_of(t))) << t.path << " is in the trash without its record";
        }
    }
}

TEST(RestoreCrash, KilledRestoresNeverLoseOrDuplicateItems) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        std::mt19937 random(4242);
        long long full_run_us = 0;
        int interrupted = 0;
        for (int round = 0; round <= kRounds; ++round) {
            std::vector<std::string> paths, ids;
            for (int i = 0; i < kItems; ++i) {
                const std::string base = i % 2 == 0 ? tree.path("items") : volume + "/items";
                paths.push_back(base + "/r" + std::to_string(round) + "/item " + std::to_string(i));
                ids.push_back(std::to_string(round) + "-" + std::to_string(i));
                write_file(paths.back() + "/id", ids.back());
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
                std::uniform_int_distribution<long long> delay(0, full_run_us);
                ::usleep(static_cast<useconds_t>(delay(random)));
                ::kill(pid, SIGKILL);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            if (round == 0)
                full_run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
            else if (WIFSIGNALED(status))
                ++interrupted;
            expect_each_once(trashed.moved, ids);
            if (round == 0) {
                for (const auto& t : trashed.moved)
                    EXPECT_FALSE(exists(record_of(t))) << t.path;
            }
            for (const auto& t : {trashed.moved[0], trashed.moved[1]}) // short checks next round
                remove_tree(su::parent_of(t.trash_files));
        }
        std::printf("full restore %lld us; %d of %d rounds interrupted\n", full_run_us, interrupted,
                    kRounds);
    });
}

} // namespace
