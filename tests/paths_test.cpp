#include "paths.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "fresh_process.h"
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
    const std::pair<std::string, std::string> to_scan[] = {
        {"/etc", kPrefix + "/etc"},
        {"/", kPrefix + "/"},
        {"/home/annabel", kPrefix + "/home/annabel"},
        {"/var/lib/snapd/hostfsX", kPrefix + "/var/lib/snapd/hostfsX"},
        {"/home/anna", "/home/anna"},
        {"/media/anna/USB", "/media/anna/USB"},
        {kPrefix + "/etc", kPrefix + "/etc"},
        {"relative/path", "relative/path"},
        {"", ""}};
    for (const auto& [in, out] : to_scan) {
        EXPECT_EQ(paths_rules::to_scan_path(true, "/home/anna", in), out) << in;
        EXPECT_EQ(paths_rules::to_scan_path(false, "/home/anna", in), in) << in;
    }
    const std::pair<std::string, std::string> to_display[] = {
        {kPrefix, "/"},
        {kPrefix + "/home/anna/x", "/home/anna/x"},
        {kPrefix + "X", kPrefix + "X"},
        {"/etc", "/etc"},
        {"", ""}};
    for (const auto& [in, out] : to_display)
        EXPECT_EQ(to_display_path(in), out) << in;
    for (const char* p : {"/", "/etc", "/home/anna/x", "/media/USB"})
        EXPECT_EQ(to_display_path(paths_rules::to_scan_path(true, "/home/anna", p)), p) << p;
}

TEST(RealHome, SnapRealHomeThenHomeThenPasswd) {
    EXPECT_EQ(testing_support::run_in_child([] {
                  ::setenv("SNAP_REAL_HOME", "/home/real", 1);
                  ::setenv("HOME", "/home/snapped", 1);
                  EXPECT_EQ(real_home(), "/home/real");
                  ::setenv("SNAP_REAL_HOME", "", 1);
                  EXPECT_EQ(real_home(), "/home/snapped");
                  ::unsetenv("SNAP_REAL_HOME");
                  ::setenv("HOME", "", 1);
                  const std::string from_passwd = real_home();
                  ::unsetenv("HOME");
                  EXPECT_EQ(real_home(), from_passwd);
                  if (::geteuid() == 0) EXPECT_EQ(from_passwd, "/root");
                  ::setenv("SNAP_REAL_HOME", "relative/real", 1);
                  ::setenv("HOME", "relative/home", 1);
                  EXPECT_EQ(real_home(), from_passwd);
                  ::setenv("HOME", "/home/abs", 1);
                  EXPECT_EQ(real_home(), "/home/abs");
              }),
              0);
}

// The sandbox flags are computed once per process, so each mode runs in a
// fresh process with its environment.
TEST(Sandbox, Unconfined) {
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_Unconfined",
                               {{"SNAP", "/snap/spacemole/1"}, {"SNAP_NAME", ""}});
}

TEST(SandboxFresh, DISABLED_Unconfined) {
    struct stat st {};
    EXPECT_FALSE(running_in_snap()); // SNAP_NAME is empty
    EXPECT_FALSE(hostfs_available());
    EXPECT_EQ(running_in_flatpak(), ::stat("/.flatpak-info", &st) == 0);
    for (const char* p : {"/", "/etc", "relative", "", "/home/nobody-here"}) {
        EXPECT_EQ(to_scan_path(p), p);
        EXPECT_TRUE(is_writable_location(p)) << p;
    }
}

TEST(Sandbox, SnapWithoutHostAccess) {
    struct stat st {};
    if (::stat(kPrefix.c_str(), &st) == 0) GTEST_SKIP() << kPrefix << " exists on this machine";
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_SnapWithoutHostAccess",
                               {{"SNAP", "/snap/spacemole/1"},
                                {"SNAP_NAME", "spacemole"},
                                {"SNAP_REAL_HOME", "/home/anna"}});
}

TEST(SandboxFresh, DISABLED_SnapWithoutHostAccess) {
    EXPECT_TRUE(running_in_snap());
    EXPECT_FALSE(hostfs_available());
    EXPECT_EQ(to_scan_path("/etc"), "/etc");
    EXPECT_FALSE(is_writable_location("/etc") || is_writable_location("/home/annabel"));
    EXPECT_TRUE(is_writable_location("/home/anna/x") &&
                is_writable_location("/run/media/anna/USB"));
}

TEST(Sandbox, SnapWithHostAccess) {
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_SnapWithHostAccess",
                               {{"SNAP", "/snap/spacemole/1"},
                                {"SNAP_NAME", "spacemole"},
                                {"SNAP_REAL_HOME", std::nullopt},
                                {"HOME", "/home/anna"}});
}

TEST(SandboxFresh, DISABLED_SnapWithHostAccess) {
    // The host prefix on a private tmpfs over /var/lib.
    SPACEMOLE_IN_MOUNT_NAMESPACE(([] {
        if (!testing_support::mount_tmpfs("/var/lib") || ::mkdir("/var/lib/snapd", 0755) != 0 ||
            ::mkdir("/var/lib/snapd/hostfs", 0755) != 0)
            return false;
        EXPECT_TRUE(running_in_snap() && hostfs_available());
        EXPECT_EQ(to_scan_path("/etc"), kPrefix + "/etc");
        EXPECT_EQ(to_scan_path("/home/anna/x"), "/home/anna/x");
        EXPECT_EQ(to_scan_path("/run/media"), "/run/media");
        EXPECT_FALSE(is_writable_location("/etc"));
        EXPECT_TRUE(is_writable_location("/home/anna"));
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
        EXPECT_TRUE(::stat((home + "/xdg/Spacemole").c_str(), &st) == 0);

        // No usable variables: the password database's home. Root's home is
        // hidden under a private tmpfs so the machine's stays untouched.
        if (::geteuid() == 0) {
            if (!testing_support::mount_tmpfs("/root")) return false;
            ::unsetenv("HOME");
            ::setenv("XDG_CONFIG_HOME", "", 1);
            EXPECT_EQ(config_dir(), "/root/.config/Spacemole");
            EXPECT_TRUE(::stat("/root/.config/Spacemole", &st) == 0);
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
