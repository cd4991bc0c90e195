#include "deletion_guard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "fresh_process.h"
#include "mount_namespace.h"
#include "strutil.h"
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
        {"//home///alice/Documents/", "/home/alice/Documents"},
        {"/usr/../home/alice", "/usr/../home/alice"},
        {"relative//x/", "relative/x"},
        {"x/", "x"}, // one letter and its slash
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(rules::normalize(in), out) << '"' << in << '"';
}

TEST(PathRelations, InsideAndDirectChildAreComponentWise) {
    EXPECT_TRUE(rules::is_inside("/usr", "/usr"));
    EXPECT_TRUE(rules::is_inside("/usr/bin", "/usr"));
    EXPECT_FALSE(rules::is_inside("/usrlocal", "/usr"));
    EXPECT_TRUE(rules::is_inside("/anything", "/"));
    EXPECT_FALSE(rules::is_inside("/anything", ""));

    EXPECT_TRUE(rules::is_direct_child("/home/bob", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home/bob/x", "/home"));
    EXPECT_FALSE(rules::is_direct_child("/home/", "/home"));
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

TEST(ExactSet, WithoutAnAbsoluteHomeOnlyTheFixedEntriesRemain) {
    const auto fixed = rules::exact_set_for("", "XDG_MUSIC_DIR=\"/data/m\"");
    EXPECT_EQ(rules::exact_set_for("relative/home", ""), fixed);
    EXPECT_EQ(fixed.count("/data/m"), 0u);
    EXPECT_EQ(fixed.count("/home"), 1u);
    // Package state and shared temporary space are never offered whole.
    EXPECT_EQ(fixed.count("/var/cache"), 1u);
    EXPECT_EQ(fixed.count("/var/tmp"), 1u);
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
                            {"/home/alice/.config", kReasonSystem},
                            {"/home/alice/.config/app", nullptr},
                            {"/home/alice/Musik", kReasonSystem},
                            {"/home/alice/Musik/song.ogg", nullptr},
                            {"/home/bob", kReasonOtherHome},
                            {"/home/bob/file", nullptr},
                            {"/var/lib/snapd", kReasonSystem},
                            {"/var/lib/other", nullptr},
                            {"/var/cache", kReasonSystem},
                            {"/var/tmp", kReasonSystem},
                            {"/var/cache/foo", nullptr},
                            {"/run/user/1000/x", kReasonSystem},
                            {"/media/alice/STICK", kReasonSystem},
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
    using namespace std::string_literals;
    // An embedded NUL: system calls would see only the part before it.
    EXPECT_EQ(show(guard(home + "/usr-link\0/x"s)), show(kReasonSystem));
    EXPECT_EQ(show(guard("/tmp/spacemole-none\0"s)), show(kReasonSystem));
    expect_cases(guard, {
                            // The link itself is deletable: its target is not touched.
                            {(home + "/usr-link").c_str(), nullptr},
                            {(home + "/root").c_str(), nullptr},
                            {(home + "/dangling").c_str(), nullptr},
                            {(home + "/docs-link").c_str(), nullptr},
                            // Through a linked folder the real path counts.
                            {(home + "/usr-link/bin").c_str(), kReasonSystem},
                            {(home + "//usr-link///bin").c_str(), kReasonSystem},
                            {(home + "/root/etc").c_str(), kReasonSystem},
                            {(home + "/root/home").c_str(), kReasonSystem},
                            {(home + "/root/var/lib").c_str(), kReasonSystem},
                            {(home + "/root/tmp").c_str(), kReasonSystem},
                            {(home + "/home-link").c_str(), nullptr},
                            {(home + "/home-link/Documents").c_str(), kReasonSystem},
                            {(home + "/Documents/sub/..").c_str(), kReasonSystem},
                            {(home + "/docs-link/sub/f.txt").c_str(), nullptr},
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
    if (checked == 0) GTEST_SKIP() << "no system link here to check through a linked folder";
}

// The live guard builds its tables once per process from HOME and the
// user-dirs file: these tests run in fresh processes with HOME set to
// GUARD_TEST_HOME, a temp folder prepared by the outer test.
std::string test_home() {
    const char* h = std::getenv("GUARD_TEST_HOME");
    return h ? h : "";
}

// Prepares a home with a user-dirs file naming a folder inside it and one
// outside; returns the environment for the inner test.
testing_support::EnvChanges prepare_home(TempTree& tree) {
    const std::string home = tree.dir("home/alice");
    testing_support::write_file(home + "/.config/user-dirs.dirs",
                                "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PICTURES_DIR=\"" +
                                    tree.path("elsewhere/pics") + "\"\n");
    tree.file("home/alice/Musik/a.ogg", 3);
    tree.dir("elsewhere/pics");
    tree.symlink("home/alice/usr-link", "/usr");
    return {{"HOME", home + "/"},
            {"GUARD_TEST_HOME", home},
            {"SNAP", std::nullopt},
            {"SNAP_NAME", std::nullopt},
            {"SNAP_REAL_HOME", std::nullopt},
            {"XDG_CONFIG_HOME", std::nullopt}};
}

void expect_live(const std::string& p, const char* want) {
    const char* got = deletion_guard::reason_key(p);
    EXPECT_EQ(show(got), show(want)) << p;
    EXPECT_EQ(deletion_guard::is_protected(p), want != nullptr) << "is_protected agrees: " << p;
}

TEST(ReasonKey, UsesTheRealHomeAndItsUserDirs) {
    TempTree tree;
    SPACEMOLE_IN_FRESH_PROCESS("ReasonKeyFresh.DISABLED_HomeAndUserDirs", prepare_home(tree));
}

TEST(ReasonKeyFresh, DISABLED_HomeAndUserDirs) {
    const std::string home = test_home();
    ASSERT_FALSE(home.empty());
    const std::string root = su::parent_of(su::parent_of(home));
    expect_live(home, kReasonSystem);
    expect_live(home + "/Musik", kReasonSystem);
    expect_live(home + "/Musik/a.ogg", nullptr);
    expect_live(home + "/Downloads", kReasonSystem);
    expect_live(home + "/.local/share", kReasonSystem);
    expect_live(root + "/elsewhere/pics", kReasonSystem);
    expect_live(root + "/elsewhere", kReasonSystem); // holds a user folder
    expect_live(root + "/home", kReasonSystem);      // holds the home
    expect_live(home + "/usr-link", nullptr);
    expect_live(home + "/usr-link/bin", kReasonSystem);
    expect_live("/etc/passwd", kReasonSystem);
    expect_live("", kReasonSystem);
    expect_live("Documents", kReasonSystem);
}

// HOME may name the home through a linked folder (/home linked to
// /var/home): the home, its folders and the user folders are protected under
// their real spelling too, which is how a scan of / reaches them.
TEST(ReasonKey, HomeNamedThroughALinkIsProtectedWhereItReallyIs) {
    TempTree tree;
    const std::string real_home = tree.dir("real/alice");
    tree.file("real/alice/Musik/a.ogg", 3);
    tree.dir("elsewhere/pics");
    tree.symlink("linked", tree.path("real"));
    tree.symlink("linked-elsewhere", tree.path("elsewhere"));
    testing_support::write_file(real_home + "/.config/user-dirs.dirs",
                                "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PICTURES_DIR=\"" +
                                    tree.path("linked-elsewhere/pics") + "\"\n");
    SPACEMOLE_IN_FRESH_PROCESS("ReasonKeyFresh.DISABLED_HomeThroughALink",
                               {{"HOME", tree.path("linked/alice")},
                                {"GUARD_TEST_HOME", real_home},
                                {"SNAP", std::nullopt},
                                {"SNAP_NAME", std::nullopt},
                                {"SNAP_REAL_HOME", std::nullopt},
                                {"XDG_CONFIG_HOME", std::nullopt}});
}

TEST(ReasonKeyFresh, DISABLED_HomeThroughALink) {
    const std::string home = test_home(); // the real spelling
    ASSERT_FALSE(home.empty());
    const std::string root = su::parent_of(su::parent_of(home));
    expect_live(home, kReasonSystem);
    expect_live(home + "/Musik", kReasonSystem);
    expect_live(home + "/Downloads", kReasonSystem);
    expect_live(home + "/.ssh", kReasonSystem);
    expect_live(root + "/real", kReasonSystem); // holds the home
    expect_live(root + "/elsewhere/pics", kReasonSystem);
    expect_live(home + "/Musik/a.ogg", nullptr);
    expect_live(home + "/notes.txt", nullptr);
}

// Real mounts in a private namespace, made after the guard's first answer:
// mount roots are protected at once (seen on disk), their contents are not.
TEST(ReasonKey, RealMountsInAPrivateNamespace) {
    TempTree tree;
    auto env = prepare_home(tree);
    tree.dir("src/sub");
    tree.file("src/sub/data.bin", 100);
    env.push_back({"GUARD_TEST_SRC", tree.path("src")});
    SPACEMOLE_IN_FRESH_PROCESS("ReasonKeyFresh.DISABLED_RealMounts", env);
}

TEST(ReasonKeyFresh, DISABLED_RealMounts) {
    const std::string home = test_home();
    const char* src_env = std::getenv("GUARD_TEST_SRC");
    ASSERT_TRUE(!home.empty() && src_env);
    const std::string src = src_env;
    SPACEMOLE_IN_MOUNT_NAMESPACE(([&] {
        const std::string disk = home + "/My Disk";
        const std::string bound = home + "/bound";
        const std::string bound_again = home + "/Documents/bound again";
        for (const auto& d : {disk, bound, home + "/Documents", bound_again})
            ::mkdir(d.c_str(), 0755);
        mounts::refresh();
        expect_live(disk, nullptr); // a plain empty folder so far

        // Mounted after the table was read, and not refreshed: seen on disk.
        if (!testing_support::mount_tmpfs(disk) || !testing_support::mount_bind(src, bound) ||
            !testing_support::mount_bind(src, bound_again))
            return false;
        testing_support::write_file(disk + "/file.txt", "x");
        expect_live(disk, kReasonSystem);
        expect_live(disk + "/file.txt", nullptr);
        expect_live(bound, kReasonSystem); // same device as its parent
        expect_live(bound_again, kReasonSystem);
        expect_live(bound + "/sub/data.bin", nullptr);
        expect_live(bound + "/sub", nullptr);
        expect_live(src + "/sub", nullptr);

        // Removable media under /run/media, on a private /run.
        if (!testing_support::mount_tmpfs("/run")) return false;
        for (const char* d : {"/run/media", "/run/media/alice", "/run/media/alice/USB"})
            ::mkdir(d, 0755);
        if (!testing_support::mount_tmpfs("/run/media/alice/USB")) return false;
        testing_support::write_file("/run/media/alice/USB/DCIM/a.jpg", "jpeg");
        ::symlink("/run/media/alice/USB", (home + "/stick").c_str());
        ::symlink("/run/media/alice", (home + "/media-link").c_str());
        mounts::refresh();
        expect_live("/run/media", kReasonSystem);
        expect_live("/run/media/alice", kReasonSystem); // holds the stick
        expect_live("/run/media/alice/USB", kReasonSystem);
        expect_live("/run/media/alice/USB/DCIM/a.jpg", nullptr);
        expect_live("/run/media/alice/USB/DCIM/..", kReasonSystem);
        expect_live("/run/user", kReasonSystem);
        expect_live(home + "/stick", nullptr);
        expect_live(home + "/stick/DCIM/a.jpg", nullptr);
        expect_live(home + "/media-link/USB", kReasonSystem);
        expect_live(home + "/Documents", kReasonSystem);

        const mounts::Mount* stick = mounts::for_path("/run/media/alice/USB/DCIM/a.jpg");
        EXPECT_TRUE(stick && stick->point == "/run/media/alice/USB") << "the stick holds its files";
        return true;
    }));
}

// Random paths over a tree full of links: no path that names, or holds, a
// protected location may ever be judged deletable.
TEST(GuardProperty, NothingProtectedIsEverDeletable) {
    TempTree tree;
    const std::string home = tree.dir("home/alice");
    const std::string shared = tree.dir("shared");
    tree.file("home/alice/Documents/sub/f.txt", 4);
    tree.file("home/alice/Musik/a.ogg", 4);
    tree.dir("home/alice/.local/share");
    tree.symlink("home/alice/l_usr", "/usr");
    tree.symlink("home/alice/l_root", "/");
    tree.symlink("home/alice/l_var", "/var");
    tree.symlink("home/alice/l_home", home);
    tree.symlink("home/alice/l_docs", home + "/Documents");
    tree.symlink("home/alice/l_chain", home + "/l_root");
    tree.symlink("home/alice/l_shared", shared);
    tree.symlink("shared/l_up", "..");
    const std::string user_dirs =
        "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PUBLICSHARE_DIR=\"" + shared + "\"\n";
    const Guard guard(mounts::all(), home, user_dirs);

    std::vector<std::string> protected_places(guard.exact.begin(), guard.exact.end());
    for (const auto& t : rules::protected_trees())
        protected_places.push_back(t);
    for (const auto& m : guard.table)
        protected_places.push_back(m.point);
    const auto is_protected_place = [&](const std::string& real) {
        for (const auto& p : protected_places)
            if (rules::is_inside(p, real)) return true; // real is p or holds it
        for (const auto& t : rules::protected_trees())
            if (rules::is_inside(real, t) && !rules::is_inside(real, "/run/media")) return true;
        return false;
    };
    // Where the kernel would act for unlink or rename: the parent resolved,
    // the last name as it is ("." and ".." resolved too).
    const auto acted_on = [](const std::string& p) -> std::string {
        const std::string n = rules::normalize(p);
        const std::string last = su::basename_of(n);
        if (last == "." || last == "..") return rules::resolve(n);
        const std::string parent = su::parent_of(n);
        if (parent.empty()) return n;
        const std::string real_parent = rules::resolve(parent);
        if (real_parent == parent && ::access(parent.c_str(), F_OK) != 0) return {};
        return rules::normalize(su::join_path(real_parent, last));
    };

    const char* parts[] = {
        "usr",    "bin",   "etc",   "var",    "lib",   "snapd",  "run",       "media",   "home",
        "alice",  "tmp",   "..",    ".",      "",      "x",      "Documents", "sub",     "Musik",
        ".local", "share", "l_usr", "l_root", "l_var", "l_home", "l_docs",    "l_chain", "l_shared",
        "l_up",   "proc",  "sys",   "mnt",    "boot",  "f.txt",  "shared"};
    const std::string starts[] = {"/", home + "/", tree.root() + "/", home + "/l_root/", "//"};
    std::mt19937 rng(std::getenv("GUARD_SEED") ? std::atoi(std::getenv("GUARD_SEED")) : 20240607);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    int judged_deletable = 0;
    int checked = 0;
    for (int i = 0; i < 8000; ++i) {
        std::string p = starts[pick(std::size(starts))];
        const std::size_t depth = 1 + pick(6);
        for (std::size_t d = 0; d < depth; ++d) {
            if (d > 0) p += pick(4) == 0 ? "//" : "/";
            p += parts[pick(std::size(parts))];
        }
        if (pick(5) == 0) p += "/";
        const char* reason = guard(p);
        if (reason != nullptr) continue;
        ++judged_deletable;
        const std::string real = acted_on(p);
        if (real.empty()) continue; // the kernel could not reach it either
        ++checked;
        ASSERT_FALSE(is_protected_place(real))
            << "\"" << p << "\" was judged deletable but reaches " << real;
    }
    // The generator must reach both kinds of answer to prove anything.
    EXPECT_GT(judged_deletable, 2000);
    EXPECT_GT(checked, 1000);
}

} // namespace
