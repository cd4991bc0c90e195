// Packing folders with the real system tar: archive contents, names, progress,
// and that every failure leaves neither an archive nor a temporary file.
#include "shell_ops.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "crash_handler.h"
#include "temp_tree.h"

using testing_support::list_dir;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::run_unprivileged;
using testing_support::TempTree;
using testing_support::write_file;

namespace {

// Runs a command line through the shell; true when it exited 0.
bool shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Content that does not compress to nothing, so sizes mean something.
std::string varied_bytes(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// A PATH holding only one executable script named tar.
std::string fake_tar_dir(TempTree& tree, const std::string& script) {
    const std::string dir = tree.dir("fakebin");
    write_file(dir + "/tar", "#!/bin/sh\n" + script);
    ::chmod((dir + "/tar").c_str(), 0755);
    return dir;
}

} // namespace

TEST(ArchiveRules, NamesFollowTheNumberedSequence) {
    EXPECT_EQ(shell_ops::archive_name("Photos", 1), "Photos.tar.gz");
    EXPECT_EQ(shell_ops::archive_name("Photos", 2), "Photos (2).tar.gz");
    EXPECT_EQ(shell_ops::archive_name("-rf", 999), "-rf (999).tar.gz");
}

TEST(ArchiveRules, ProgressLinesCountRecordsOfTenKibibytes) {
    struct Case {
        const char* line;
        std::optional<long> bytes;
    };
    const Case cases[] = {
        {"tar: SPMOL-CP  7", 7 * 10240L},
        {"noise SPMOL-CP   42 trailing", 42 * 10240L},
        {"tar: SPMOL-CP  0", std::nullopt},
        {"tar: SPMOL-CP  -3", std::nullopt},
        {"tar: SPMOL-CP  many", std::nullopt},
        {"tar: Photos/x: Cannot open: Permission denied", std::nullopt},
        {"SPMOL-CP 99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shell_ops::progress_bytes_of_line(c.line), c.bytes) << c.line;
}

TEST(CanWriteArchiveBeside, ProbesTheParentAndLeavesNothing) {
    TempTree tree;
    const std::string folder = tree.dir("Photos");
    EXPECT_TRUE(shell_ops::can_write_archive_beside(folder));
    EXPECT_EQ(list_dir(tree.root()), (std::vector<std::string>{"Photos"}));
    EXPECT_FALSE(shell_ops::can_write_archive_beside("/"));
    EXPECT_FALSE(shell_ops::can_write_archive_beside(""));
}

TEST(CanWriteArchiveBeside, ReadOnlyParentRefusesAnUnprivilegedUser) {
    TempTree tree;
    const std::string folder = tree.dir("locked/Photos");
    tree.chmod("locked", 0555);
    EXPECT_EQ(run_unprivileged([&] { return !shell_ops::can_write_archive_beside(folder); }), 0);
    EXPECT_EQ(list_dir(tree.path("locked")), (std::vector<std::string>{"Photos"}));
}

TEST(CompressFolder, ArchiveHoldsTheFolderAndASecondRunTakesTheNextName) {
    TempTree tree;
    const std::string a = varied_bytes(70000, 1);
    const std::string b = varied_bytes(1234, 2);
    write_file(tree.path("home/Photos/a.jpg"), a);
    write_file(tree.path("home/Photos/trip/b name.raw"), b);
    tree.file("home/Photos/empty");
    const std::string folder = tree.path("home/Photos");

    const std::string first = shell_ops::compress_folder(folder, {});
    EXPECT_EQ(first, tree.path("home/Photos.tar.gz"));
    const std::string second = shell_ops::compress_folder(folder, {});
    EXPECT_EQ(second, tree.path("home/Photos (2).tar.gz"));
    EXPECT_EQ(list_dir(tree.path("home")),
              (std::vector<std::string>{"Photos", "Photos (2).tar.gz", "Photos.tar.gz"}));

    const std::string out = tree.dir("out");
    ASSERT_TRUE(shell("tar -xzf " + crash_report::shell_quote(second) + " -C " +
                      crash_report::shell_quote(out)));
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"Photos"}));
    EXPECT_EQ(read_file(out + "/Photos/a.jpg"), a);
    EXPECT_EQ(read_file(out + "/Photos/trip/b name.raw"), b);
    EXPECT_EQ(list_dir(out + "/Photos"), (std::vector<std::string>{"a.jpg", "empty", "trip"}));
    // The folder itself stays.
    EXPECT_EQ(read_file(folder + "/a.jpg"), a);
}

