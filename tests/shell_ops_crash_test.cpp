// Fault injection: a process trashing a batch across two volumes, or putting
// it back, is killed at random moments; afterwards every item must be exactly
// once either where it was or in a trash with its record. A record left
// without its item is the one leftover allowed.
#include "shell_ops.h"

#include <map>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "mount_namespace.h"
#include "strutil.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

// Home and data folder in the tree, a tmpfs volume at vol; returns the volume.
std::string setup(TempTree& tree) {
    set_env("HOME", tree.dir("home"));
    set_env("XDG_DATA_HOME", tree.path("data"));
    const std::string volume = tree.dir("vol");
    EXPECT_TRUE(mount_tmpfs(volume, "size=64m"));
    return volume;
}

// Half on the temp folder (home trash), half on the tmpfs volume; names repeat
// across groups so the trash has to number them. Every seventh is a folder.
// The content (of a file, or of a folder's "id" file) is the original path.
std::vector<std::string> make_items(const std::string& home_side, const std::string& volume_side,
                                    int round) {
    std::vector<std::string> items;
    for (int i = 0; i < 200; ++i) {
        items.push_back((i % 2 ? volume_side : home_side) + "/r" + std::to_string(round) + "/g" +
                        std::to_string(i / 10) + "/file " + std::to_string(i % 10) +
                        (i % 7 ? ".txt" : ""));
        write_file(i % 7 ? items.back() : items.back() + "/id", items.back());
    }
    return items;
}

std::string id_at(const std::string& path) {
    const std::string id = read_file(path);
    return id.empty() ? read_file(path + "/id") : id;
}

// Each item exactly once, in place or in a trash; every trashed entry with
// its record.
void check_round(const std::vector<std::string>& items, const std::vector<std::string>& trashes) {
    std::map<std::string, int> seen;
    for (const std::string& path : items)
        if (exists(path)) ++seen[id_at(path)];
    for (const std::string& t : trashes) {
        for (const std::string& name : list_dir(t + "/files")) {
            const std::string id = id_at(t + "/files/" + name);
            ++seen[id];
            EXPECT_NE(read_file(t + "/info/" + name + ".trashinfo")
                          .find("\nPath=" + shell_ops::trash_rules::percent_encode(id) + "\n"),
                      std::string::npos)
                << id << " has no matching record";
        }
    }
    for (const std::string& path : items)
        EXPECT_EQ(seen[path], 1) << path << " is lost or duplicated";
}

TEST(TrashCrash, KilledBatchesNeverLoseOrDuplicateItems) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        const std::vector<std::string> trashes = {tree.path("data/Trash"),
                                                  volume + "/.Trash-" + std::to_string(::getuid())};
        std::vector<std::string> items;
        kill_point_rounds(
            20, 12345,
            [&](int round) {
                items = make_items(tree.path("items"), volume + "/items", round);
                return [&items] { shell_ops::move_to_trash(items); };
            },
            [&](int round) {
                check_round(items, trashes);
                for (const std::string& t : trashes) // keeps each round's check short
                    remove_tree(t);
                for (const std::string& path : items)
                    EXPECT_TRUE(round > 0 || !exists(path)) << path;
            });
    });
}

TEST(RestoreCrash, KilledRestoresNeverLoseOrDuplicateItems) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        const std::string volume = setup(tree);
        std::vector<shell_ops::TrashedItem> trashed;
        kill_point_rounds(
            15, 4242,
            [&](int round) {
                const auto items = make_items(tree.path("items"), volume + "/items", round);
                trashed = shell_ops::move_to_trash(items).moved;
                EXPECT_EQ(trashed.size(), items.size());
                return [&trashed] { shell_ops::restore_from_trash(trashed); };
            },
            [&](int round) {
                for (const auto& t : trashed) {
                    const std::string trash = su::parent_of(t.trash_files);
                    const bool back = id_at(t.path) == t.path;
                    const bool record = exists(trash + "/info/" + t.name + ".trashinfo");
                    EXPECT_NE(back, id_at(t.trash_files + "/" + t.name) == t.path) << t.path;
                    EXPECT_TRUE(back || record) << t.path << " lost its record";
                    EXPECT_TRUE(round > 0 || !record) << t.path;
                }
                for (const auto& t : trashed)
                    remove_tree(su::parent_of(t.trash_files));
            });
    });
}

} // namespace
