// File operations and desktop services: moving to the Trash and permanent
// deletion, packing a folder with the system's tar, and the small calls that
// connect the program to the desktop (file manager, folder chooser, volume
// figures, quick-pick roots).
//
// The trash, delete and compress operations run on worker threads and never
// stop a batch at the first failure; results are returned as values.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

// GIO and GTK handles, declared so that this header pulls in neither.
typedef struct _GtkWindow GtkWindow;
typedef struct _GDBusConnection GDBusConnection;

namespace shell_ops {

// ---- Trash and permanent deletion ------------------------------------------
//
// move_to_trash and delete_permanently are called from the application's
// delete thread, one batch at a time, and block for as long as the file
// system (and, inside a sandbox, the desktop portal) takes. Every item is
// judged by the deletion guard again just before it is touched, and judged
// once more on the real location of its opened parent folder, so a folder
// swapped for a link in between is refused. A failed item never stops the
// batch. Items are only ever renamed within one file system (never copied)
// and the trash record is written before the move, so an interrupted batch
// leaves each item either where it was or in a trash with its record.

// Where one item went, enough to put it back exactly. Filled for every item a
// batch moved to the Trash; a permanent deletion leaves `trash_files` empty.
struct TrashedItem {
    std::string path;         // the display path it was moved from
    std::string trash_files;  // real path of the trash's "files" folder; empty via the portal
    std::string name;         // its name there; the record is info/<name>.trashinfo
    std::uint64_t device = 0; // identity of the entry at the move, to tell a trash
    std::uint64_t inode = 0;  // entry that was emptied or replaced meanwhile
    std::int64_t size = 0;    // st_size at the move
    bool via_portal = false;  // moved by the desktop portal: where to is unknown
};

struct TrashResult {
    std::vector<std::string> trashed;            // gone, in input order
    std::vector<TrashedItem> moved;              // one per entry of `trashed` after a move to Trash
    std::string error;                           // first failure's message, or empty
    std::int32_t failed_count = 0;               // protected items included
    std::vector<std::string> no_trash_available; // candidates for permanent deletion
};

struct TrashOptions {
    // The session bus for the trash portal inside a sandbox; null means the
    // process's own session bus. Not owned.
    GDBusConnection* bus = nullptr;
    int portal_timeout_ms = 20000;
    // Runs after the guard accepted an item and before it is opened. Lets
    // tests change the file system at the worst moment; empty in the program.
    std::function<void(const std::string& path)> after_guard;
};

TrashResult move_to_trash(const std::vector<std::string>& paths);
TrashResult move_to_trash(const std::vector<std::string>& paths, const TrashOptions& options);
TrashResult delete_permanently(const std::vector<std::string>& paths);
TrashResult delete_permanently(const std::vector<std::string>& paths, const TrashOptions& options);

// Why an item could not be put back. The item then stays in the Trash untouched.
enum class RestoreProblem {
    PathTaken,  // something now stands at the original path
    FolderGone, // the original folder no longer exists
    NotInTrash, // the trash entry was emptied, or is no longer what was moved
    ViaPortal,  // moved by the desktop portal: restore it from the Trash
    Protected,  // the deletion guard refuses the original location now (its reason is shown)
    Failed,     // any other failure of the move back (see `message`)
};

struct RestoreResult {
    std::vector<std::string> restored; // original display paths back in place, outermost first
    struct Failure {
        std::string path; // original display path
        RestoreProblem problem = RestoreProblem::Failed;
        std::string message; // shown text (translated), never empty
    };
    std::vector<Failure> failed;
};

// Puts items of earlier moves back at their original paths, outermost first
// (so a folder restored by the same call can receive items that were inside
// it), and removes their records. The same pinned, descriptor-relative steps
// as the move into the Trash: the original folder is opened without following
// links, judged by the deletion guard on its real path, and the entry is
// renamed back without ever replacing anything. A failed item never stops the
// others. Blocks; call it from a worker thread.
RestoreResult restore_from_trash(const std::vector<TrashedItem>& items);

// The English catalogue keys of the trash and delete messages, in one place.
enum class TrashMessage {
    NoTrash,      // no trash folder could take the item
    RecordFailed, // the .trashinfo record could not be written
    TooManyNames, // every name up to 99999 is taken
    PermissionDenied,
    ReadOnly,
    NotMoved, // the item is still there after a move or removal
};
const char* message_key(TrashMessage message);
// PathTaken "Something else now stands at its original place",
// FolderGone "Its original folder no longer exists",
// NotInTrash "It is no longer in the Trash as it was moved",
// ViaPortal "It went to the Trash through the desktop; restore it from there",
// Protected and Failed "The item could not be moved back".
const char* message_key(RestoreProblem problem);

// The pure rules of the trash layout, with their inputs passed in.
namespace trash_rules {

// Keeps A-Z a-z 0-9 - . _ ~ / and writes every other byte as %XX.
std::string percent_encode(std::string_view path);
// The whole .trashinfo record; `deletion_date` as "%Y-%m-%dT%H:%M:%S".
std::string record_text(std::string_view path, std::string_view deletion_date);
// Name number `n` for base name `base`: n == 1 is the name itself, later ones
// put ".n" before the extension (photo.2.jpg, .bashrc.2). Long names are
// shortened (never splitting a character) so that the name and ".trashinfo"
// fit in one file-name component.
std::string candidate_name(std::string_view base, int n);
// The first candidate up to 99999 that `taken` refuses, or nothing.
std::optional<std::string> unique_name(std::string_view base,
                                       const std::function<bool(const std::string&)>& taken);

} // namespace trash_rules

// ---- Folder compression -----------------------------------------------------
//
// A folder is packed into "<name>.tar.gz" beside it by the system's GNU tar.
// compress_folder blocks its (worker) thread until tar ends and calls
// on_progress on that same thread. tar writes into a hidden temporary file in
// the parent folder that gets the archive's name only when tar succeeded, so
// an empty or partial archive is never left behind and no existing file is
// ever replaced.

using ProgressFn = std::function<void(long)>;

inline constexpr int TAR_CHECKPOINT_BLOCKS = 100;  // records between progress lines
inline constexpr long TAR_BYTES_PER_BLOCK = 10240; // tar's record size
inline constexpr std::string_view TAR_PROGRESS_MARKER = "SPMOL-CP ";
inline constexpr int TAR_MAX_NAME_NUMBER = 999; // "Photos (999).tar.gz" is the last try

// Whether a file can be created in the folder's parent (a real probe file is
// created and removed). False for a folder without parent.
bool can_write_archive_beside(const std::string& folder);

// Packs `folder` (a display path); returns the new archive's display path, or
// the empty string when no complete archive could be made. on_progress may be
// empty; it receives uncompressed bytes read so far, in steps of
// TAR_BYTES_PER_BLOCK.
std::string compress_folder(const std::string& folder, const ProgressFn& on_progress);
// The same, stopped from another thread when `*cancel` turns true (null:
// never): tar and its compressor are killed within about 50 ms, the
// temporary file is removed and the result is empty.
std::string compress_folder(const std::string& folder, const ProgressFn& on_progress,
                            const std::atomic<bool>* cancel);

// The pure rules behind compress_folder.

// n = 1: "<base>.tar.gz"; n >= 2: "<base> (n).tar.gz".
std::string archive_name(std::string_view base, int n);
// Bytes reported by one line of tar's standard error, when it is a progress
// line with a positive count.
std::optional<long> progress_bytes_of_line(std::string_view line);
// Whether a waitpid status means tar wrote a complete archive: exit 0, or 1
// (GNU tar: some files changed while being read, which is normal for live
// files). Killed, 2 (fatal, unreadable files skipped) and 127 (no tar) fail.
bool tar_succeeded(int wait_status);

// ---- Desktop services --------------------------------------------------------
//
// Small calls into the desktop, all on the user-interface thread. D-Bus calls
// are synchronous with short time-outs and degrade to a fallback when the
// service is missing. Overloads taking a GDBusConnection* use that connection
// (null: no bus) and never touch GTK; the others get the shared session bus
// and, where a fallback needs it, GTK. Nothing here crashes without a display:
// GTK calls then fail and report false or empty.

// Volume figures in bytes; all zero / empty when they cannot be read.
struct VolumeInfo {
    int64_t total = 0;
    int64_t free = 0; // available to an unprivileged user
    int64_t used = 0; // free + used can be less than total (reserved blocks)
    std::string name; // mount point holding the path, empty if unknown
};

inline constexpr int FILE_MANAGER_TIMEOUT_MS = 2000;

// What reveal_in_file_manager asks for: the FileManager1 method, the URI of
// the item, and the folder to open directly when the file manager does not
// answer (empty: none).
struct RevealPlan {
    std::string method; // "ShowFolders" or "ShowItems"
    std::string uri;
    std::string fallback_folder;
};
RevealPlan reveal_plan(const std::string& path, bool is_directory);

// Asks org.freedesktop.FileManager1 on `bus`; true when it answered.
bool ask_file_manager(GDBusConnection* bus, const RevealPlan& plan);

// Shows a folder, or an item inside its folder, in the file manager; falls
// back to opening the folder with the desktop's handler. False when neither
// worked, so the caller can tell the user.
bool reveal_in_file_manager(const std::string& path);

// The same without blocking the caller's thread: the stat and the bus call
// run on a worker thread, the fallback and `done` (may be empty) on the
// caller's main context once it iterates. False only for an empty path.
bool reveal_in_file_manager_async(const std::string& path, std::function<void(bool)> done = {});

// The native folder chooser, modal over `parent` (may be null); empty when
// cancelled or when there is no display.
std::string pick_folder(GtkWindow* parent);

// The native file chooser for a saved scan (a JSON filter), modal over
// `parent`; empty when cancelled or when there is no display.
std::string pick_saved_scan(GtkWindow* parent);

// Opens a web address with the desktop's handler; false when that failed.
bool open_url(const std::string& url);

VolumeInfo volume_info(const std::string& path);
std::string home_directory();
// Mount points worth offering as scan roots, in mount-table order.
std::vector<std::string> quick_pick_roots();

} // namespace shell_ops
