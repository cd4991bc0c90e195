// Moving to the Trash and permanent deletion (shell_ops.h): the trash folders
// of the home and of each volume, the portal inside a sandbox, and the pinned
// removal that never follows a link.
#include "shell_ops.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "deletion_guard.h"
#include "i18n.h"
#include "mounts.h"
#include "paths.h"
#include "shell_ops_internal.h"
#include "strutil.h"
#include "unique_fd.h"

namespace shell_ops {

// ---- Shared with the restore source (shell_ops_internal.h)

namespace internal {

// Where catalogue keys become shown text.
std::string shown(const char* key) {
    return tr(key);
}

std::string shown(TrashMessage message) {
    return shown(message_key(message));
}

std::string system_error_text(int err) {
    char buf[256];
    return ::strerror_r(err, buf, sizeof buf);
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<std::string> real_path_of(const std::string& path) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) return std::nullopt;
    return std::string(buf);
}

// Opens an absolute folder one component at a time and refuses any symbolic
// link on the way, so a folder swapped for a link cannot redirect us.
UniqueFd open_dir_no_links(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        errno = EINVAL;
        return {};
    }
    UniqueFd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!current) return {};
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == ".") continue;
        UniqueFd next(
            ::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return {};
        struct stat st {};
        // O_PATH with O_NOFOLLOW may hand back the link itself.
        if (::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            errno = ELOOP;
            return {};
        }
        current = std::move(next);
    }
    return current;
}

// The real location of an open descriptor, as the kernel sees it.
std::optional<std::string> path_of_fd(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size() || buf[0] != '/') return std::nullopt;
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

