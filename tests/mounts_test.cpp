#include "mounts.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <thread>

#include "mount_namespace.h"
#include "temp_tree.h"

namespace {

using Names = std::vector<std::string>;
using testing_support::TempTree;

Names points_of(const std::vector<mounts::Mount>& rows) {
    Names out;
    for (const auto& m : rows)
        out.push_back(m.point);
    return out;
}

mounts::Mount row(std::string point, std::string type = "ext4", std::string source = "/dev/sda1") {
    return mounts::Mount{std::move(point), std::move(type), std::move(source), false};
}

std::string point_for(const mounts::Table& table, const char* path) {
    const mounts::Mount* m = mounts::for_path_in(table, path);
    return m ? m->point : "(null)";
}

TEST(Unescape, DecodesThreeOctalDigitsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"/mnt/a\\040b", "/mnt/a b"}, {"\\134", "\\"},
        {"\\101\\102", "AB"},         {"\\777", "\xff"}, // 511 kept to its low 8 bits
        {"\\08x", "\\08x"},           {"\\04", "\\04"},
        {"end\\", "end\\"},           {"\\\\040", "\\ "}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(mounts::unescape(in), out) << in;
}

TEST(ParseMountinfo, ReadsPointTypeSourcePerMountReadOnlyAndSkipsMalformedLines) {
    const std::string text =
        "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
        "30 26 8:17 / /media/anna/My\\040Stick ro,nosuid,relatime shared:5 master:2 - vfat "
        "/dev/sdb1 rw\n"
        "31 26 0:40 / /srv/ro ro - xfs /dev/sdc\\0401 rw\n"
        "32 26 0:41 / /srv/rw rw,noatime - xfs /dev/sdd ro\n" // super-block "ro" is not consulted
        "33 26 0:42 / /srv/robust rwx,ro - xfs /dev/sde rw\n"
        "34\t26\t0:43\t/\t/tabbed\trw\t-\tnfs4\tserver:/export\trw\n"
        "\ngarbage\n1 2 3 4 /no-dash rw ext4 /dev/x rw\n"
        "1 2 3 4 /five - ext4 /dev/x rw\n"  // 5 leading fields
        "1 2 3 4 /one-trailing rw - ext4\n" // 1 trailing field
        "- 1 2 3 4 /dash-first rw - ext4 /dev/y rw\n"
        "1 2 3 4 /last rw - btrfs /dev/z"; // no super options, no final newline
    Names rows;
    for (const auto& m : mounts::parse_mountinfo(text))
        rows.push_back(m.point + "|" + m.fs_type + "|" + m.source + (m.read_only ? "|ro" : ""));
    EXPECT_EQ(rows, (Names{"/|ext4|/dev/vda", "/media/anna/My Stick|vfat|/dev/sdb1|ro",
                           "/srv/ro|xfs|/dev/sdc 1|ro", "/srv/rw|xfs|/dev/sdd",
                           "/srv/robust|xfs|/dev/sde", "/tabbed|nfs4|server:/export",
                           "/last|btrfs|/dev/z"}));
}

TEST(Lookup, MostSpecificMountWinsAndLaterRowsShadow) {
    const mounts::Table table = {row("/"), row("/home"), row("/home/anna/data", "xfs"),
                                 row("/home/anna/data", "btrfs")};
    const std::pair<const char*, const char*> cases[] = {{"/home/anna/x", "/home"},
                                                         {"/homework", "/"},
                                                         {"/home/anna/data/f", "/home/anna/data"},
                                                         {"/home/anna/database", "/home"},
                                                         {"relative", "/"}};
    for (const auto& [path, point] : cases)
        EXPECT_EQ(point_for(table, path), point) << path;
    EXPECT_EQ(mounts::lookup(table, "/home/anna/data")->fs_type, "btrfs");
    EXPECT_EQ(mounts::lookup({}, "/x"), nullptr);
    EXPECT_EQ(mounts::lookup({row("/home")}, "/etc"), nullptr);
    // Outside a snap the host prefix is not added, but a scan spelling is
    // tried as display path when it finds only the root.
    const mounts::Table host = {row("/"), row("/var/lib/snapd/hostfs/data"), row("/home")};
    EXPECT_EQ(point_for(host, "/data/x"), "/");
    EXPECT_EQ(point_for(host, "/var/lib/snapd/hostfs/home/anna"), "/home");
}

