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

// The bus handle of GIO, kept opaque here.
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

struct TrashResult {
    std::vector<std::string> trashed;            // gone, in input order
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

// ---- Desktop services --------------------------------------------------------

} // namespace shell_ops