int rename_no_replace(int from_dir, const char* from, int to_dir, const char* to) {
    if (::renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // The file system cannot refuse replacing; look first (a small window).
    struct stat st {};
    if (::fstatat(to_dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(from_dir, from, to_dir, to);
}

} // namespace internal

// ---- Trash and permanent deletion ------------------------------------------

namespace {
// Nested so the names cannot collide with the other sections' helpers.
namespace removal {

using namespace internal;

constexpr int kLastNameNumber = 99999;
// Deeper trees fail that branch rather than holding thousands of descriptors.
constexpr std::size_t kMaxDepth = 4096;

// What happened to one item.
struct Outcome {
    bool ok = false;
    std::string message;
    bool no_trash = false;
    std::optional<TrashedItem> moved; // where a move to Trash put it

    static Outcome done() { return {true, {}, false, {}}; }
    static Outcome moved_to(TrashedItem item) { return {true, {}, false, std::move(item)}; }
    static Outcome failed(std::string text, bool no_trash_class = false) {
        return {false, std::move(text), no_trash_class, {}};
    }
    static Outcome failed(TrashMessage m) {
        const bool no_trash = m == TrashMessage::NoTrash || m == TrashMessage::RecordFailed ||
                              m == TrashMessage::TooManyNames;
        return {false, shown(m), no_trash, {}};
    }
};

void record(TrashResult& result, const std::string& path, const Outcome& outcome) {
    if (outcome.ok) {
        result.trashed.push_back(path);
        if (outcome.moved) result.moved.push_back(*outcome.moved);
        return;
    }
    ++result.failed_count;
    if (outcome.no_trash) result.no_trash_available.push_back(path);
    if (result.error.empty()) result.error = outcome.message;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string xdg_data_home() {
    if (!running_in_snap() && !running_in_flatpak()) {
        if (std::string v = env("XDG_DATA_HOME"); !v.empty()) return v;
    }
    if (std::string home = real_home(); !home.empty()) return home + "/.local/share";
    return {};
}

// Creates every missing component with mode 0700; true when `path` ends up a
// directory.
bool make_dirs(const std::string& path) {
    if (path.empty() || path.front() != '/') return false;
    std::string partial;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t slash = path.find('/', i + 1);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        const std::string_view part(path.data() + i + 1, end - i - 1);
        i = end;
        if (part.empty()) continue;
        partial += '/';
        partial += part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An item pinned down at the moment it is touched: its parent folder opened
// without following links, its name in there, and what it is.
struct Located {
    UniqueFd parent;
    std::string name;
    std::string real_path; // display spelling of parent's real location + name
    struct stat st {};
};

// The parent of `scan_path` with its links resolved, taken when the guard
// judged the item; a link put in its way later makes locate() refuse.
std::optional<std::string> resolved_parent(const std::string& scan_path) {
    const std::string parent = su::parent_of(scan_path);
    if (parent.empty()) {
        errno = EINVAL;
        return std::nullopt;
    }
    return real_path_of(parent);
}

// Opens `real_parent` without following links and checks that the entry is
// still the item the guard saw (`seen`) and that its real location may be
// deleted. On failure returns the outcome; `gone` is set when the item has
// vanished.
std::optional<Outcome> locate(const std::string& scan_path, const std::string& real_parent,
                              const struct stat& seen, Located& out, bool& gone) {
    gone = false;
    out.name = su::basename_of(scan_path);
    if (out.name.empty() || out.name == "." || out.name == "..")
        return Outcome::failed(TrashMessage::NotMoved);
    out.parent = open_dir_no_links(real_parent);
    if (!out.parent) {
        return Outcome::failed(errno == EACCES || errno == EPERM ? TrashMessage::PermissionDenied
                                                                 : TrashMessage::NotMoved);
    }
    const auto actual = path_of_fd(out.parent.get());
    if (!actual) return Outcome::failed(TrashMessage::NotMoved);
    out.real_path = su::join_path(to_display_path(*actual), out.name);
    if (const char* reason = deletion_guard::reason_key(out.real_path))
        return Outcome::failed(shown(reason));
    if (::fstatat(out.parent.get(), out.name.c_str(), &out.st, AT_SYMLINK_NOFOLLOW) != 0) {
        gone = errno == ENOENT;
        return Outcome::failed(system_error_text(errno));
    }
    if (!same_file(out.st, seen)) return Outcome::failed(TrashMessage::NotMoved);
    return std::nullopt;
}

// ---- Permanent removal

bool is_mount_root(int fd) {
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx stx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO, &stx) == 0 &&
        (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
    (void)fd;
#endif
    return false;
}

// Opens folder `name` below `dirfd` for listing, but only when it is the
// folder fstatat reported and lies on the same file system as the item the
// user chose: O_NOFOLLOW does not stop at mount points.
UniqueFd open_subdir_same_fs(int dirfd, const char* name, const struct stat& seen, dev_t top_dev) {
    if (seen.st_dev != top_dev) return {};
    UniqueFd fd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !same_file(st, seen) || st.st_dev != top_dev ||
        is_mount_root(fd.get()))
        return {};
    return fd;
}

std::optional<std::vector<std::string>> list_names(int dirfd) {
    const int copy = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return std::nullopt;
    DirPtr dir(::fdopendir(copy));
    if (!dir) {
        ::close(copy);
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
        errno = 0;
    }
    if (errno != 0) return std::nullopt;
    return names;
}

// Removes `name` below `dirfd` and everything in it, never following links
// and never entering another file system. Works with an explicit stack (one
// descriptor per level) so deep trees cannot exhaust the thread's stack.
// True when everything went (or was already gone).
bool remove_recursive(int dirfd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(dirfd, name.c_str(), 0) == 0 || errno == ENOENT;

    struct Level {
        UniqueFd fd;
        std::string name; // in the level above
        std::vector<std::string> entries;
        std::size_t next = 0;
        bool failed = false;
    };
    const dev_t top_dev = st.st_dev;
    std::vector<Level> stack;
    auto push = [&stack](UniqueFd fd, std::string level_name) {
        Level level;
        level.name = std::move(level_name);
        auto names = list_names(fd.get());
        level.fd = std::move(fd);
        if (names)
            level.entries = std::move(*names);
        else
            level.failed = true;
        stack.push_back(std::move(level));
    };

    UniqueFd top = open_subdir_same_fs(dirfd, name.c_str(), st, top_dev);
    if (!top) return false;
    push(std::move(top), name);
    bool top_ok = false;
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            const bool failed = level.failed;
            const std::string done_name = std::move(level.name);
            stack.pop_back();
            const int above = stack.empty() ? dirfd : stack.back().fd.get();
            const bool removed =
                !failed &&
                (::unlinkat(above, done_name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT);
            if (stack.empty())
                top_ok = removed;
            else if (!removed)
                stack.back().failed = true;
            continue;
        }
        const std::string& entry = level.entries[level.next++];
        struct stat est {};
        if (::fstatat(level.fd.get(), entry.c_str(), &est, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) level.failed = true;
            continue;
        }
        if (!S_ISDIR(est.st_mode)) {
            if (::unlinkat(level.fd.get(), entry.c_str(), 0) != 0 && errno != ENOENT)
                level.failed = true;
            continue;
        }
        if (stack.size() >= kMaxDepth) {
            level.failed = true;
            continue;
        }
        UniqueFd sub = open_subdir_same_fs(level.fd.get(), entry.c_str(), est, top_dev);
        if (!sub) {
            level.failed = true;
            continue;
        }
        push(std::move(sub), entry);
    }
    return top_ok;
}

// Resolves the item's folder as it is now, gives the test hook its moment,
// then pins the item down with locate(). Shared by trash and deletion.
std::optional<Outcome> pin(const std::string& path, const std::string& scan,
                           const struct stat& seen, const TrashOptions& options, Located& item,
                           bool& gone) {
    gone = false;
    const auto real_parent = resolved_parent(scan);
    if (!real_parent)
        return Outcome::failed(errno == EACCES ? TrashMessage::PermissionDenied
                                               : TrashMessage::NotMoved);
    if (options.after_guard) options.after_guard(path);
    return locate(scan, *real_parent, seen, item, gone);
}

Outcome delete_one(const std::string& path, const TrashOptions& options) {
    if (const char* reason = deletion_guard::reason_key(path))
        return Outcome::failed(shown(reason));
    if (!is_writable_location(path)) return Outcome::failed(TrashMessage::ReadOnly);
    if (su::parent_of(path).empty() || su::basename_of(path).empty())
        return Outcome::failed(std::string());
    const std::string scan = to_scan_path(path);
    struct stat seen {};
    if (::lstat(scan.c_str(), &seen) != 0) {
        if (errno == ENOENT) return Outcome::done(); // already gone
        return Outcome::failed(errno == EACCES ? shown(TrashMessage::PermissionDenied)
                                               : system_error_text(errno));
    }
    Located item;
    bool gone = false;
    if (auto failure = pin(path, scan, seen, options, item, gone)) {
        if (gone) return Outcome::done();
        return *failure;
    }
    const bool removed = remove_recursive(item.parent.get(), item.name);
    struct stat after {};
    if (removed &&
        ::fstatat(item.parent.get(), item.name.c_str(), &after, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        return Outcome::done();
    return Outcome::failed(TrashMessage::NotMoved);
}

// ---- Trash folders

// A trash folder opened for use: both subfolders real, ours, not links.
struct TrashDir {
    UniqueFd files;
    UniqueFd info;
};

// Creates (when missing) and opens `name` below `parent` as a folder of ours.
UniqueFd own_subdir(int parent, const char* name) {
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return {};
    UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
    return fd;
}

std::optional<TrashDir> open_files_and_info(int trash_fd) {
    TrashDir dir;
    dir.files = own_subdir(trash_fd, "files");
    dir.info = own_subdir(trash_fd, "info");
    if (!dir.files || !dir.info) return std::nullopt;
    return dir;
}

// Home trash: $XDG_DATA_HOME/Trash, only for items on the same device. The
// data home may not exist yet: its nearest existing ancestor decides.
std::optional<TrashDir> open_home_trash(dev_t item_dev) {
    const std::string data_home = xdg_data_home();
    if (data_home.empty() || data_home.front() != '/') return std::nullopt;
    std::string probe = data_home + "/Trash";
    struct stat st {};
    while (::stat(probe.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        probe = su::parent_of(probe);
        if (probe.empty()) return std::nullopt;
    }
    if (st.st_dev != item_dev) return std::nullopt;
    if (!make_dirs(data_home)) return std::nullopt;
    const auto real = real_path_of(data_home);
    if (!real) return std::nullopt;
    const UniqueFd base = open_dir_no_links(*real);
    if (!base) return std::nullopt;
    const UniqueFd trash = own_subdir(base.get(), "Trash");
    if (!trash) return std::nullopt;
    return open_files_and_info(trash.get());
}

// $top/.Trash/$uid: .Trash must be a real folder with the sticky bit (made
// by the administrator); the per-user folder below it must be ours.
std::optional<TrashDir> open_shared_volume_trash(int top_fd, const std::string& uid) {
    const UniqueFd shared(
        ::openat(top_fd, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!shared) return std::nullopt;
    struct stat st {};
    if (::fstat(shared.get(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & S_ISVTX) == 0)
        return std::nullopt;
    const UniqueFd mine = own_subdir(shared.get(), uid.c_str());
    if (!mine) return std::nullopt;
    return open_files_and_info(mine.get());
}

// $top/.Trash-$uid: ours, a real folder, and closed to everyone else, so
// another user cannot pre-create it and receive what we trash.
std::optional<TrashDir> open_private_volume_trash(int top_fd, const std::string& uid) {
    const std::string name = ".Trash-" + uid;
    const UniqueFd mine = own_subdir(top_fd, name.c_str());
    if (!mine) return std::nullopt;
    struct stat st {};
    if (::fstat(mine.get(), &st) != 0) return std::nullopt;
    // Ours already (checked above): tighten a loose mode rather than give up.
    if ((st.st_mode & 07777) != 0700 && ::fchmod(mine.get(), 0700) != 0) return std::nullopt;
    return open_files_and_info(mine.get());
}

bool name_taken(const TrashDir& dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir.files.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    const std::string record_name = name + std::string(kRecordSuffix);
    return ::fstatat(dir.info.get(), record_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string deletion_date() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char buf[32];
    if (::localtime_r(&now, &local) == nullptr ||
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local) == 0)
        return "1970-01-01T00:00:00";
    return buf;
}

enum class MoveStep { Done, OtherDevice, Failed };

// The trash folder itself or its files/ or info/: rename would carry the
// records into files/ (or fail on the folder moved into itself).
bool is_part_of_trash(const TrashDir& dir, const struct stat& item) {
    struct stat st {};
    for (const auto& [fd, name] : {std::pair{dir.files.get(), "."}, std::pair{dir.info.get(), "."},
                                   std::pair{dir.files.get(), ".."}}) {
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && same_file(st, item)) return true;
    }
    return false;
}

// Enough to put the entry back: where it now is and what it is, so a trash
// entry emptied or replaced meanwhile is told apart.
TrashedItem moved_entry(const TrashDir& dir, const std::string& path, const std::string& name,
                        const struct stat& before) {
    TrashedItem out;
    out.path = path;
    out.trash_files = path_of_fd(dir.files.get()).value_or(std::string());
    out.name = name;
    struct stat st {};
    if (::fstatat(dir.files.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) st = before;
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.size = st.st_size;
    return out;
}

// Record first, then the move: an interruption leaves at worst a record
// without its item, never an item without its place.
MoveStep move_into(const TrashDir& dir, const std::string& path, Located& item, Outcome& outcome) {
    if (is_part_of_trash(dir, item.st)) {
        outcome = Outcome::failed(TrashMessage::NoTrash);
        return MoveStep::Failed;
    }
    const std::string base = item.name;
    // A name can be taken between the test and the move by another program.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const auto name = trash_rules::unique_name(
            base, [&dir](const std::string& n) { return name_taken(dir, n); });
        if (!name) {
            outcome = Outcome::failed(TrashMessage::TooManyNames);
            return MoveStep::Failed;
        }
        const std::string record_name = *name + std::string(kRecordSuffix);
        UniqueFd record(::openat(dir.info.get(), record_name.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!record) {
            if (errno == EEXIST) continue;
            outcome = Outcome::failed(TrashMessage::RecordFailed);
            return MoveStep::Failed;
        }
        const std::string text = trash_rules::record_text(path, deletion_date());
        const ssize_t written = ::write(record.get(), text.data(), text.size());
        // Network and FUSE file systems may report a failed write only at close.
        const bool closed = record.close();
        if (written != static_cast<ssize_t>(text.size()) || !closed) {
            ::unlinkat(dir.info.get(), record_name.c_str(), 0);
            outcome = Outcome::failed(TrashMessage::RecordFailed);
            return MoveStep::Failed;
        }
        if (rename_no_replace(item.parent.get(), item.name.c_str(), dir.files.get(),
                              name->c_str()) != 0) {
            const int err = errno;
            ::unlinkat(dir.info.get(), record_name.c_str(), 0);
            if (err == EEXIST) continue;
            if (err == EXDEV) return MoveStep::OtherDevice;
            if (err == EACCES || err == EPERM)
                outcome = Outcome::failed(TrashMessage::PermissionDenied);
            else if (err == EROFS)
                outcome = Outcome::failed(TrashMessage::ReadOnly);
            else
                outcome = Outcome::failed(system_error_text(err));
            return MoveStep::Failed;
        }
        struct stat st {};
        if (::fstatat(item.parent.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            outcome = Outcome::failed(TrashMessage::NotMoved);
            return MoveStep::Failed;
        }
        outcome = Outcome::done();
        outcome.moved = moved_entry(dir, path, *name, item.st);
        return MoveStep::Done;
    }
    outcome = Outcome::failed(TrashMessage::TooManyNames);
    return MoveStep::Failed;
}

// Tries the home trash, then the volume's shared and private trash folders;
// a move refused as crossing devices (a bind mount of the same disk) goes on
// to the next one instead of ending the item.
Outcome trash_locally(const std::string& path, Located& item) {
    if (auto home = open_home_trash(item.st.st_dev)) {
        Outcome outcome;
        const MoveStep step = move_into(*home, path, item, outcome);
        if (step != MoveStep::OtherDevice) return outcome;
    }
    const mounts::Mount* mount = mounts::for_path(item.real_path);
    if (mount == nullptr || mount->read_only) return Outcome::failed(TrashMessage::NoTrash);
    std::string top = mount->point;
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    if (top.empty()) return Outcome::failed(TrashMessage::NoTrash);
    const auto real_top = real_path_of(top);
    if (!real_top) return Outcome::failed(TrashMessage::NoTrash);
    const UniqueFd top_fd = open_dir_no_links(*real_top);
    struct stat top_st {};
    if (!top_fd || ::fstat(top_fd.get(), &top_st) != 0 || top_st.st_dev != item.st.st_dev)
        return Outcome::failed(TrashMessage::NoTrash);
    const std::string uid = std::to_string(::getuid());
    for (int which = 0; which < 2; ++which) {
        auto dir = which == 0 ? open_shared_volume_trash(top_fd.get(), uid)
                              : open_private_volume_trash(top_fd.get(), uid);
        if (!dir) continue;
        Outcome outcome;
        const MoveStep step = move_into(*dir, path, item, outcome);
        if (step != MoveStep::OtherDevice) return outcome;
    }
    return Outcome::failed(TrashMessage::NoTrash);
}

// ---- Trash portal (inside a sandbox)

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

enum class PortalAnswer { NotUsed, Trashed, StillThere };

// Hands the opened item to the desktop's trash portal. Only regular files and
// folders: a link would trash its target, and opening a FIFO could block.
PortalAnswer trash_through_portal(const Located& item, const TrashOptions& options) {
    if (!S_ISREG(item.st.st_mode) && !S_ISDIR(item.st.st_mode)) return PortalAnswer::NotUsed;
    GPtr<GDBusConnection> bus;
    if (options.bus != nullptr)
        bus.reset(G_DBUS_CONNECTION(g_object_ref(options.bus)));
    else
        bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus) return PortalAnswer::NotUsed;
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                      (S_ISDIR(item.st.st_mode) ? O_DIRECTORY : 0);
    UniqueFd fd(::openat(item.parent.get(), item.name.c_str(), flags));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !same_file(st, item.st)) return PortalAnswer::NotUsed;
    GPtr<GUnixFDList> fds(g_unix_fd_list_new());
    const int index = g_unix_fd_list_append(fds.get(), fd.get(), nullptr); // duplicates it
    fd.reset();
    if (index < 0) return PortalAnswer::NotUsed;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.freedesktop.portal.Trash", "TrashFile", g_variant_new("(h)", index),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, options.portal_timeout_ms, fds.get(),
        nullptr, nullptr, &error);
    if (reply == nullptr) {
        g_clear_error(&error);
        return PortalAnswer::NotUsed;
    }
    guint32 answer = 0;
    g_variant_get(reply, "(u)", &answer);
    g_variant_unref(reply);
    if (answer != 1) return PortalAnswer::NotUsed;
    struct stat after {};
    if (::fstatat(item.parent.get(), item.name.c_str(), &after, AT_SYMLINK_NOFOLLOW) == 0)
        return PortalAnswer::StillThere;
    return PortalAnswer::Trashed;
}

Outcome trash_one(const std::string& path, const TrashOptions& options) {
    if (const char* reason = deletion_guard::reason_key(path))
        return Outcome::failed(shown(reason));
    const std::string scan = to_scan_path(path);
    struct stat seen {};
    if (::lstat(scan.c_str(), &seen) != 0) return Outcome::failed(system_error_text(errno));
    Located item;
    bool gone = false;
    if (auto failure = pin(path, scan, seen, options, item, gone)) return *failure;
    if (running_in_snap() || running_in_flatpak()) {
        switch (trash_through_portal(item, options)) {
        case PortalAnswer::Trashed: {
            TrashedItem moved;
            moved.path = path;
            moved.device = item.st.st_dev;
            moved.inode = item.st.st_ino;
            moved.size = item.st.st_size;
            moved.via_portal = true;
            return Outcome::moved_to(std::move(moved));
        }
        case PortalAnswer::StillThere:
            return Outcome::failed(TrashMessage::NotMoved);
        case PortalAnswer::NotUsed:
            break;
        }
    }
    return trash_locally(path, item);
}

// One batch: the mount table is re-read first, then each path is recorded.
TrashResult run_batch(const std::vector<std::string>& paths, const TrashOptions& options,
                      Outcome (*one)(const std::string&, const TrashOptions&)) {
    mounts::refresh();
    TrashResult result;
    for (const std::string& path : paths)
        record(result, path, one(path, options));
    return result;
}

} // namespace removal
} // namespace

const char* message_key(TrashMessage message) {
    switch (message) {
    case TrashMessage::NoTrash:
        return "No trash folder is available for this location";
    case TrashMessage::RecordFailed:
        return "Could not write the trash record";
    case TrashMessage::TooManyNames:
        return "The trash already holds too many files of that name";
    case TrashMessage::PermissionDenied:
        return "Permission denied";
    case TrashMessage::ReadOnly:
        return "Read-only location";
    case TrashMessage::NotMoved:
        return "The item could not be moved";
    }
    return "The item could not be moved";
}

namespace trash_rules {

std::string percent_encode(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        const bool keep = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                          (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~' ||
                          b == '/';
        if (keep) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        }
    }
    return out;
}

std::string record_text(std::string_view path, std::string_view deletion_date) {
    std::string out = "[Trash Info]\nPath=";
    out += percent_encode(path);
    out += "\nDeletionDate=";
    out += deletion_date;
    out += '\n';
    return out;
}

std::string candidate_name(std::string_view base, int n) {
    constexpr std::size_t kLimit = NAME_MAX - removal::kRecordSuffix.size();
    std::string_view stem = base;
    std::string_view ext;
    const auto dot = base.rfind('.');
    if (dot != std::string_view::npos && dot != 0) {
        stem = base.substr(0, dot);
        ext = base.substr(dot);
    }
    const std::string number = n <= 1 ? std::string() : "." + std::to_string(n);
    if (stem.size() + number.size() + ext.size() <= kLimit)
        return std::string(stem) + number + std::string(ext);
    // Too long: an extension that is itself huge is just part of the name.
    if (ext.size() > 32) {
        stem = base;
        ext = {};
    }
    const std::size_t room = kLimit - number.size() - ext.size();
    std::string cut = su::truncate_utf8(std::string(stem), room);
    // A character is at most four bytes: backing off further means the name
    // is not UTF-8, and would otherwise lose its whole stem.
    if (cut.size() + 3 < room) cut.assign(stem.substr(0, room));
    return cut + number + std::string(ext);
}

std::optional<std::string> unique_name(std::string_view base,
                                       const std::function<bool(const std::string&)>& taken) {
    for (int n = 1; n <= removal::kLastNameNumber; ++n) {
        std::string name = candidate_name(base, n);
        if (!name.empty() && !taken(name)) return name;
    }
    return std::nullopt;
}

} // namespace trash_rules

TrashResult move_to_trash(const std::vector<std::string>& paths) {
    return move_to_trash(paths, TrashOptions{});
}

TrashResult move_to_trash(const std::vector<std::string>& paths, const TrashOptions& options) {
    return removal::run_batch(paths, options, &removal::trash_one);
}

TrashResult delete_permanently(const std::vector<std::string>& paths) {
    return delete_permanently(paths, TrashOptions{});
}

TrashResult delete_permanently(const std::vector<std::string>& paths, const TrashOptions& options) {
    return removal::run_batch(paths, options, &removal::delete_one);
}

} // namespace shell_ops
