#include "deletion_guard.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "mount_namespace.h"
#include "strutil.h"
#include "temp_tree.h"

namespace {

namespace rules = deletion_guard::rules;
using deletion_guard::kReasonOtherHome;
using deletion_guard::kReasonReadOnly;
using deletion_guard::kReasonSystem;
using namespace testing_support;

std::string show(const char* reason) {
    return reason ? reason : "(deletable)";
}

mounts::Mount row(std::string point) {
    return mounts::Mount{std::move(point), "ext4", "/dev/sda1", false};
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
        return rules::classify({table, home, exact, in_snap, false}, path);
    }
};

// Every path in `paths` gets `reason` (null: deletable).
void expect_all(const Guard& guard, const char* reason, std::initializer_list<std::string> paths) {
    for (const auto& p : paths)
        EXPECT_EQ(show(guard(p)), show(reason)) << '"' << p << '"';
}

TEST(TextRules, NormalizeAndUserDirs) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"//", "/"},
        {"//home///alice/Documents/", "/home/alice/Documents"},
        {"/usr/../x", "/usr/../x"},
        {"x/", "x"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(rules::normalize(in), out) << '"' << in << '"';
    EXPECT_TRUE(rules::is_inside("/usr/bin", "/usr") && rules::is_inside("/x", "/"));

    // User folders: "$HOME/..." and absolute values only.
    const std::string text = "# comment=\"$HOME/Nope\"\nXDG_MUSIC_DIR=\"$HOME/Musik\"\n"
                             "XDG_DESKTOP_DIR=\"$HOME/\"\nXDG_VIDEOS_DIR=$HOME/Filme//\n"
                             "XDG_DATA_X=\"/data//photos/\"\r\nXDG_OTHER=\"$XDG_DATA/x\"\n"
                             "XDG_REL=\"relative\"\nno equals sign\n\nXDG_EMPTY=\nXDG_QUOTE=\"\n"
                             "XDG_SPACED = \"$HOME/Spaced\"\nXDG_HOMEISH=\"$HOMEX/y\"";
    EXPECT_EQ(rules::parse_user_dirs("/home/alice", text),
              (std::vector<std::string>{"/home/alice/Musik", "/home/alice", "/home/alice/Filme",
                                        "/data/photos", "/home/alice/Spaced"}));
    EXPECT_EQ(rules::parse_user_dirs("", text), std::vector<std::string>{"/data/photos"});
    // A relative home protects nothing of its own.
    EXPECT_EQ(rules::exact_set_for("relative/home", text), rules::exact_set_for("", text));
}

TEST(Classify, SystemHomeMediaAndTheirAncestors) {
    Guard guard({row("/"), row("/home"), row("/media/alice/STICK"), row("/run/media/alice/USB"),
                 row("/boot/efi"), row("/mnt/space here"), row("/srv/data/vol")},
                "/home/alice", "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_X=\"/data/shared\"\n");
    expect_all(guard, kReasonSystem,
               {"", "./x", "/", "/home", "/tmp", "/usr/share/foo", "/usr/../home/alice/file",
                "/var/lib/snapd", "/var/cache", "/var/tmp", "/run/user/1000/x", "/run/mediax"});
    expect_all(guard, kReasonSystem,
               {"//home///alice/Documents/", "/home/alice", "/home/alice/Downloads",
                "/home/alice/Musik", "/data/shared", "/run/media", "/run/media/alice/USB",
                "/mnt/space here", "/boot/efi"});
    // Ancestors of a protected folder, of a user folder and of mounted volumes.
    expect_all(guard, kReasonSystem,
               {"/var/lib", "/data", "/media/alice", "/run/media/alice", "/srv/data"});
    expect_all(guard, nullptr,
               {"/tmp/spacemole-no-such-file", "/usrlocal-no-such",
                "/home/alice/Documents/report.pdf", "/home/alice/.config/app",
                "/home/alice/Musik/song.ogg", "/home/bob/file", "/var/lib/other", "/var/cache/foo",
                "/run/media/alice/USB/DCIM/photo.jpg", "/media/alice/STICK/photo.jpg",
                "/mnt/space here/file", "/srv/other"});
    expect_all(guard, kReasonOtherHome, {"/home/bob"});
    guard.in_snap = true; // only the home and media folders are writable
    expect_all(guard, kReasonReadOnly, {"/opt/thing", "/home/alicebob/file"});
    expect_all(guard, nullptr, {"/home/alice/file", "/run/media/alice/USB/f", "/mnt/disk/f"});
}

