// Fault injection: a process trashing a batch across two volumes is killed at
// random moments; afterwards every item must be exactly once either where it
// was or in a trash with its record. A record left without its item is the
// one leftover allowed.
#include "shell_ops.h"

#include <chrono>
#include <csignal>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

constexpr int kItems = 200;
constexpr int kRounds = 20;

struct Item {
    std::string path;
    std::string id; // the content that identifies it wherever it is
    bool folder = false;
};

// Half on the temp folder (home trash), half on the tmpfs volume; names repeat
// across groups so the trash has to number them.
std::vector<Item> make_items(const std::string& home_side, const std::string& volume_side,
                             int round) {
    std::vector<Item> items;
    for (int i = 0; i < kItems; ++i) {
        const std::string& base = i % 2 == 0 ? home_side : volume_side;
        const bool folder = i % 7 == 0;
        Item item{base + "/r" + std::to_string(round) + "/g" + std::to_string(i / 10) + "/file " +
                      std::to_string(i % 10) + (folder ? "" : ".txt"),
                  std::to_string(round) + "-" + std::to_string(i), folder};
        write_file(folder ? item.path + "/marker" : item.path, item.id);
        items.push_back(item);
    }
    return items;
}

std::string id_at(const std::string& path, bool folder) {
    return read_file(folder ? path + "/marker" : path);
}

// Counts where each item is; every trashed entry must come with its record.
void check_round(const std::vector<Item>& items, const std::vector<std::string>& trashes) {
    std::map<std::string, int> seen;
    std::map<std::string, std::string> original;
    for (const Item& item : items) {
        original[item.id] = item.path;
        if (exists(item.path)) {
            EXPECT_EQ(id_at(item.path, item.folder), item.id) << item.path;
            ++seen[item.id];
        }
    }
    for (const std::string& t : trashes) {
        for (const std::string& name : list_dir(t + "/files")) {
            const std::string entry = t + "/files/" + name;
            struct stat st {};
            ASSERT_EQ(::lstat(entry.c_str(), &st), 0);
            const std::string id = id_at(entry, S_ISDIR(st.st_mode));
            if (original.count(id) == 0) continue; // an earlier round's item
            ++seen[id];
            EXPECT_NE(
                read_file(t + "/info/" + name + ".trashinfo")
                    .find("\nPath=" + shell_ops::trash_rules::percent_encode(original[id]) + "\n"),
                std::string::npos)
                << entry << " has no matching record";
        }
    }
    for (const Item& item : items)
        EXPECT_EQ(seen[item.id], 1) << item.path << " is lost or duplicated";
}

TEST(TrashCrash, KilledBatchesNeverLoseOrDuplicateItems) {
    TempTree tree;
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        set_env("HOME", tree.dir("home"));
        set_env("XDG_DATA_HOME", tree.path("data"));
        const std::string volume = tree.dir("vol");
        ASSERT_TRUE(mount_tmpfs(volume, "size=64m"));
        const std::vector<std::string> trashes = {tree.path("data/Trash"),
                                                  volume + "/.Trash-" + std::to_string(::getuid())};
        std::mt19937 random(12345);
        long long full_run_us = 0;
        int interrupted = 0;
        for (int round = 0; round <= kRounds; ++round) {
            const auto items = make_items(tree.path("items"), volume + "/items", round);
            std::vector<std::string> paths;
            for (const Item& item : items)
                paths.push_back(item.path);
            const auto started = std::chrono::steady_clock::now();
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                shell_ops::move_to_trash(paths);
                ::_exit(0);
            }
            if (round > 0) {
                // Round 0 runs to the end and measures how long a batch takes.
                std::uniform_int_distribution<long long> delay(0, full_run_us);
                ::usleep(static_cast<useconds_t>(delay(random)));
                ::kill(pid, SIGKILL);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            if (round == 0) {
                ASSERT_TRUE(WIFEXITED(status));
                full_run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
            } else if (WIFSIGNALED(status)) {
                ++interrupted;
            }
            check_round(items, trashes);
            for (const std::string& t : trashes) // keeps each round's check short
                remove_tree(t);
            if (round == 0) {
                for (const Item& item : items)
                    EXPECT_FALSE(exists(item.path)) << item.path;
            }
        }
        std::printf("full batch %lld us; %d of %d rounds interrupted\n", full_run_us, interrupted,
                    kRounds);
    });
}

} // namespace
