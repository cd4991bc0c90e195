// File operations and desktop services: moving to the Trash and permanent
// deletion, packing a folder with the system's tar, and the small calls that
// connect the program to the desktop (file manager, folder chooser, volume
// figures, quick-pick roots).
//
// The trash, delete and compress operations run on worker threads and never
// stop a batch at the first failure; results are returned as values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

// GLib and GTK handles, declared so that this header pulls in no GTK.
typedef struct _GtkWindow GtkWindow;
typedef struct _GDBusConnection GDBusConnection;

namespace shell_ops {

// ---- Trash and permanent deletion ------------------------------------------

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

// The native folder chooser, modal over `parent` (may be null); empty when
// cancelled or when there is no display.
std::string pick_folder(GtkWindow* parent);

// Opens a web address with the desktop's handler; false when that failed.
bool open_url(const std::string& url);

VolumeInfo volume_info(const std::string& path);
std::string home_directory();
// Mount points worth offering as scan roots, in mount-table order.
std::vector<std::string> quick_pick_roots();

} // namespace shell_ops