TEST(CompressFolder, ProgressComesInRecordsAndReachesTheFolderSize) {
    TempTree tree;
    const std::size_t total = 5 * 1024 * 1024;
    for (int i = 0; i < 5; ++i)
        write_file(tree.path("Big/part" + std::to_string(i)), varied_bytes(total / 5, i));
    std::vector<long> seen;
    const std::string archive =
        shell_ops::compress_folder(tree.path("Big"), [&](long bytes) { seen.push_back(bytes); });
    ASSERT_EQ(archive, tree.path("Big.tar.gz"));
    ASSERT_FALSE(seen.empty());
    for (long v : seen)
        EXPECT_EQ(v % shell_ops::TAR_BYTES_PER_BLOCK, 0) << v;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    // One line every TAR_CHECKPOINT_BLOCKS records: the last is at most one
    // step short of the tar stream (contents plus headers).
    const long step = shell_ops::TAR_CHECKPOINT_BLOCKS * shell_ops::TAR_BYTES_PER_BLOCK;
    EXPECT_GE(seen.back(), static_cast<long>(total) - step);
    EXPECT_LE(seen.back(), static_cast<long>(total) + step);
}

TEST(CompressFolder, AFolderNamedLikeAnOptionIsPackedAsAName) {
    TempTree tree;
    write_file(tree.path("p/-rf/keep.txt"), "precious");
    tree.file("p/sibling.txt", 10);
    const std::string archive = shell_ops::compress_folder(tree.path("p/-rf"), {});
    ASSERT_EQ(archive, tree.path("p/-rf.tar.gz"));
    const std::string out = tree.dir("out");
    ASSERT_TRUE(shell("tar -xzf " + crash_report::shell_quote(archive) + " -C " +
                      crash_report::shell_quote(out)));
    EXPECT_EQ(read_file(out + "/-rf/keep.txt"), "precious");
    EXPECT_EQ(read_file(tree.path("p/-rf/keep.txt")), "precious");
    EXPECT_EQ(list_dir(tree.path("p")),
              (std::vector<std::string>{"-rf", "-rf.tar.gz", "sibling.txt"}));
}

TEST(CompressFolder, FailuresLeaveNeitherArchiveNorTemporaryFile) {
    {
        SCOPED_TRACE("the folder vanished before packing");
        TempTree tree;
        tree.dir("p");
        EXPECT_EQ(shell_ops::compress_folder(tree.path("p/gone"), {}), "");
        EXPECT_EQ(shell_ops::compress_folder(tree.path("p/gone"), [](long) {}), "");
        EXPECT_TRUE(list_dir(tree.path("p")).empty());
    }
    {
        SCOPED_TRACE("an unreadable file inside: a partial archive is no copy");
        TempTree tree;
        tree.file("p/Docs/readable.txt", 100);
        tree.file("p/Docs/secret.txt", 100);
        tree.chmod("p/Docs/secret.txt", 0);
        tree.chmod("p", 0777);
        const std::string folder = tree.path("p/Docs");
        EXPECT_EQ(run_unprivileged([&] { return shell_ops::compress_folder(folder, {}).empty(); }),
                  0);
        EXPECT_EQ(list_dir(tree.path("p")), (std::vector<std::string>{"Docs"}));
    }
    {
        SCOPED_TRACE("no tar on PATH");
        TempTree tree;
        tree.file("p/Docs/a.txt", 100);
        const std::string empty_bin = tree.dir("bin");
        const std::string folder = tree.path("p/Docs");
        EXPECT_EQ(run_in_child([&] {
                      ::setenv("PATH", empty_bin.c_str(), 1);
                      return shell_ops::compress_folder(folder, [](long) {}).empty();
                  }),
                  0);
        EXPECT_EQ(list_dir(tree.path("p")), (std::vector<std::string>{"Docs"}));
    }
}