TEST(ScannableRoots, AppliesTheRulesInOrder) {
    EXPECT_TRUE(mounts::is_risky_fs("fuse.sshfs") && !mounts::is_pseudo_fs("Proc"));
    const mounts::Table table = {
        row("/", "ext4", "/dev/sda2"),
        row("/proc", "proc", "proc"),
        row("/dev/shm", "tmpfs", "tmpfs"),
        row("/home/anna/tmp", "tmpfs", "tmpfs"),
        row("/snap/core/1", "squashfs", "/dev/loop0"),
        row("/snapshots", "btrfs", "/dev/sdf1"),
        row("/opt/image", "squashfs", "/dev/loop1"),
        row("/var/lib/snapd/hostfs", "ext4", "/dev/sdg1"),
        row("/var/snap/x", "ext4", "/dev/sdg2"),
        row("/boot/efi", "vfat", "/dev/sda1"),
        row("/var", "ext4", "/dev/sda3"),
        row("/run/user/1000/doc", "fuse.portal", "portal"),
        row("/run/media/anna/USB", "exfat", "/dev/sdb1"),
        row("/runner", "ext4", "/dev/sdh1"),
        row("/srv/bind", "ext4", "/dev/sda2"), // device already offered at "/"
        row("/data", "xfs", "/dev/sdc1"),
        row("/data", "xfs", "/dev/sdd1"),  // same point again
        row("/data2", "xfs", "/dev/sdd1"), // the repeated point recorded no device
        row("/net", "nfs4", "server:/export"),
        row("/net2", "nfs4", "server:/export"), // not a /dev/ source: kept
        row("/home", "ext4", "/dev/sde1")};
    EXPECT_EQ(points_of(mounts::scannable_roots_of(table)),
              (Names{"/", "/snapshots", "/run/media/anna/USB", "/runner", "/data", "/data2", "/net",
                     "/net2", "/home"}));
}

// The live table on real mounts in a private namespace: mounts made after the
// first read appear after refresh(), and old snapshots stay readable, also to
// readers on other threads.
TEST(LiveTable, SeesMountsMadeAfterTheFirstReadAndKeepsOldRowsValid) {
    TempTree tree;
    const std::string spaced = tree.dir("vol with space");
    const std::string point = tree.dir("churn");
    // Opened here, in the test's own namespace: the child must notice that it
    // moved to another one.
    ASSERT_FALSE(mounts::all().empty());
    SPACEMOLE_IN_MOUNT_NAMESPACE(([&] {
        mounts::refresh();
        EXPECT_FALSE(mounts::refresh()); // nothing changed: no new snapshot
        if (!testing_support::mount_tmpfs(spaced)) return false;
        EXPECT_TRUE(mounts::refresh());
        const mounts::Mount* now = mounts::for_path(spaced + "/x");
        EXPECT_EQ(now->point + "|" + now->fs_type + (now->read_only ? "|ro" : ""),
                  spaced + "|tmpfs");

        // Readers on other threads while mounts come and go: every pointer
        // handed out stays readable (old snapshots are never freed).
        std::atomic<bool> stop{false};
        std::atomic<long> reads{0};
        std::atomic<bool> bad{false};
        auto reader = [&] {
            std::vector<const mounts::Mount*> kept;
            while (!stop.load()) {
                const mounts::Mount* m = mounts::for_path(point + "/f");
                if (m == nullptr || m->point.empty()) bad = true;
                if (kept.size() < 64) kept.push_back(m);
                reads.fetch_add(1);
            }
            for (const mounts::Mount* m : kept)
                if (m->point.empty() || m->fs_type.empty()) bad = true;
        };
        std::thread a(reader);
        std::thread b(reader);
        int published = 0;
        for (int i = 0; i < 40; ++i) {
            if (!testing_support::mount_tmpfs(point)) break;
            published += mounts::refresh();
            if (::umount(point.c_str()) != 0) break;
            published += mounts::refresh();
        }
        stop = true;
        a.join();
        b.join();
        EXPECT_EQ(published, 80);
        return !bad && reads.load() > 0;
    }));
}

} // namespace
