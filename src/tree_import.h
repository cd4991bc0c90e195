// Reading a saved scan: the widely used disk-usage JSON export (major
// version 1; ours, and those other disk-usage tools write) into the same
// immutable tree a scan builds.
//
// The reader streams (a file of millions of entries is never held whole),
// checks its own nesting depth instead of recursing, and turns every fault
// of the file into a one-line error naming the byte offset, never a crash.
// Names that are not valid UTF-8 (some writers store raw bytes) are repaired
// for display and flagged path_repaired, as the scanner does. Every node of
// an imported tree is read-only: its paths name another machine or moment.
// Pure functions of their input; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "file_node.h"

namespace tree_import {

// Deeper folder nesting than this is refused.
inline constexpr std::size_t kMaxDepth = 4096;

struct Options {
    bool dedupe_hard_links = true; // count a multiply-linked file once
};

struct Result {
    FileNodePtr root;           // null when the file could not be read
    std::string error;          // one line, with the byte offset, when root is null
    std::int64_t timestamp = 0; // when the scan was made (seconds); 0 when unknown
    std::string program;        // the writer's "progname", when given
    int denied = 0;             // folders read with errors
    int skipped = 0;            // items excluded from the saved scan
    std::int64_t entries = 0;   // items in the file
};

Result parse(std::string_view json, Options options = {});

// Reads the file at `path`; errors name the path's problem or the offset.
Result load_file(const std::string& path, Options options = {});

} // namespace tree_import
