#include "paths.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "mounts.h"
#include "mount_namespace.h"
#include "temp_tree.h"

namespace {

using testing_support::TempTree;

const std::string kPrefix(kHostPrefix);

TEST(PathRules, ReachableDirectlyAreTheHomeAndMediaFoldersOnly) {
    for (const char* p :
         {"/home/anna", "/media", "/media/anna/USB", "/mnt/disk", "/run/media/anna"})
        EXPECT_TRUE(paths_rules::reachable_directly("/home/anna", p)) << p;
    for (const char* p : {"/home/annabel", "/home", "/mediax", "/run", "/run/user", "/", ""})
        EXPECT_FALSE(paths_rules::reachable_directly("/home/anna", p)) << p;
    // Without a home only the media locations count.
    EXPECT_FALSE(paths_rules::reachable_directly("", "/home/anna") ||
                 paths_rules::reachable_directly("", "/"));
    EXPECT_TRUE(paths_rules::reachable_directly("", "/media/x"));
}

TEST(PathRules, TheHostPrefixIsAddedOnlyWhereNeededAndDroppedAsAWholeComponent) {
    const std::vector<std::string> prefixed = {"/etc", "/", "/home/annabel",
                                               "/var/lib/snapd/hostfsX"};
    const std::vector<std::string> kept = {"/home/anna", "/media/anna/USB", kPrefix + "/etc",
                                           "rel/path", ""};
    for (const auto& p : prefixed)
        EXPECT_EQ(paths_rules::to_scan_path(true, "/home/anna", p), kPrefix + p) << p;
    for (const auto& p : kept)
        EXPECT_EQ(paths_rules::to_scan_path(true, "/home/anna", p), p) << p;
    for (const auto& list : {prefixed, kept})
        for (const auto& p : list)
            EXPECT_EQ(paths_rules::to_scan_path(false, "/home/anna", p), p) << p;
    EXPECT_EQ(to_display_path(kPrefix), "/");
    for (const std::string& p : {kPrefix + "X", std::string("/etc"), std::string()})
        EXPECT_EQ(to_display_path(p), p) << p;
    for (const char* p : {"/", "/etc", "/home/anna/x", "/media/USB"})
        EXPECT_EQ(to_display_path(paths_rules::to_scan_path(true, "/home/anna", p)), p) << p;
}

// Each row sets (or, when null, unsets) SNAP_REAL_HOME and HOME; "" expects
// the password database's home.
TEST(RealHome, SnapRealHomeThenHomeThenPasswd) {
    const std::string from_passwd = ::getpwuid(::getuid())->pw_dir;
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"/home/real", "/home/snapped", "/home/real"},
        {"", "/home/snapped", "/home/snapped"},
        {nullptr, "", ""},
        {nullptr, nullptr, ""},
        {"relative/real", "relative/home", ""},
        {"relative/real", "/home/abs", "/home/abs"}};
    EXPECT_EQ(testing_support::run_in_child([&] {
                  for (const auto& [snap_real_home, home, want] : rows) {
                      for (const auto& [name, value] :
                           {std::pair{"SNAP_REAL_HOME", snap_real_home}, std::pair{"HOME", home}})
                          value ? ::setenv(name, value, 1) : ::unsetenv(name);
                      EXPECT_EQ(real_home(), *want ? want : from_passwd) << (home ? home : "unset");
                  }
              }),
              0);
}

// The sandbox flags are computed once per process, at their first use: here
// in a child, with the host prefix on a private tmpfs over /var/lib.
TEST(Sandbox, SnapWithHostAccess) {
    SPACEMOLE_IN_MOUNT_NAMESPACE(([] {
        ::setenv("SNAP", "/snap/spacemole/1", 1);
        ::setenv("SNAP_NAME", "spacemole", 1);
        ::unsetenv("SNAP_REAL_HOME");
        ::setenv("HOME", "/home/anna", 1);
        if (!testing_support::mount_tmpfs("/var/lib") || ::mkdir("/var/lib/snapd", 0755) != 0 ||
            ::mkdir("/var/lib/snapd/hostfs", 0755) != 0)
            return false;
        EXPECT_TRUE(running_in_snap() && hostfs_available());
        EXPECT_EQ(to_scan_path("/etc"), kPrefix + "/etc");
        EXPECT_EQ(to_scan_path("/home/anna/x"), "/home/anna/x");
        EXPECT_FALSE(is_writable_location("/etc"));
        EXPECT_TRUE(is_writable_location("/home/anna"));
        // The mount table names host mounts under the prefix.
        const mounts::Table table = {{"/", "ext4", "/dev/a", false},
                                     {kPrefix, "ext4", "/dev/h", false},
                                     {kPrefix + "/data", "xfs", "/dev/d", false},
                                     {"/media/anna/USB", "vfat", "/dev/u", false}};
        const std::pair<const char*, std::string> points[] = {
            {"/data/x", kPrefix + "/data"},
            {"/data", kPrefix + "/data"},
            {"/etc/x", "/"},
            {"/media/anna/USB/f", "/media/anna/USB"},
            {"/home/anna/f", "/"}};
        for (const auto& [path, point] : points)
            EXPECT_EQ(mounts::for_path_in(table, path)->point, point) << path;
        // The flags were computed once: removing the folder changes nothing.
        ::rmdir("/var/lib/snapd/hostfs");
        EXPECT_TRUE(hostfs_available());
        return true;
    }));
}

// The configuration folder never lands in the working directory.
TEST(ConfigDir, CreatesAnAbsoluteFolderOrNone) {
    TempTree tree;
    const std::string home = tree.dir("home");
    const std::string cwd = tree.dir("cwd");
    SPACEMOLE_IN_MOUNT_NAMESPACE(([&] {
        if (::chdir(cwd.c_str()) != 0) return false;
        struct stat st {};
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", "relative-config", 1);
        const std::string dir = config_dir();
        EXPECT_EQ(dir, home + "/.config/Spacemole"); // a relative XDG_CONFIG_HOME is ignored
        EXPECT_TRUE(::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                    (st.st_mode & 0777) == 0700);
        ::setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
        EXPECT_EQ(config_dir(), home + "/xdg/Spacemole");

        // No usable variables: the password database's home. Root's home is
        // hidden under a private tmpfs so the machine's stays untouched.
        if (::geteuid() == 0) {
            if (!testing_support::mount_tmpfs("/root")) return false;
            ::unsetenv("HOME");
            ::setenv("XDG_CONFIG_HOME", "", 1);
            EXPECT_EQ(config_dir(), "/root/.config/Spacemole");
            ::setenv("HOME", "relative-home", 1);
            EXPECT_EQ(config_dir(), "/root/.config/Spacemole");
            // A user without a password entry gets no folder at all.
            if (::setresgid(54321, 54321, 54321) != 0 || ::setresuid(54321, 54321, 54321) != 0)
                return false;
            ::unsetenv("HOME");
            ::unsetenv("XDG_CONFIG_HOME");
            EXPECT_EQ(config_dir(), "");
        }
        return true;
    }));
    EXPECT_EQ(testing_support::list_dir(cwd), std::vector<std::string>{});
    if (::geteuid() != 0) GTEST_SKIP() << "not root: the password-database cases were not run";
}

} // namespace
