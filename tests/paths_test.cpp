#include "paths.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "fresh_process.h"
#include "mount_namespace.h"
#include "child_process.h"
#include "temp_tree.h"

namespace {

using testing_support::EnvChanges;
using testing_support::TempTree;

const std::string kPrefix(kHostPrefix);

TEST(ReachableDirectly, HomeAndMediaFoldersOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"/home/anna", true},
        {"/home/annabel", false},
        {"/home", false},
        {"/media", true},
        {"/media/anna/USB", true},
        {"/mediax", false},
        {"/mnt/disk", true},
        {"/run/media/anna", true},
        {"/run", false},
        {"/run/user", false},
        {"/", false},
        {"", false},
    };
    for (const auto& [path, want] : cases)
        EXPECT_EQ(paths_rules::reachable_directly("/home/anna", path), want) << path;
    // Without a home only the media locations count.
    EXPECT_FALSE(paths_rules::reachable_directly("", "/home/anna"));
    EXPECT_FALSE(paths_rules::reachable_directly("", "/"));
    EXPECT_TRUE(paths_rules::reachable_directly("", "/media/x"));
}

TEST(ToScanPath, AddsTheHostPrefixOnlyWhereNeeded) {
    const std::pair<std::string, std::string> cases[] = {
        {"/etc", kPrefix + "/etc"},
        {"/", kPrefix + "/"},
        {"/home/annabel", kPrefix + "/home/annabel"},
        {"/var/lib/snapd/hostfsX", kPrefix + "/var/lib/snapd/hostfsX"},
        {"/home/anna", "/home/anna"},
        {"/media/anna/USB", "/media/anna/USB"},
        {kPrefix, kPrefix},
        {kPrefix + "/etc", kPrefix + "/etc"},
        {"relative/path", "relative/path"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(paths_rules::to_scan_path(true, "/home/anna", in), out) << in;
        EXPECT_EQ(paths_rules::to_scan_path(false, "/home/anna", in), in) << in;
    }
}

TEST(ToDisplayPath, DropsTheHostPrefixAsAWholeComponent) {
    const std::pair<std::string, std::string> cases[] = {
        {kPrefix, "/"},
        {kPrefix + "/etc", "/etc"},
        {kPrefix + "/home/anna/x", "/home/anna/x"},
        {kPrefix + "X", kPrefix + "X"}, // never a relative "X"
        {"/etc", "/etc"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(to_display_path(in), out) << in;
    // Both mappings agree on round trips.
    for (const char* p : {"/", "/etc", "/home/anna/x", "/media/USB"})
        EXPECT_EQ(to_display_path(paths_rules::to_scan_path(true, "/home/anna", p)), p) << p;
}

TEST(ConfigDirFor, NeverRelative) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* passwd;
        const char* want;
    };
    const Case cases[] = {
        {"rel", "relhome", "relpw", ""},
        {"/x/cfg", "/home/anna", "/pw", "/x/cfg/Spacemole"},
        {"", "/home/anna", "/pw", "/home/anna/.config/Spacemole"},
        {"rel/cfg", "/home/anna", "/pw", "/home/anna/.config/Spacemole"},
        {"", "", "/pw", "/pw/.config/Spacemole"},
        {"rel", "relhome", "/pw", "/pw/.config/Spacemole"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paths_rules::config_dir_for(c.xdg, c.home, c.passwd), c.want)
            << "xdg=" << c.xdg << " home=" << c.home << " passwd=" << c.passwd;
}

TEST(RealHome, SnapRealHomeThenHomeThenPasswd) {
    const int status = testing_support::run_in_child([] {
        ::setenv("SNAP_REAL_HOME", "/home/real", 1);
        ::setenv("HOME", "/home/snapped", 1);
        EXPECT_EQ(real_home(), "/home/real") << "SNAP_REAL_HOME first";
        ::setenv("SNAP_REAL_HOME", "", 1);
        EXPECT_EQ(real_home(), "/home/snapped") << "an empty SNAP_REAL_HOME falls through";
        ::unsetenv("SNAP_REAL_HOME");
        ::setenv("HOME", "", 1);
        const std::string from_passwd = real_home();
        ::unsetenv("HOME");
        EXPECT_EQ(real_home(), from_passwd) << "unset and empty HOME alike";
        if (::geteuid() == 0) {
            EXPECT_EQ(from_passwd, "/root") << "root's password entry";
        }
        ::setenv("SNAP_REAL_HOME", "relative/real", 1);
        ::setenv("HOME", "relative/home", 1);
        EXPECT_EQ(real_home(), from_passwd) << "relative values are skipped";
        ::setenv("HOME", "/home/abs", 1);
        EXPECT_EQ(real_home(), "/home/abs") << "a relative SNAP_REAL_HOME falls through";
        return true;
    });
    EXPECT_EQ(status, 0);
}

// The sandbox flags are computed once per process, so each mode runs in a
// fresh process with its environment.
TEST(Sandbox, Unconfined) {
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_Unconfined",
                               (EnvChanges{{"SNAP", "/snap/spacemole/1"}, {"SNAP_NAME", ""}}));
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
    DIR* d = ::opendir(kPrefix.c_str());
    if (d != nullptr) {
        ::closedir(d);
        GTEST_SKIP() << kPrefix << " exists on this machine";
    }
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_SnapWithoutHostAccess",
                               (EnvChanges{{"SNAP", "/snap/spacemole/1"},
                                           {"SNAP_NAME", "spacemole"},
                                           {"SNAP_REAL_HOME", "/home/anna"}}));
}

