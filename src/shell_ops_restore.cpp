// Putting items of earlier moves to the Trash back (shell_ops.h): both ends
// are pinned by descriptor, the trash entry must still be the one we moved,
// the destination is judged by the deletion guard on its real location, and
// nothing at the original path is ever replaced.
#include "shell_ops.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "deletion_guard.h"
#include "mounts.h"
#include "paths.h"
#include "shell_ops_internal.h"
#include "strutil.h"
#include "unique_fd.h"

namespace shell_ops {

namespace {
namespace restoring {

using namespace internal;

struct Problem {
    RestoreProblem problem = RestoreProblem::Failed;
    std::string message;
};

Problem problem(RestoreProblem p) {
    return {p, shown(message_key(p))};
}

// A move back that the kernel refused, by its errno.
Problem refused(int err) {
    if (err == EACCES || err == EPERM)
        return {RestoreProblem::Failed, shown(TrashMessage::PermissionDenied)};
    if (err == EROFS) return {RestoreProblem::Failed, shown(TrashMessage::ReadOnly)};
    return problem(RestoreProblem::Failed);
}

bool plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The trash end: files/ and info/ of the trash folder, opened without
// following links. info/ may be missing; its record then is simply not there.
struct TrashEnd {
    UniqueFd files;
    UniqueFd info;
};

// Opens the trash end and checks that the entry is still what was moved:
// an entry emptied from the trash, or a new one under the same name, is not
// ours to move.
std::optional<Problem> open_trash_end(const TrashedItem& item, TrashEnd& out) {
    if (item.via_portal) return problem(RestoreProblem::ViaPortal);
    if (item.trash_files.empty() || !plain_name(item.name))
        return problem(RestoreProblem::NotInTrash);
    out.files = open_dir_no_links(item.trash_files);
    if (!out.files) return problem(RestoreProblem::NotInTrash);
    const UniqueFd trash = open_dir_no_links(su::parent_of(item.trash_files));
    if (trash)
        out.info =
            UniqueFd(::openat(trash.get(), "info", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (::fstatat(out.files.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return problem(RestoreProblem::NotInTrash);
    if (st.st_dev != item.device || st.st_ino != item.inode || st.st_size != item.size)
        return problem(RestoreProblem::NotInTrash);
    return std::nullopt;
}

// The original end: the parent folder opened without following links, and
// the name in it.
struct OriginalEnd {
    UniqueFd parent;
    std::string name;
};

bool folder_missing(int err) {
    return err == ENOENT || err == ENOTDIR;
}

std::optional<Problem> open_original_end(const TrashedItem& item, OriginalEnd& out) {
    const std::string scan = to_scan_path(item.path);
    const std::string parent = su::parent_of(scan);
    out.name = su::basename_of(scan);
    if (parent.empty() || !plain_name(out.name)) return problem(RestoreProblem::Failed);
    const auto real_parent = real_path_of(parent);
    if (!real_parent)
        return folder_missing(errno) ? problem(RestoreProblem::FolderGone) : refused(errno);
    out.parent = open_dir_no_links(*real_parent);
    // Gone, or swapped for a link since it was resolved.
    if (!out.parent)
        return folder_missing(errno) ? problem(RestoreProblem::FolderGone) : refused(errno);
    const auto actual = path_of_fd(out.parent.get());
    if (!actual) return problem(RestoreProblem::Failed);
    const std::string destination = su::join_path(to_display_path(*actual), out.name);
    if (const char* reason = deletion_guard::reason_key(destination))
        return Problem{RestoreProblem::Protected, shown(reason)};
    return std::nullopt;
}

// The record goes only after the entry is back, so an interruption leaves
// the item either in the trash with its record or at its place (perhaps
// with a stale record, which no program takes for an item).
std::optional<Problem> restore_one(const TrashedItem& item) {
    TrashEnd trash;
    if (auto p = open_trash_end(item, trash)) return p;
    OriginalEnd original;
    if (auto p = open_original_end(item, original)) return p;
    if (rename_no_replace(trash.files.get(), item.name.c_str(), original.parent.get(),
                          original.name.c_str()) != 0) {
        const int err = errno;
        if (err == EEXIST || err == ENOTEMPTY) return problem(RestoreProblem::PathTaken);
        if (err == ENOENT) {
            struct stat st {};
            const bool entry_left =
                ::fstatat(trash.files.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            return problem(entry_left ? RestoreProblem::FolderGone : RestoreProblem::NotInTrash);
        }
        return refused(err);
    }
    struct stat st {};
    if (::fstatat(original.parent.get(), original.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_dev != item.device || st.st_ino != item.inode)
        return problem(RestoreProblem::Failed);
    if (trash.info) {
        const std::string record = item.name + std::string(kRecordSuffix);
        ::unlinkat(trash.info.get(), record.c_str(), 0);
    }
    return std::nullopt;
}

std::size_t depth(const std::string& path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

} // namespace restoring
} // namespace

const char* message_key(RestoreProblem problem) {
    switch (problem) {
    case RestoreProblem::PathTaken:
        return "Something else now stands at its original place";
    case RestoreProblem::FolderGone:
        return "Its original folder no longer exists";
    case RestoreProblem::NotInTrash:
        return "It is no longer in the Trash as it was moved";
    case RestoreProblem::ViaPortal:
        return "It went to the Trash through the desktop; restore it from there";
    case RestoreProblem::Protected:
    case RestoreProblem::Failed:
        return "The item could not be moved back";
    }
    return "The item could not be moved back";
}

RestoreResult restore_from_trash(const std::vector<TrashedItem>& items) {
    mounts::refresh(); // the guard judges against the mounts as they are now
    // Outermost first, so a folder put back can receive what was inside it.
    std::vector<const TrashedItem*> order;
    order.reserve(items.size());
    for (const TrashedItem& item : items)
        order.push_back(&item);
    std::stable_sort(order.begin(), order.end(), [](const TrashedItem* a, const TrashedItem* b) {
        return restoring::depth(a->path) < restoring::depth(b->path);
    });
    RestoreResult result;
    for (const TrashedItem* item : order) {
        if (auto p = restoring::restore_one(*item))
            result.failed.push_back({item->path, p->problem, std::move(p->message)});
        else
            result.restored.push_back(item->path);
    }
    return result;
}

} // namespace shell_ops
