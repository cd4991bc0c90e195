// Writing a finished scan tree as JSON: string escaping for reports and the
// widely used disk-usage export format (major version 1, minor 2).
//
// Pure functions of a sealed tree; call them from any thread while the tree
// is alive. The writer walks with an explicit stack, so deep trees are safe.
// A false result means the stream reported a write error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "file_node.h"
#include "scanner.h"

namespace tree_export {

inline constexpr std::string_view kProgramName = "spacemole";
inline constexpr std::string_view kProgramVersion = SPACEMOLE_VERSION;

// Appends `text` as a quoted JSON string: quotes, backslashes and control
// characters escaped; bytes that are not well-formed UTF-8 (surrogates and
// overlong forms included) become U+FFFD first.
void append_json_string(std::string& out, std::string_view text);
std::string json_string(std::string_view text);

// Writes [1,2,{header},ROOT] to `out`. A folder is an array whose first
// element is its info object, followed by its children; everything else is
// an object. A folder's sizes are its own blocks, not the sum below it. The
// root's "name" is its full path. Sizes are occupied bytes, so "asize"
// equals "dsize". `details` (may be null) supplies the hard-link and
// not-regular facts of leaves.
bool write_export(std::FILE* out, const FileNode& root, const scanner::ScanDetails* details,
                  std::int64_t timestamp);

} // namespace tree_export
