// Packing folders with the real system tar: archive contents, names, progress,
// and that every failure leaves neither an archive nor a temporary file.
#include "shell_ops.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "crash_handler.h"
#include "temp_tree.h"

using namespace testing_support;
using crash_report::shell_quote;
using Names = std::vector<std::string>;

namespace {

// Packs p/Docs in a child whose PATH holds only `script` as tar (none when
// null); true when the result was `expected`.
bool compress_with_tar(TempTree& tree, const char* script, const std::string& expected) {
    tree.file("p/Docs/a.txt", 10);
    const std::string bin = tree.dir("fakebin");
    if (script != nullptr) {
        write_file(bin + "/tar", std::string("#!/bin/sh\n") + script);
        tree.chmod("fakebin/tar", 0755);
    }
    return run_in_child([&] {
               ::setenv("PATH", bin.c_str(), 1);
               return shell_ops::compress_folder(tree.path("p/Docs"), {}) == expected;
           }) == 0;
}

} // namespace

TEST(ArchiveRules, NamesAndProgressLines) {
    EXPECT_EQ(shell_ops::archive_name("Photos", 1), "Photos.tar.gz");
    EXPECT_EQ(shell_ops::archive_name("-rf", 999), "-rf (999).tar.gz");
    const std::pair<const char*, std::optional<long>> cases[] = {
        {"tar: SPMOL-CP  7", 7 * 10240L},
        {"noise SPMOL-CP   42 trailing", 42 * 10240L},
        {"tar: SPMOL-CP  0", std::nullopt},
        {"tar: SPMOL-CP  -3", std::nullopt},
        {"tar: SPMOL-CP  many", std::nullopt},
        {"tar: Photos/x: Cannot open: Permission denied", std::nullopt},
        {"SPMOL-CP 99999999999999999999", std::nullopt}};
    for (const auto& [line, bytes] : cases)
        EXPECT_EQ(shell_ops::progress_bytes_of_line(line), bytes) << line;
}

// A partial archive is no copy: an unreadable file inside leaves neither an
// archive nor a temporary file, and probing the parent leaves nothing either.
TEST(CompressFolder, UnwritableParentsAndUnreadableFilesMakeNoArchive) {
    TempTree tree;
    const std::string folder = tree.dir("Photos");
    const std::string locked = tree.dir("locked/Photos");
    tree.chmod("locked", 0555);
    tree.file("p/Docs/readable.txt", 100);
    tree.file("p/Docs/secret.txt", 100);
    tree.chmod("p/Docs/secret.txt", 0);
    tree.chmod("p", 0777);
    EXPECT_TRUE(shell_ops::can_write_archive_beside(folder));
    EXPECT_FALSE(shell_ops::can_write_archive_beside("/") ||
                 shell_ops::can_write_archive_beside(""));
    EXPECT_EQ(run_unprivileged([&] {
                  return !shell_ops::can_write_archive_beside(locked) &&
                         shell_ops::compress_folder(tree.path("p/Docs"), {}).empty();
              }),
              0);
    EXPECT_EQ(shell_ops::compress_folder(tree.path("gone"), [](long) {}), ""); // vanished meanwhile
    EXPECT_EQ(list_dir(tree.root()), (Names{"Photos", "locked", "p"}));
    EXPECT_EQ(list_dir(tree.path("locked")), Names{"Photos"});
    EXPECT_EQ(list_dir(tree.path("p")), Names{"Docs"});
}

// A folder named like an option is packed as a name. Progress comes in whole
// records and ends within one step of the tar stream (contents plus headers);
// a second run takes the next name and the folder itself stays.
TEST(CompressFolder, ArchiveHoldsTheFolderWithProgressAndASecondRunTakesTheNextName) {
    TempTree tree;
    const long total = 5 * 1024 * 1024;
    const std::string folder = tree.dir("home/-rf");
    tree.file("home/-rf/a.jpg", total - 1234);
    tree.file("home/-rf/trip/b name.raw", 1234, 'b');
    tree.file("home/-rf/empty");
    std::vector<long> seen;
    EXPECT_EQ(shell_ops::compress_folder(folder, [&](long bytes) { seen.push_back(bytes); }),
              tree.path("home/-rf.tar.gz"));
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LE(std::abs(seen.back() - total),
              shell_ops::TAR_CHECKPOINT_BLOCKS * shell_ops::TAR_BYTES_PER_BLOCK);

    const std::string second = shell_ops::compress_folder(folder, {});
    EXPECT_EQ(second, tree.path("home/-rf (2).tar.gz"));
    EXPECT_EQ(list_dir(tree.path("home")), (Names{"-rf", "-rf (2).tar.gz", "-rf.tar.gz"}));
    const std::string out = tree.dir("out");
    ASSERT_EQ(std::system(("tar -xzf " + shell_quote(second) + " -C " + shell_quote(out)).c_str()),
              0);
    EXPECT_EQ(list_dir(out + "/-rf"), (Names{"a.jpg", "empty", "trip"}));
    EXPECT_EQ(read_file(out + "/-rf/a.jpg"), read_file(folder + "/a.jpg"));
    EXPECT_EQ(read_file(out + "/-rf/trip/b name.raw"), std::string(1234, 'b'));
}