// The exit of tar decides, not the size of what it wrote.
TEST(CompressFolder, OnlyACleanExitOfTarMakesAnArchive) {
    struct Case {
        const char* what;
        const char* script;
        bool archive;
    };
    const Case cases[] = {
        {"exit 0", "echo data; exit 0\n", true},
        {"exit 1: files changed while read", "echo data; exit 1\n", true},
        {"exit 2 after writing part of it", "echo data; exit 2\n", false},
        {"killed by a signal", "echo data; kill -KILL $$\n", false},
        {"exit 0 but nothing written", "exit 0\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.file("p/Docs/a.txt", 10);
        const std::string bin = fake_tar_dir(tree, c.script);
        const std::string folder = tree.path("p/Docs");
        const std::string expected = c.archive ? tree.path("p/Docs.tar.gz") : "";
        EXPECT_EQ(run_in_child([&] {
                      ::setenv("PATH", bin.c_str(), 1);
                      return shell_ops::compress_folder(folder, {}) == expected;
                  }),
                  0);
        std::vector<std::string> want{"Docs"};
        if (c.archive) want.push_back("Docs.tar.gz");
        EXPECT_EQ(list_dir(tree.path("p")), want);
        if (c.archive) {
            EXPECT_EQ(read_file(tree.path("p/Docs.tar.gz")), "data\n");
        }
    }
}

TEST(CompressFolder, ANameTakenWhileTarRunsIsNeverReplaced) {
    TempTree tree;
    tree.file("p/Docs/a.txt", 10);
    const std::string taken = tree.path("p/Docs.tar.gz");
    const std::string bin = fake_tar_dir(tree, "echo theirs > " + crash_report::shell_quote(taken) +
                                                   "\necho ours\nexit 0\n");
    const std::string folder = tree.path("p/Docs");
    const std::string expected = tree.path("p/Docs (2).tar.gz");
    EXPECT_EQ(run_in_child([&] {
                  ::setenv("PATH", bin.c_str(), 1);
                  return shell_ops::compress_folder(folder, {}) == expected;
              }),
              0);
    EXPECT_EQ(read_file(taken), "theirs\n");
    EXPECT_EQ(read_file(expected), "ours\n");
}

TEST(CompressFolder, WhenEveryNameIsTakenTarDoesNotRun) {
    TempTree tree;
    tree.file("p/Docs/a.txt", 10);
    for (int n = 1; n <= shell_ops::TAR_MAX_NAME_NUMBER; ++n) {
        const std::string name = tree.path("p/" + shell_ops::archive_name("Docs", n));
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    const std::string ran = tree.path("tar-ran");
    const std::string bin =
        fake_tar_dir(tree, "touch " + crash_report::shell_quote(ran) + "\necho x\n");
    const std::string folder = tree.path("p/Docs");
    EXPECT_EQ(run_in_child([&] {
                  ::setenv("PATH", bin.c_str(), 1);
                  return shell_ops::compress_folder(folder, {}).empty();
              }),
              0);
    EXPECT_FALSE(::access(ran.c_str(), F_OK) == 0);
    EXPECT_EQ(list_dir(tree.path("p")).size(), 1u + shell_ops::TAR_MAX_NAME_NUMBER);
}

// Quitting while packing: tar and the compressor it started are stopped and
// the temporary archive goes with them.
TEST(CompressFolder, CancelStopsTarAndItsChildAndLeavesNoFile) {
    TempTree tree;
    tree.file("p/Docs/a.txt", 10);
    const std::string pids = tree.path("pids");
    // Like GNU tar with -z: writes, starts a child, and takes its time.
    const std::string bin =
        fake_tar_dir(tree, "PATH=/usr/bin:/bin; echo data; sleep 300 & echo $$ $! > " +
                               crash_report::shell_quote(pids) + "; wait\n");
    const std::string folder = tree.path("p/Docs");
    EXPECT_EQ(run_in_child([&] {
                  ::setenv("PATH", bin.c_str(), 1);
                  std::atomic<bool> cancel{false};
                  std::thread stopper([&] {
                      // Cancel once the stand-in runs (its pids are written).
                      while (read_file(pids).find(' ') == std::string::npos)
                          ::usleep(1000);
                      cancel = true;
                  });
                  const std::string result = shell_ops::compress_folder(folder, {}, &cancel);
                  stopper.join();
                  EXPECT_EQ(result, "");
                  int tar_pid = 0;
                  int child_pid = 0;
                  std::sscanf(read_file(pids).c_str(), "%d %d", &tar_pid, &child_pid);
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
    EXPECT_EQ(list_dir(tree.path("p")), std::vector<std::string>{"Docs"});
}
