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
#include <vector>

namespace shell_ops {

// ---- Trash and permanent deletion ------------------------------------------

// ---- Folder compression -----------------------------------------------------

// ---- Desktop services --------------------------------------------------------

} // namespace shell_ops