TEST(SandboxFresh, DISABLED_SnapWithoutHostAccess) {
    EXPECT_TRUE(running_in_snap());
    EXPECT_FALSE(hostfs_available());
    EXPECT_EQ(to_scan_path("/etc"), "/etc");
    EXPECT_FALSE(is_writable_location("/etc"));
    EXPECT_FALSE(is_writable_location("/home/annabel"));
    EXPECT_TRUE(is_writable_location("/home/anna/x"));
    EXPECT_TRUE(is_writable_location("/run/media/anna/USB"));
}

TEST(Sandbox, SnapWithHostAccess) {
    SPACEMOLE_IN_FRESH_PROCESS("SandboxFresh.DISABLED_SnapWithHostAccess",
                               (EnvChanges{{"SNAP", "/snap/spacemole/1"},
                                           {"SNAP_NAME", "spacemole"},
                                           {"SNAP_REAL_HOME", std::nullopt},
                                           {"HOME", "/home/anna"}}));
}

TEST(SandboxFresh, DISABLED_SnapWithHostAccess) {
    // The host prefix on a private tmpfs over /var/lib.
    SPACEMOLE_IN_MOUNT_NAMESPACE(([] {
        if (!testing_support::mount_tmpfs("/var/lib")) return false;
        ::mkdir("/var/lib/snapd", 0755);
        ::mkdir("/var/lib/snapd/hostfs", 0755);
        EXPECT_TRUE(running_in_snap() && hostfs_available()) << "in a snap with host access";
        EXPECT_EQ(to_scan_path("/etc"), kPrefix + "/etc") << "system folders via the prefix";
        EXPECT_EQ(to_scan_path("/"), kPrefix + "/") << "the host root";
        EXPECT_EQ(to_scan_path("/home/anna/x"), "/home/anna/x") << "the home directly";
        EXPECT_EQ(to_scan_path("/home/annabel"), kPrefix + "/home/annabel") << "not the home";
        EXPECT_EQ(to_scan_path("/media/anna/USB"), "/media/anna/USB") << "media directly";
        EXPECT_EQ(to_scan_path("/run/media"), "/run/media") << "the media root directly";
        EXPECT_EQ(to_scan_path(kPrefix + "/etc"), kPrefix + "/etc") << "never prefixed twice";
        EXPECT_EQ(to_scan_path("rel"), "rel") << "relative paths unchanged";
        EXPECT_TRUE(!is_writable_location("/etc")) << "system folders are not writable";
        EXPECT_TRUE(is_writable_location("/home/anna")) << "the home is writable";
        // The flags were computed once: removing the folder changes nothing.
        ::rmdir("/var/lib/snapd/hostfs");
        EXPECT_TRUE(hostfs_available()) << "the flag is cached";
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
        // Opened now: it stays readable after the privileges are dropped.
        const int cwd_fd = ::open(cwd.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        auto cwd_empty = [&] {
            const std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(::dup(cwd_fd)), &::closedir);
            if (!d) return false;
            ::rewinddir(d.get());
            int entries = 0;
            while (const dirent* e = ::readdir(d.get()))
                entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
            return entries == 0;
        };
        struct stat st {};

        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", "relative-config", 1);
        const std::string dir = config_dir();
        EXPECT_EQ(dir, home + "/.config/Spacemole") << "a relative XDG_CONFIG_HOME is ignored";
        EXPECT_TRUE(::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                    (st.st_mode & 0777) == 0700)
            << "created with mode 0700";
        EXPECT_TRUE(cwd_empty()) << "nothing created in the working directory";

        ::setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
        EXPECT_EQ(config_dir(), home + "/xdg/Spacemole") << "an absolute XDG_CONFIG_HOME";
        EXPECT_TRUE(::stat((home + "/xdg/Spacemole").c_str(), &st) == 0) << "created under it";

        // No usable variables: the password database's home. Root's home is
        // hidden under a private tmpfs so the machine's stays untouched.
        if (::geteuid() == 0) {
            if (!testing_support::mount_tmpfs("/root")) return false;
            ::unsetenv("HOME");
            ::setenv("XDG_CONFIG_HOME", "", 1);
            EXPECT_EQ(config_dir(), "/root/.config/Spacemole") << "the password database's home";
            EXPECT_TRUE(::stat("/root/.config/Spacemole", &st) == 0) << "created there";
            ::setenv("HOME", "relative-home", 1);
            EXPECT_EQ(config_dir(), "/root/.config/Spacemole") << "a relative HOME is ignored";

            // A user without a password entry gets no folder at all.
            if (::setresgid(54321, 54321, 54321) != 0 || ::setresuid(54321, 54321, 54321) != 0)
                return false;
            ::unsetenv("HOME");
            ::unsetenv("XDG_CONFIG_HOME");
            EXPECT_EQ(config_dir(), "") << "no home anywhere";
            EXPECT_TRUE(cwd_empty()) << "still nothing in the working directory";
        }
        return true;
    }));
    if (::geteuid() != 0) GTEST_SKIP() << "not root: the password-database cases were not run";
}

} // namespace