// The exit of tar decides, not the size of what it wrote.
TEST(CompressFolder, OnlyACleanExitOfTarMakesAnArchive) {
    const std::pair<const char*, bool> cases[] = {
        {"echo data; exit 0\n", true},
        {"echo data; exit 1\n", true}, // files changed while read
        {"echo data; exit 2\n", false},
        {"echo data; kill -KILL $$\n", false},
        {"exit 0\n", false}, // nothing written
        {nullptr, false},    // no tar on PATH
    };
    for (const auto& [script, archive] : cases) {
        SCOPED_TRACE(script ? script : "no tar");
        TempTree tree;
        EXPECT_TRUE(compress_with_tar(tree, script, archive ? tree.path("p/Docs.tar.gz") : ""));
        EXPECT_EQ(list_dir(tree.path("p")),
                  (archive ? Names{"Docs", "Docs.tar.gz"} : Names{"Docs"}));
        EXPECT_EQ(read_file(tree.path("p/Docs.tar.gz")), archive ? "data\n" : "");
    }
}

TEST(CompressFolder, ANameTakenWhileTarRunsIsNeverReplaced) {
    TempTree tree;
    const std::string taken = tree.path("p/Docs.tar.gz");
    const std::string script = "echo theirs > " + shell_quote(taken) + "\necho ours\n";
    EXPECT_TRUE(compress_with_tar(tree, script.c_str(), tree.path("p/Docs (2).tar.gz")));
    EXPECT_EQ(read_file(taken), "theirs\n");
    EXPECT_EQ(read_file(tree.path("p/Docs (2).tar.gz")), "ours\n");
}

// Quitting while packing: tar and the compressor it started are stopped and
// the temporary archive goes with them.
TEST(CompressFolder, CancelStopsTarAndItsChildAndLeavesNoFile) {
    TempTree tree;
    tree.file("p/Docs/a.txt", 10);
    const std::string pids = tree.path("pids");
    // Like GNU tar with -z: writes, starts a child, and takes its time.
    write_file(tree.path("fakebin/tar"),
               "#!/bin/sh\nPATH=/usr/bin:/bin; echo data; sleep 300 & echo $! > " +
                   shell_quote(pids) + "; wait\n");
    tree.chmod("fakebin/tar", 0755);
    EXPECT_EQ(run_in_child([&] {
                  ::setenv("PATH", tree.path("fakebin").c_str(), 1);
                  std::atomic<bool> cancel{false};
                  std::thread stopper([&] {
                      // Cancel once the stand-in runs (its child's pid is written).
                      while (read_file(pids).find('\n') == std::string::npos)
                          ::usleep(1000);
                      cancel = true;
                  });
                  EXPECT_EQ(shell_ops::compress_folder(tree.path("p/Docs"), {}, &cancel), "");
                  stopper.join();
                  const int child_pid = std::atoi(read_file(pids).c_str());
                  EXPECT_GT(child_pid, 0);
                  // Killed with its group; re-parented, it may stay a zombie a while.
                  const auto running = [&] {
                      const std::string stat =
                          read_file("/proc/" + std::to_string(child_pid) + "/stat");
                      const std::size_t paren = stat.rfind(')');
                      return paren != std::string::npos && paren + 2 < stat.size() &&
                             stat[paren + 2] != 'Z';
                  };
                  for (int i = 0; i < 2000 && running(); ++i)
                      ::usleep(1000);
                  EXPECT_FALSE(running()) << "the compressor outlived tar";
              }),
              0);
    EXPECT_EQ(list_dir(tree.path("p")), Names{"Docs"});
}
