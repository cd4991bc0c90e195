#include "deletion_guard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "mount_namespace.h"
#include "temp_tree.h"

namespace {

namespace rules = deletion_guard::rules;
using deletion_guard::kReasonOtherHome;
using deletion_guard::kReasonReadOnly;
using deletion_guard::kReasonSystem;
using testing_support::TempTree;

std::string show(const char* reason) {
    return reason ? reason : "(deletable)";
}

mounts::Mount row(std::string point, std::string type = "ext4", std::string source = "/dev/sda1") {
    return mounts::Mount{std::move(point), std::move(type), std::move(source), false};
}

// A guard over a chosen table, home and user-dirs text, as reason_key builds it.
struct Guard {
    mounts::Table table;
    std::string home;
    rules::ExactSet exact;
    bool in_snap = false;

    Guard(mounts::Table t, std::string h, std::string_view user_dirs = {})
        : table(std::move(t))
        , home(rules::normalize(h))
        , exact(rules::exact_set_for(home, user_dirs)) {}

    const char* operator()(std::string_view path) const {
        const rules::Context ctx{table, home, exact, in_snap, false};
        return rules::classify(ctx, path);
    }
};

struct Case {
    const char* path;
    const char* reason; // null: deletable
};

void expect_cases(const Guard& guard, std::initializer_list<Case> cases) {
    for (const auto& c : cases)
        EXPECT_EQ(show(guard(c.path)), show(c.reason)) << "path: \"" << c.path << '"';
}

TEST(Normalize, CollapsesSlashRunsAndTrailingSlashesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {"///", "/"},
        {"//home///alice/Documents/", "/home/alice/Documents"},
        {"/usr/../home/alice", "/usr/../home/alice"},
        {"/a/./b/", "/a/./b"},
        {"relative//x/", "relative/x"},
        {"x/", "x"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(rules::normalize(in), out) << '"' << in << '"';
}

TEST(PathRelations, InsideAndDirectChildAreComponentWise) {
    EXPECT_TRUE(rules::is_inside("/usr", "/usr"));
    EXPECT_TRUE(rules::is_inside("/usr/bin", "/usr"));
    EXPECT_FALSE(rules::is_inside("/usrlocal", "/usr"));
    EXPECT_FALSE(rules::is_inside("/us", "/usr"));
    EXPECT_TRUE(rules::is_inside("/anything", "/"));
    EXPECT_FALSE(rules::is_inside("/anything", ""));

    EXPECT_TRUE(rules::is_direct_child("/home/bob", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home/bob/x", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home/", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/homes", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/homebob", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home/b", ""));
}

TEST(UserDirs, ParsesHomeRelativeAndAbsoluteValuesOnly) {
    const std::string text = "# comment=\"$HOME/Nope\"\n"
                             "XDG_MUSIC_DIR=\"$HOME/Musik\"\n"
                             "XDG_DESKTOP_DIR=\"$HOME/\"\n"
                             "XDG_VIDEOS_DIR=$HOME/Filme//\n"
                             "XDG_DATA_X=\"/data//photos/\"\r\n"
                             "XDG_OTHER=\"$XDG_DATA/x\"\n"
                             "XDG_REL=\"relative\"\n"
                             "no equals sign\n"
                             "\n"
                             "XDG_EMPTY=\n"
                             "XDG_QUOTE=\"\n"
                             "XDG_SPACED = \"$HOME/Spaced\"\n"
                             "XDG_HOMEISH=\"$HOMEX/y\"";
    const std::vector<std::string> expected = {"/home/alice/Musik", "/home/alice",
                                               "/home/alice/Filme", "/data/photos",
                                               "/home/alice/Spaced"};
    EXPECT_EQ(rules::parse_user_dirs("/home/alice", text), expected);
    // Without a home only the absolute values count.
    EXPECT_EQ(rules::parse_user_dirs("", text), std::vector<std::string>{"/data/photos"});
}

TEST(ExactSet, HoldsFixedEntriesHomeFoldersAndUserDirs) {
    const auto set = rules::exact_set_for("/home/alice/", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    for (const char* p :
         {"/", "/home", "/root", "/var", "/opt", "/srv", "/tmp", "/media", "/mnt", "/run/media",
          "/home/alice", "/home/alice/Desktop", "/home/alice/.local/share", "/home/alice/.ssh",
          "/home/alice/snap", "/home/alice/Musik"})
        EXPECT_EQ(set.count(p), 1u) << p;
    EXPECT_EQ(set.size(), 10u + 1u + 16u + 1u);
    // Without an absolute home only the fixed entries remain.
    EXPECT_EQ(rules::exact_set_for("", "XDG_MUSIC_DIR=\"/data/m\"").size(), 10u);
    EXPECT_EQ(rules::exact_set_for("relative/home", "").size(), 10u);
}

TEST(Classify, SystemAndHomeLocations) {
    const Guard guard({row("/"), row("/home", "ext4", "/dev/sda2"),
                       row("/media/alice/STICK", "vfat", "/dev/sdb1"),
                       row("/run/media/alice/USB", "exfat", "/dev/sdc1"),
                       row("/boot/efi", "vfat", "/dev/sda3"),
                       row("/mnt/space here", "ext4", "/dev/sdd1")},
                      "/home/alice", "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_X=\"/data/shared\"\n");
    expect_cases(guard, {
                            {"", kReasonSystem},
                            {"Documents", kReasonSystem},
                            {"./x", kReasonSystem},
                            {"/", kReasonSystem},
                            {"/home", kReasonSystem},
                            {"/tmp", kReasonSystem},
                            {"/tmp/spacemole-no-such-file", nullptr},
                            {"/usr/share/foo", kReasonSystem},
                            {"/usrlocal-no-such", nullptr},
                            {"/usr/../home/alice/file", kReasonSystem},
                            {"//home///alice/Documents/", kReasonSystem},
                            {"/home/alice/Documents/report.pdf", nullptr},
                            {"/home/alice", kReasonSystem},
                            {"/home/alice/", kReasonSystem},
                            {"/home/alice/.config", kReasonSystem},
                            {"/home/alice/.config/app", nullptr},
                            {"/home/alice/Musik", kReasonSystem},
                            {"/home/alice/Musik/song.ogg", nullptr},
                            {"/home/bob", kReasonOtherHome},
                            {"/home/bob/file", nullptr},
                            {"/var/lib/snapd", kReasonSystem},
                            {"/var/lib/snapd/x", kReasonSystem},
                            {"/var/lib/other", nullptr},
                            {"/var/cache/foo", nullptr},
                            {"/run/user/1000/x", kReasonSystem},
                            {"/media/alice/STICK", kReasonSystem},
                            {"/media/alice/STICK/", kReasonSystem},
                            {"/media/alice/STICK/photo.jpg", nullptr},
                            {"/mnt/space here", kReasonSystem},
                            {"/mnt/space here/file", nullptr},
                            {"/boot/efi", kReasonSystem},
                            {"/data/shared", kReasonSystem},
                        });
}

TEST(Classify, AncestorsOfProtectedLocationsAreProtected) {
    const Guard guard({row("/"), row("/media/alice/STICK", "vfat", "/dev/sdb1"),
                       row("/srv/data/vol", "xfs", "/dev/sde1")},
                      "/var/home/alice", "XDG_X=\"/data/shared\"\n");
    expect_cases(guard, {
                            {"/var/home", kReasonSystem},    // holds the home
                            {"/var/lib", kReasonSystem},     // holds /var/lib/snapd
                            {"/data", kReasonSystem},        // holds a user folder
                            {"/media/alice", kReasonSystem}, // holds a mounted stick
                            {"/srv/data", kReasonSystem},    // holds a mounted volume
                            {"/srv/other", nullptr},
                            {"/media/bob", nullptr},
                            {"/var/home/alice/Documents/x", nullptr},
                        });
}

TEST(Classify, RunMediaVolumesAreJudgedLikeMedia) {
    const Guard guard({row("/"), row("/run/media/alice/USB", "exfat", "/dev/sdc1")}, "/home/alice");
    expect_cases(guard, {
                            {"/run/media", kReasonSystem},
                            {"/run/media/alice", kReasonSystem}, // holds the volume
                            {"/run/media/alice/USB", kReasonSystem},
                            {"/run/media/alice/USB/DCIM/photo.jpg", nullptr},
                            {"/run/media/alice/USB/DCIM", nullptr},
                            {"/run/medias/x", kReasonSystem},
                            {"/run/mediax", kReasonSystem},
                            {"/run/user", kReasonSystem},
                            {"/run", kReasonSystem},
                        });
}

TEST(Classify, SnapOnlyWritesHomeAndMedia) {
    Guard guard({row("/")}, "/home/alice");
    guard.in_snap = true;
    expect_cases(guard, {
                            {"/opt/thing", kReasonReadOnly},
                            {"/usr/bin", kReasonReadOnly},
                            {"/home/alice", kReasonSystem},
                            {"/home/alice/file", nullptr},
                            {"/home/alicebob/file", kReasonReadOnly},
                            {"/media/alice/STICK/f", nullptr},
                            {"/run/media/alice/USB/f", nullptr},
                            {"/mnt/disk/f", nullptr},
                        });
}

// Links in a real tree: the home is a temp folder, links point into it and at
// the real system folders.
class GuardLinks : public ::testing::Test {
protected:
    TempTree tree;
    std::string home = tree.dir("home/alice");
    Guard guard{{row("/")}, home};
};

TEST_F(GuardLinks, LinksAreJudgedWhereTheyReallyLead) {
    tree.symlink("home/alice/usr-link", "/usr");
    tree.symlink("home/alice/root", "/");
    tree.symlink("home/alice/dangling", "/nonexistent/target");
    tree.symlink("home/alice/docs-link", home + "/Documents");
    tree.dir("home/alice/Documents/sub");
    tree.file("home/alice/Documents/sub/f.txt", 10);
    tree.symlink("home/alice/home-link", home);
    tree.symlink("home/alice/tmp-link", "/tmp");
    expect_cases(guard, {
                            // The link itself is deletable: its target is not touched.
                            {(home + "/usr-link").c_str(), nullptr},
                            {(home + "/root").c_str(), nullptr},
                            {(home + "/dangling").c_str(), nullptr},
                            {(home + "/docs-link").c_str(), nullptr},
                            // Through a linked folder the real path counts.
                            {(home + "/usr-link/bin").c_str(), kReasonSystem},
                            {(home + "/usr-link/bin/").c_str(), kReasonSystem},
                            {(home + "//usr-link///bin").c_str(), kReasonSystem},
                            {(home + "/root/etc").c_str(), kReasonSystem},
                            {(home + "/root/etc/hostname").c_str(), kReasonSystem},
                            {(home + "/root/home").c_str(), kReasonSystem},
                            {(home + "/root/var/lib").c_str(), kReasonSystem},
                            {(home + "/root/tmp").c_str(), kReasonSystem},
                            {(home + "/home-link").c_str(), nullptr},
                            {(home + "/home-link/Documents").c_str(), kReasonSystem},
                            {(home + "/Documents/sub/..").c_str(), kReasonSystem},
                            {(home + "/Documents/sub/../..").c_str(), kReasonSystem},
                            {(home + "/docs-link/sub/f.txt").c_str(), nullptr},
                            {(home + "/docs-link/sub").c_str(), nullptr},
                            {(home + "/tmp-link/..").c_str(), kReasonSystem},
                        });
}

TEST_F(GuardLinks, ALinkInsideALinkedFolderIsJudgedByItsRealPlace) {
    // A protected link, reached through a linked folder: the link's own name
    // is judged under the folder's real path.
    const std::string real_dir = tree.dir("sys/real");
    const std::string guarded = tree.symlink("sys/real/guarded", "/nowhere");
    tree.symlink("home/alice/via", real_dir);
    rules::ExactSet exact = guard.exact;
    exact.insert(guarded);
    const rules::Context ctx{guard.table, guard.home, exact, false, false};
    EXPECT_EQ(show(rules::classify(ctx, home + "/via/guarded")), show(kReasonSystem));
    EXPECT_EQ(show(rules::classify(ctx, guarded)), show(kReasonSystem));
    tree.symlink("sys/real/free", "/nowhere");
    EXPECT_EQ(show(rules::classify(ctx, home + "/via/free")), show(nullptr));

    // The same on the real system: merged-/usr systems make /bin, /lib ...
    // links, reached here through a link to "/".
    tree.symlink("home/alice/root", "/");
    int checked = 0;
    for (const char* sys : {"/bin", "/sbin", "/lib", "/lib64", "/etc/mtab"}) {
        struct stat st {};
        if (::lstat(sys, &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        ++checked;
        EXPECT_EQ(show(guard(home + "/root" + sys)), show(kReasonSystem)) << sys;
    }
    if (checked == 0) std::printf("no system link found to check through a linked folder\n");
}

// The live guard reads HOME (once per process) and its user-dirs file.
TEST(ReasonKey, UsesTheRealHomeAndItsUserDirs) {
    TempTree tree;
    const std::string home = tree.dir("home/alice");
    tree.dir("home/alice/.config");
    testing_support::write_file(home + "/.config/user-dirs.dirs",
                                "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PICTURES_DIR=\"" +
                                    tree.path("elsewhere/pics") + "\"\n");
    tree.dir("home/alice/Musik");
    tree.file("home/alice/Musik/a.ogg", 3);
    tree.symlink("home/alice/usr-link", "/usr");
    const int status = testing_support::run_in_child([&] {
        ::setenv("HOME", (home + "/").c_str(), 1);
        ::unsetenv("SNAP_REAL_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        int bad = 0;
        auto expect = [&](const std::string& p, const char* want) {
            const char* got = deletion_guard::reason_key(p);
            if (show(got) != show(want) || deletion_guard::is_protected(p) != (want != nullptr)) {
                std::fprintf(stderr, "%s: got %s, want %s\n", p.c_str(), show(got).c_str(),
                             show(want).c_str());
                ++bad;
            }
        };
        expect(home, kReasonSystem);
        expect(home + "/Musik", kReasonSystem);
        expect(home + "/Musik/a.ogg", nullptr);
        expect(home + "/Downloads", kReasonSystem);
        expect(tree.path("elsewhere/pics"), kReasonSystem);
        expect(tree.path("elsewhere"), kReasonSystem);
        expect(tree.path("home"), kReasonSystem); // holds the home
        expect(home + "/usr-link", nullptr);
        expect(home + "/usr-link/bin", kReasonSystem);
        expect("/etc/passwd", kReasonSystem);
        expect("", kReasonSystem);
        expect("Documents", kReasonSystem);
        return bad == 0;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
