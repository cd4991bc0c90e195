#include "shell_ops.h"

namespace shell_ops {

// ---- Trash and permanent deletion ------------------------------------------

// ---- Folder compression -----------------------------------------------------

// ---- Desktop services --------------------------------------------------------

} // namespace shell_ops