// Links in a real tree: the home is a temp folder, links point into it and at
// the real system folders.
TEST(Classify, LinksAreJudgedWhereTheKernelActs) {
    using namespace std::string_literals;
    TempTree tree;
    const std::string home = tree.dir("home/alice");
    Guard guard({row("/")}, home);
    tree.symlink("home/alice/usr-link", "/usr");
    tree.symlink("home/alice/root", "/");
    tree.symlink("home/alice/dangling", "/nonexistent/target");
    tree.symlink("home/alice/docs-link", home + "/Documents");
    tree.file("home/alice/Documents/sub/f.txt", 10);
    tree.symlink("home/alice/home-link", home);
    tree.symlink("home/alice/tmp-link", "/tmp");
    // An embedded NUL: system calls would see only the part before it.
    expect_all(guard, kReasonSystem, {home + "/usr-link\0/x"s, "/tmp/spacemole-none\0"s});
    // A link itself is deletable (its target is not touched); through a linked
    // folder the real path counts.
    expect_all(guard, nullptr,
               {home + "/usr-link", home + "/root", home + "/dangling", home + "/docs-link",
                home + "/home-link", home + "/docs-link/sub/f.txt"});
    expect_all(guard, kReasonSystem,
               {home + "//usr-link///bin", home + "/root/etc", home + "/root/home",
                home + "/root/var/lib", home + "/home-link/Documents", home + "/Documents/sub/..",
                home + "/tmp-link/.."});
    // A protected link reached through a linked folder is judged by its own
    // name under the folder's real path.
    tree.symlink("home/alice/via", tree.dir("sys/real"));
    const std::string guarded = tree.symlink("sys/real/guarded", "/nowhere");
    tree.symlink("sys/real/free", "/nowhere");
    guard.exact.insert(guarded);
    expect_all(guard, kReasonSystem, {home + "/via/guarded"});
    expect_all(guard, nullptr, {home + "/via/free"});
}

void expect_live(const char* want, std::initializer_list<std::string> paths) {
    for (const auto& p : paths) {
        EXPECT_EQ(show(deletion_guard::reason_key(p)), show(want)) << p;
        EXPECT_EQ(deletion_guard::is_protected(p), want != nullptr) << p;
    }
}

