#include "deletion_guard.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"
#include "strutil.h"

namespace deletion_guard {

namespace {

using rules::is_direct_child;
using rules::is_inside;

constexpr const char* kTrees[] = {"/boot",  "/bin",    "/sbin", "/lib",  "/lib32",
                                  "/lib64", "/libx32", "/usr",  "/etc",  "/proc",
                                  "/sys",   "/dev",    "/run",  "/snap", "/var/lib/snapd"};
// "/run/media" is where udisks mounts removable volumes: like "/media", the
// folder itself is protected and the volumes' contents are judged on their own.
// "/var/cache" and "/var/tmp" hold package and service state as a whole; what
// lies inside them is judged on its own.
constexpr const char* kFixedExact[] = {"/",          "/home", "/root",      "/var",
                                       "/opt",       "/srv",  "/tmp",       "/media",
                                       "/run/media", "/mnt",  "/var/cache", "/var/tmp"};
constexpr const char* kHomeFolders[] = {
    "Desktop", "Documents", "Downloads",    "Music",  "Pictures", "Videos", "Templates", "Public",
    ".config", ".local",    ".local/share", ".cache", ".ssh",     ".gnupg", ".var",      "snap"};
constexpr std::string_view kRunMedia = "/run/media";
constexpr std::size_t kUserDirsLimit = 1 << 20; // a user-dirs file is a few hundred bytes

bool in_tree(std::string_view n) {
    for (const auto& tree : rules::protected_trees()) {
        if (!is_inside(n, tree)) continue;
        if (tree == "/run" && is_inside(n, kRunMedia)) continue;
        return true;
    }
    return false;
}

// `p` lies strictly below `n`: removing `n` would remove `p` too.
bool strictly_below(std::string_view p, std::string_view n) {
    return p != n && is_inside(p, n);
}

// The root of a mounted file system, as the kernel sees it right now: catches
// mounts made after the table was read, and bind mounts on the same device.
bool mount_root_on_disk(const std::string& p) {
    struct statx sx {};
    if (::statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS,
                &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
        (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0)
        return true;
    struct stat self {};
    // Only folders: on overlay file systems a file may report its lower
    // layer's device although nothing is mounted on it.
    if (::lstat(p.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
    const std::string parent = su::parent_of(p);
    if (parent.empty()) return true;
    struct stat up {};
    if (::stat(parent.c_str(), &up) != 0) return false;
    return self.st_dev != up.st_dev;
}

struct MountHits {
    bool is_point = false;
    bool holds_point = false; // some mount point lies strictly below
};

MountHits table_hits(const mounts::Table& table, std::string_view n) {
    MountHits hits;
    for (const auto& m : table) {
        const std::string point = rules::normalize(m.point);
        for (const std::string& spelling : {point, to_display_path(point)}) {
            if (spelling == n) hits.is_point = true;
            if (strictly_below(spelling, n)) hits.holds_point = true;
        }
    }
    return hits;
}

std::string disk_spelling(const rules::Context& ctx, const std::string& n) {
    return paths_rules::to_scan_path(ctx.hostfs, ctx.home, n);
}

// Removing `n` would remove a protected location below it.
bool holds_protected(const rules::Context& ctx, std::string_view n) {
    if (!ctx.home.empty() && strictly_below(ctx.home, n)) return true;
    for (const auto& tree : rules::protected_trees())
        if (strictly_below(tree, n)) return true;
    for (const auto& e : ctx.exact)
        if (strictly_below(e, n)) return true;
    return false;
}

// What a path is, whatever spelling reached it: the tests for a real path.
const char* judge_location(const rules::Context& ctx, const std::string& r) {
    if (ctx.exact.count(r) != 0 || in_tree(r)) return kReasonSystem;
    if (is_direct_child(r, "/home")) return kReasonOtherHome;
    const MountHits hits = table_hits(ctx.table, r);
    if (hits.is_point || hits.holds_point || mount_root_on_disk(disk_spelling(ctx, r)))
        return kReasonSystem;
    if (holds_protected(ctx, r)) return kReasonSystem;
    return nullptr;
}

// The real path of `n`'s folder joined with `n`'s last name; `n` when the
// folder does not resolve or the name is "." or "..".
std::string real_parent_join(const std::string& n) {
    const std::string parent = su::parent_of(n);
    const std::string last = su::basename_of(n);
    if (parent.empty() || last == "." || last == "..") return n;
    return rules::normalize(su::join_path(rules::resolve(parent), last));
}

std::string read_small_file(const std::string& path) {
    std::string text;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rbe"),
                                                            &std::fclose);
    if (!f) return text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0 && text.size() + n <= kUserDirsLimit)
        text.append(buf, n);
    return text;
}

std::string absolute_or_empty(std::string p) {
    p = rules::normalize(p);
    return !p.empty() && p.front() == '/' ? p : std::string();
}

struct Tables {
    rules::ExactSet exact;
};

const Tables& tables() {
    static const Tables t = [] {
        const std::string home = absolute_or_empty(real_home());
        std::string text;
        if (!home.empty()) text = read_small_file(home + "/.config/user-dirs.dirs");
        // The user-dirs file lives in the configuration folder, which may be
        // moved away from ~/.config: honour both places.
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
            const std::string other = rules::normalize(xdg) + "/user-dirs.dirs";
            if (other != home + "/.config/user-dirs.dirs") text += "\n" + read_small_file(other);
        }
        rules::ExactSet exact = rules::exact_set_for(home, text);
        // HOME or a user folder may be named through a linked folder (/home
        // linked to /var/home); a scan reaches them by their real spelling.
        if (const std::string real = rules::resolve(home); !home.empty() && real != home)
            exact.merge(rules::exact_set_for(real, text));
        std::vector<std::string> real_spellings;
        for (const std::string& e : exact)
            if (std::string r = rules::resolve(e); r != e) real_spellings.push_back(std::move(r));
        exact.insert(real_spellings.begin(), real_spellings.end());
        return Tables{std::move(exact)};
    }();
    return t;
}

} // namespace

namespace rules {

std::string normalize(std::string_view p) {
    std::string out;
    out.reserve(p.size());
    for (const char c : p) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string resolve(const std::string& p) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(p.c_str(), nullptr),
                                                           &std::free);
    return real ? normalize(real.get()) : p;
}

bool is_inside(std::string_view p, std::string_view root) {
    if (root.empty()) return false;
    if (root == "/") return true;
    if (p == root) return true;
    return p.size() > root.size() && su::starts_with(p, root) && p[root.size()] == '/';
}

bool is_direct_child(std::string_view p, std::string_view parent) {
    if (parent.empty() || p.size() < parent.size() + 2) return false;
    if (!su::starts_with(p, parent) || p[parent.size()] != '/') return false;
    return p.find('/', parent.size() + 1) == std::string_view::npos;
}

const std::vector<std::string>& protected_trees() {
    static const std::vector<std::string> trees(std::begin(kTrees), std::end(kTrees));
    return trees;
}

std::vector<std::string> parse_user_dirs(std::string_view home, std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto eq = line.find('=');
        if (line.empty() || line.front() == '#' || eq == std::string_view::npos) continue;
        std::string_view value = line.substr(eq + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (su::starts_with(value, "$HOME/")) {
            if (!home.empty())
                out.push_back(normalize(std::string(home) + std::string(value.substr(5))));
        } else if (!value.empty() && value.front() == '/') {
            out.push_back(normalize(value));
        }
    }
    return out;
}

ExactSet exact_set_for(std::string_view home, std::string_view user_dirs_text) {
    ExactSet set(std::begin(kFixedExact), std::end(kFixedExact));
    const std::string h = normalize(home);
    if (h.empty() || h.front() != '/') return set;
    set.insert(h);
    for (const char* name : kHomeFolders)
        set.insert(su::join_path(h, name));
    for (auto& dir : parse_user_dirs(h, user_dirs_text))
        set.insert(std::move(dir));
    return set;
}

const char* classify(const Context& ctx, std::string_view path) {
    const std::string n = normalize(path);
    // System calls would stop at an embedded NUL and act on another path.
    if (n.empty() || n.front() != '/' || n.find('\0') != std::string::npos) return kReasonSystem;

    const MountHits hits = table_hits(ctx.table, n);
    if (hits.is_point || mount_root_on_disk(disk_spelling(ctx, n))) return kReasonSystem;
    if (ctx.in_snap && !paths_rules::reachable_directly(ctx.home, n)) return kReasonReadOnly;
    if (ctx.exact.count(n) != 0) return kReasonSystem;
    if (in_tree(n)) return kReasonSystem;
    if (is_direct_child(n, "/home")) return kReasonOtherHome;
    // Removing an ancestor removes what it holds: the home, a protected
    // folder, or a mounted volume (a stick under /media/alice).
    if (hits.holds_point || holds_protected(ctx, n)) return kReasonSystem;

    // Judge where the kernel would really act. Removing a link leaves its
    // target alone, so a link (and a path that does not resolve, say one not
    // created yet) is judged by its own name under its folder's real path:
    // the link itself may sit in a linked folder.
    struct stat st {};
    const bool is_link = ::lstat(n.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    std::string r = is_link ? n : resolve(n);
    if (r == n) r = real_parent_join(n);
    if (r == n) return nullptr;
    return judge_location(ctx, r);
}

} // namespace rules

const char* reason_key(const std::string& path) {
    const rules::Context ctx{mounts::all(), absolute_or_empty(real_home()), tables().exact,
                             running_in_snap(), hostfs_available()};
    return rules::classify(ctx, path);
}

bool is_protected(const std::string& path) {
    return reason_key(path) != nullptr;
}

} // namespace deletion_guard