// The live guard builds its tables once per process from HOME and the
// user-dirs file, so it runs in a child (of a private mount namespace). HOME
// names the home through a linked folder (/home linked to /var/home): the
// home, its folders and the user folders are protected where they really are
// too. Then real mounts, made after the guard's first answer: mount roots are
// protected at once (seen on disk), their contents are not.
TEST(ReasonKey, RealHomeThroughALinkAndRealMountsInAPrivateNamespace) {
    TempTree tree;
    const std::string root = tree.root();
    const std::string home = tree.dir("real/alice");
    const std::string src = tree.path("src");
    tree.symlink("linked", tree.path("real"));
    tree.dir("elsewhere/pics");
    tree.symlink("linked-elsewhere", tree.path("elsewhere"));
    write_file(home + "/.config/user-dirs.dirs",
               "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PICTURES_DIR=\"" +
                   tree.path("linked-elsewhere/pics") + "\"\n");
    tree.file("real/alice/Musik/a.ogg", 3);
    tree.symlink("real/alice/usr-link", "/usr");
    tree.file("src/sub/data.bin", 100);
    SPACEMOLE_IN_MOUNT_NAMESPACE(([&] {
        ::setenv("HOME", tree.path("linked/alice/").c_str(), 1);
        for (const char* name : {"SNAP", "SNAP_NAME", "SNAP_REAL_HOME", "XDG_CONFIG_HOME"})
            ::unsetenv(name);
        expect_live(kReasonSystem, {home, root + "/linked/alice", home + "/Musik",
                                    home + "/Downloads", home + "/.local/share", home + "/.ssh",
                                    root + "/elsewhere/pics", root + "/elsewhere", root + "/real",
                                    home + "/usr-link/bin", "/etc/passwd", "Documents"});
        expect_live(nullptr, {home + "/Musik/a.ogg", home + "/usr-link"});
        const std::string disk = tree.dir("real/alice/My Disk");
        const std::string bound = tree.dir("real/alice/bound");
        const std::string bound_again = tree.dir("real/alice/Documents/bound again");
        mounts::refresh();
        expect_live(nullptr, {disk});

        // Mounted after the table was read, and not refreshed: seen on disk.
        if (!mount_tmpfs(disk) || !mount_bind(src, bound) || !mount_bind(src, bound_again))
            return false;
        write_file(disk + "/file.txt", "x");
        expect_live(kReasonSystem, {disk, bound, bound_again}); // a bind: same device as its parent
        expect_live(nullptr, {disk + "/file.txt", bound + "/sub"});

        // Removable media under /run/media, on a private /run.
        if (!mount_tmpfs("/run")) return false;
        for (const char* d : {"/run/media", "/run/media/alice", "/run/media/alice/USB"})
            ::mkdir(d, 0755);
        if (!mount_tmpfs("/run/media/alice/USB")) return false;
        write_file("/run/media/alice/USB/DCIM/a.jpg", "jpeg");
        ::symlink("/run/media/alice/USB", (home + "/stick").c_str());
        ::symlink("/run/media/alice", (home + "/media-link").c_str());
        mounts::refresh();
        expect_live(kReasonSystem, {"/run/media/alice", "/run/media/alice/USB",
                                    "/run/media/alice/USB/DCIM/..", home + "/media-link/USB"});
        expect_live(nullptr, {"/run/media/alice/USB/DCIM/a.jpg", home + "/stick",
                              home + "/stick/DCIM/a.jpg"});
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
    const Guard guard(mounts::all(), home,
                      "XDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_PUBLICSHARE_DIR=\"" + shared + "\"\n");

    const auto is_protected_place = [&](const std::string& real) {
        for (const auto& p : guard.exact)
            if (rules::is_inside(p, real)) return true; // real is p or holds it
        for (const auto& m : guard.table)
            if (rules::is_inside(m.point, real)) return true;
        for (const auto& t : rules::protected_trees())
            if (rules::is_inside(t, real) ||
                (rules::is_inside(real, t) && !rules::is_inside(real, "/run/media")))
                return true;
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
    std::mt19937 rng(20240607);
    const auto pick = [&](std::size_t n) { return rng() % n; };
    int judged_deletable = 0, checked = 0;
    for (int i = 0; i < 8000; ++i) {
        std::string p = starts[pick(std::size(starts))];
        for (std::size_t d = 0, depth = 1 + pick(6); d < depth; ++d)
            p += parts[pick(std::size(parts))] + std::string(pick(4) == 0 ? "//" : "/");
        if (pick(5) != 0) p.pop_back();
        if (guard(p) != nullptr) continue;
        ++judged_deletable;
        const std::string real = acted_on(p);
        if (real.empty()) continue; // the kernel could not reach it either
        ++checked;
        ASSERT_FALSE(is_protected_place(real))
            << '"' << p << "\" is deletable but reaches " << real;
    }
    // The generator must reach both kinds of answer to prove anything.
    EXPECT_GT(judged_deletable, 2000);
    EXPECT_GT(checked, 1000);
}

} // namespace
