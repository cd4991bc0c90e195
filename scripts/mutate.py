#!/usr/bin/env python3
"""Deliberate faults the tests must catch.

Each mutant below names a source file, an exact snippet of it and a
replacement. For each one this script copies the checked-out tree to a scratch
directory once, applies the fault there (the real sources are never touched),
rebuilds only the test programs of the changed module and runs them with a time
limit. A mutant is "killed" when a test fails, "survived" when all pass. A
snippet that is missing or not unique, or a fault that does not compile, is
reported loudly and makes the run fail, so stale mutants get mended.

  scripts/mutate.py                    every mutant
  scripts/mutate.py --only trash       mutants whose id or file contains "trash"
  scripts/mutate.py --save out.json    also write the outcome of each mutant
  scripts/mutate.py --compare old.json fail when a mutant killed in old.json survives
  scripts/mutate.py --check            only check that every snippet applies
  scripts/mutate.py --tree DIR         test another checkout (e.g. an older commit)
  scripts/mutate.py --carry old.json   take the outcomes in old.json as given, run the rest
  scripts/mutate.py --killed-in b.json run only the mutants b.json marks killed (waiting for
                                       a run that is still writing b.json to decide each)
"""
import argparse
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent  # the tree under test; --tree changes it

# (id, file, original snippet, replacement, what the fault is)
MUTANTS = [
    # ---- deletion guard
    ("guard-tree-list", "src/deletion_guard.cpp", '"/lib64", "/libx32", "/usr",  "/etc",',
     '"/lib64", "/libx32", "/usr",  "/usr",', "/etc is no longer a protected tree"),
    ("guard-exact-home", "src/deletion_guard.cpp", '{"/",          "/home", "/root",',
     '{"/",          "/hom", "/root",', "/home itself is no longer protected"),
    ("guard-home-folder", "src/deletion_guard.cpp", '"Desktop", "Documents", "Downloads",',
     '"Desktop", "Documents", "Download",', "~/Downloads is no longer protected"),
    ("guard-run-media", "src/deletion_guard.cpp",
     'if (tree == "/run" && is_inside(n, kRunMedia)) continue;', '',
     "removable media below /run/media counted as system"),
    ("guard-inside-boundary", "src/deletion_guard.cpp",
     "su::starts_with(p, root) && p[root.size()] == '/';", "su::starts_with(p, root);",
     "/usrfoo counted as inside /usr"),
    ("guard-root-inside", "src/deletion_guard.cpp", 'if (root == "/") return true;', '',
     "everything inside / no longer recognised"),
    ("guard-direct-child", "src/deletion_guard.cpp",
     "return p.find('/', parent.size() + 1) == std::string_view::npos;", "return true;",
     "any path below /home counts as another user's home"),
    ("guard-holds-home", "src/deletion_guard.cpp",
     "if (!ctx.home.empty() && strictly_below(ctx.home, n)) return true;", "",
     "a folder holding the home may be deleted"),
    ("guard-mount-point", "src/deletion_guard.cpp",
     "if (hits.is_point || mount_root_on_disk(disk_spelling(ctx, n))) return kReasonSystem;",
     "if (hits.is_point) return kReasonSystem;", "mount roots missing from the table pass"),
    ("guard-holds-mount", "src/deletion_guard.cpp",
     "if (hits.holds_point || holds_protected(ctx, n)) return kReasonSystem;",
     "if (holds_protected(ctx, n)) return kReasonSystem;", "a folder holding a mount point passes"),
    ("guard-relative", "src/deletion_guard.cpp",
     "if (n.empty() || n.front() != '/' || n.find('\\0') != std::string::npos) return kReasonSystem;",
     "if (n.empty()) return kReasonSystem;", "relative paths accepted"),
    ("guard-snap-readonly", "src/deletion_guard.cpp",
     "if (ctx.in_snap && !paths_rules::reachable_directly(ctx.home, n)) return kReasonReadOnly;",
     "", "sandbox read-only locations accepted"),
    ("guard-resolve-link", "src/deletion_guard.cpp", "if (r == n) return nullptr;\n    return judge_location(ctx, r);",
     "return nullptr;", "a link to a protected folder is not followed"),
    ("guard-user-dirs-home", "src/deletion_guard.cpp",
     "out.push_back(normalize(std::string(home) + std::string(value.substr(5))));",
     "out.push_back(normalize(std::string(home) + std::string(value.substr(6))));",
     "user-dirs $HOME/ entries lose their slash"),
    ("guard-user-dirs-quotes", "src/deletion_guard.cpp",
     "value = value.substr(1, value.size() - 2);", "value = value.substr(1, value.size() - 1);",
     "closing quote kept in user-dirs values"),
    ("guard-normalize-trailing", "src/deletion_guard.cpp",
     "while (out.size() > 1 && out.back() == '/')", "while (out.size() > 2 && out.back() == '/')",
     "trailing slash of one-letter paths kept"),
    # ---- trash and permanent deletion
    ("trash-rules-encode", "src/shell_ops_trash.cpp", "b == '-' || b == '.' || b == '_' || b == '~' ||",
     "b == '-' || b == '.' || b == '_' || b == '~' || b == ' ' ||", "space left unencoded in records"),
    ("trash-rules-hex", "src/shell_ops_trash.cpp", "out.push_back(kHex[b & 0x0F]);",
     "out.push_back(kHex[b & 0x07]);", "wrong low hex digit"),
    ("trash-rules-number", "src/shell_ops_trash.cpp",
     'const std::string number = n <= 1 ? std::string() : "." + std::to_string(n);',
     'const std::string number = n <= 1 ? std::string() : "_" + std::to_string(n);',
     "second name uses the wrong separator"),
    ("trash-rules-dotfile", "src/shell_ops_trash.cpp", "if (dot != std::string_view::npos && dot != 0) {",
     "if (dot != std::string_view::npos) {", "dot files treated as extension only"),
    ("trash-rules-limit", "src/shell_ops_trash.cpp",
     "constexpr std::size_t kLimit = NAME_MAX - removal::kRecordSuffix.size();",
     "constexpr std::size_t kLimit = NAME_MAX;", "long names leave no room for .trashinfo"),
    ("trash-rules-last-number", "src/shell_ops_trash.cpp", "for (int n = 1; n <= removal::kLastNameNumber; ++n) {",
     "for (int n = 1; n < removal::kLastNameNumber; ++n) {", "name 99999 never tried"),
    ("trash-record-excl", "src/shell_ops_trash.cpp", "O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600",
     "O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600", "an existing record is overwritten"),
    ("trash-record-short-write", "src/shell_ops_trash.cpp",
     "if (written != static_cast<ssize_t>(text.size()) || !closed) {", "if (written < 0) {",
     "a short or unclosed record is trusted"),
    ("trash-no-replace", "src/shell_ops_trash.cpp",
     "if (::renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;",
     "if (::renameat(from_dir, from, to_dir, to) == 0) return 0;", "a trashed file may replace another"),
    ("trash-record-cleanup", "src/shell_ops_trash.cpp",
     "const int err = errno;\n            ::unlinkat(dir.info.get(), record_name.c_str(), 0);",
     "const int err = errno;", "record left behind when the move fails"),
    ("trash-exdev", "src/shell_ops_trash.cpp", "if (err == EXDEV) return MoveStep::OtherDevice;", "",
     "another device does not fall through to the volume trash"),
    ("trash-still-there", "src/shell_ops_trash.cpp",
     "outcome = Outcome::failed(TrashMessage::NotMoved);\n            return MoveStep::Failed;\n        }\n        outcome = Outcome::done();",
     "outcome = Outcome::done();\n            return MoveStep::Done;\n        }\n        outcome = Outcome::done();",
     "an item still in place reported trashed"),
    ("trash-self", "src/shell_ops_trash.cpp",
     "if (is_part_of_trash(dir, item.st)) {", "if (false) {", "a trash folder may be moved into itself"),
    ("trash-sticky", "src/shell_ops_trash.cpp", "|| (st.st_mode & S_ISVTX) == 0)", ")",
     "a shared .Trash without the sticky bit is used"),
    ("trash-own-uid", "src/shell_ops_trash.cpp", "|| st.st_uid != ::getuid()) return {};", ") return {};",
     "someone else's trash folder is used"),
    ("trash-subdir-nofollow", "src/shell_ops_trash.cpp",
     "UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));",
     "UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));",
     "trash files/info followed through a link"),
    ("trash-home-device", "src/shell_ops_trash.cpp", "if (st.st_dev != item_dev) return std::nullopt;", "",
     "home trash used for items of other devices"),
    ("trash-private-mode", "src/shell_ops_trash.cpp",
     "if ((st.st_mode & 07777) != 0700 && ::fchmod(mine.get(), 0700) != 0) return std::nullopt;", "",
     "private volume trash left open to others"),
    ("trash-readonly-mount", "src/shell_ops_trash.cpp",
     "if (mount == nullptr || mount->read_only) return Outcome::failed(TrashMessage::NoTrash);",
     "if (mount == nullptr) return Outcome::failed(TrashMessage::NoTrash);", "read-only volume tried"),
    ("trash-no-trash-class", "src/shell_ops_trash.cpp",
     "const bool no_trash = m == TrashMessage::NoTrash || m == TrashMessage::RecordFailed ||",
     "const bool no_trash = m == TrashMessage::RecordFailed ||",
     "no-trash items not offered for permanent deletion"),
    ("trash-first-error", "src/shell_ops_trash.cpp", "if (result.error.empty()) result.error = outcome.message;",
     "result.error = outcome.message;", "last failure reported instead of first"),
    ("pin-walk-nofollow", "src/shell_ops_trash.cpp",
     "::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));",
     "::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));",
     "parent walk follows links"),
    ("pin-guard-real", "src/shell_ops_trash.cpp",
     "if (const char* reason = deletion_guard::reason_key(out.real_path))\n        return Outcome::failed(shown(reason));",
     "", "real location of the opened parent not judged"),
    ("pin-same-file", "src/shell_ops_trash.cpp", "if (!same_file(out.st, seen)) return Outcome::failed(TrashMessage::NotMoved);",
     "", "an item swapped after the guard is still removed"),
    ("delete-guard", "src/shell_ops_trash.cpp",
     "Outcome delete_one(const std::string& path, const TrashOptions& options) {\n    if (const char* reason = deletion_guard::reason_key(path))\n        return Outcome::failed(shown(reason));",
     "Outcome delete_one(const std::string& path, const TrashOptions& options) {",
     "permanent deletion skips the guard"),
    ("delete-readonly", "src/shell_ops_trash.cpp",
     "if (!is_writable_location(path)) return Outcome::failed(TrashMessage::ReadOnly);", "",
     "read-only locations not refused up front"),
    ("delete-cross-device", "src/shell_ops_trash.cpp",
     "if (seen.st_dev != top_dev) return {};\n    UniqueFd fd(", "UniqueFd fd(",
     "removal descends into other file systems"),
    ("delete-nofollow", "src/shell_ops_trash.cpp",
     "UniqueFd fd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));",
     "UniqueFd fd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));",
     "removal follows a folder swapped for a link"),
    ("delete-child-failure", "src/shell_ops_trash.cpp",
     "if (::unlinkat(level.fd.get(), entry.c_str(), 0) != 0 && errno != ENOENT)\n                level.failed = true;",
     "::unlinkat(level.fd.get(), entry.c_str(), 0);", "a file that could not be removed is ignored"),
    ("delete-verify", "src/shell_ops_trash.cpp",
     "if (removed &&\n        ::fstatat(", "if (true ||\n        ::fstatat(",
     "failed removal reported as done"),
    ("delete-depth", "src/shell_ops_trash.cpp", "if (stack.size() >= kMaxDepth) {", "if (stack.size() >= 4) {",
     "depth limit far too small"),
    # ---- restore from the Trash
    ("restore-no-replace", "src/shell_ops_restore.cpp",
     "if (rename_no_replace(trash.files.get(), item.name.c_str(), original.parent.get(),",
     "if (::renameat(trash.files.get(), item.name.c_str(), original.parent.get(),",
     "a restored item may replace what now stands at its path"),
    ("restore-identity", "src/shell_ops_restore.cpp",
     "if (st.st_dev != item.device || st.st_ino != item.inode || st.st_size != item.size)\n        return problem(RestoreProblem::NotInTrash);",
     "", "a replaced trash entry is moved out as if it were ours"),
    ("restore-record-first", "src/shell_ops_restore.cpp",
     "    if (rename_no_replace(trash.files.get(),",
     "    if (trash.info) ::unlinkat(trash.info.get(), (item.name + std::string(kRecordSuffix)).c_str(), 0);\n"
     "    if (rename_no_replace(trash.files.get(),",
     "the record is removed before the move back"),
    ("restore-guard", "src/shell_ops_restore.cpp",
     "if (const char* reason = deletion_guard::reason_key(destination))\n        return Problem{RestoreProblem::Protected, shown(reason)};",
     "", "the destination is not judged by the guard"),
    ("restore-outermost", "src/shell_ops_restore.cpp",
     "return restoring::depth(a->path) < restoring::depth(b->path);",
     "return restoring::depth(a->path) > restoring::depth(b->path);",
     "inner items restored before the folder that held them"),
    ("restore-portal", "src/shell_ops_restore.cpp",
     "if (item.via_portal) return problem(RestoreProblem::ViaPortal);", "",
     "portal moves reported as emptied from the Trash"),
    ("trash-portal-flag", "src/shell_ops_trash.cpp", "moved.via_portal = true;", "moved.via_portal = false;",
     "a portal move is later taken for one of ours"),
    ("restore-tree-nest", "src/tree_edit.cpp", "if (!below.empty()) after = insert(after, below);", "",
     "an item put back with its folder in one call is left out of it"),
    # ---- scanner
    ("scan-block-size", "src/scanner.cpp",
     "out.size = static_cast<std::int64_t>(sx.stx_blocks) * 512;",
     "out.size = static_cast<std::int64_t>(sx.stx_blocks) * 1024;", "blocks counted in the wrong unit"),
    ("scan-dot-entries", "src/scanner.cpp",
     "if (raw[0] == '.' && (raw[1] == '\\0' || (raw[1] == '.' && raw[2] == '\\0'))) continue;",
     "if (raw[0] == '.' && raw[1] == '\\0') continue;", ".. counted as a child"),
    ("scan-same-dev", "src/scanner.cpp", "if (dev == m_root_dev) return true;", "",
     "same-device folders judged as mounts"),
    ("scan-one-fs", "src/scanner.cpp", "if (m_options.one_filesystem) return false;", "",
     "one-file-system option ignored"),
    ("scan-denied-identity", "src/scanner.cpp",
     "static_cast<std::uint64_t>(self.st_ino) != node.ino) {", "false) {",
     "a folder swapped during the scan is read"),
    ("scan-listing-error", "src/scanner.cpp", "if (failed || (examined == 0 && refused > 0)) deny(node);",
     "if (examined == 0 && refused > 0) deny(node);",
     "a listing that fails part-way is complete"),
    ("scan-fold-threshold", "src/scanner.cpp", "const bool fold = small >= 2;", "const bool fold = small >= 1;",
     "a single small file folded"),
    ("scan-fold-limit", "src/scanner.cpp", "if (fold && r.size <= kSmallFileLimit) {",
     "if (fold && r.size < kSmallFileLimit) {", "files at the limit not folded"),
    ("scan-hardlink-dedupe", "src/scanner.cpp",
     "if (m_dedupe && r.link != kNoLink && !m_seen.insert(n.links[r.link]).second) {",
     "if (false) {", "hard links counted twice"),
    ("scan-newest", "src/scanner.cpp", "parent.newest = std::max(parent.newest, child->modified);",
     "parent.newest = std::min(parent.newest, child->modified);", "newest date of a folder wrong"),
    ("scan-sort", "src/scanner.cpp", "return a->size > b->size; });", "return a->size < b->size; });",
     "children sorted smallest first"),
    ("scan-cancel", "src/scanner.cpp", "if (m_progress.is_cancelled()) return false;\n    show_current",
     "show_current", "cancel does not stop new folders"),
    ("scan-zero-size", "src/scanner.cpp", "if (size <= 0) continue;", "",
     "empty files listed as leaves"),
    ("scan-skip-readonly", "src/scanner.cpp", "child->skipped = true;\n                    child->read_only = true;",
     "child->skipped = true;", "skipped mounts not read-only"),
    ("scan-files-count", "src/scanner.cpp", "parent.files += child->file_count;", "",
     "file counts of subfolders lost"),
    # ---- treemap
    ("map-ratio", "src/treemap.cpp", "return std::max(s2 / (l2 * min), l2 * max / s2);",
     "return std::min(s2 / (l2 * min), l2 * max / s2);", "worst aspect ratio inverted"),
    ("map-row-orient", "src/treemap.cpp", "if (free.w >= free.h) {", "if (free.w < free.h) {",
     "rows laid along the long side"),
    ("map-row-advance", "src/treemap.cpp", "free.x += row_width;", "",
     "free space not advanced after a row"),
    ("map-row-shrink", "src/treemap.cpp", "free.h -= row_height;", "free.h -= row_height / 2;",
     "free height shrinks by half a row"),
    ("map-row-stop", "src/treemap.cpp", "if (candidate > current) break;", "if (candidate < current) break;",
     "rows grow while they get worse"),
    ("map-floor-area", "src/treemap.cpp",
     "const double floor_area = std::min(area / static_cast<double>(n), MIN_TILE_AREA);",
     "const double floor_area = area / static_cast<double>(n);", "floor area ignores the tile minimum"),
    ("map-fill", "src/treemap.cpp", "item.area *= fill;", "item.area *= fill * 0.9;",
     "tiles do not fill the rectangle"),
    ("map-empty-rect", "src/treemap.cpp", "if (nodes.empty() || !finite(rect) || !roomy(rect)) return tiles;",
     "if (nodes.empty()) return tiles;", "non-finite rectangles laid out"),
    ("map-negative-size", "src/treemap.cpp", "return n.size > 0 ? static_cast<double>(n.size) : 0.0;",
     "return static_cast<double>(n.size);", "negative sizes enter the layout"),
    ("map-fold-count", "src/treemap.cpp", "node->file_count = std::max<std::int64_t>(sum.file_count, 1);",
     "node->file_count = 1;", "folded tile forgets its file count"),
    ("map-saturate", "src/treemap.cpp", "if (__builtin_add_overflow(a, b, &r))",
     "if (r = a + b, false)", "folded sizes overflow"),
    # ---- other modules
    ("mounts-octal", "src/mounts.cpp", "(text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');",
     "(text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8;", "escaped mount point names broken"),
    ("mounts-fields", "src/mounts.cpp", "if (dash == tokens.size() || dash < 6) continue;",
     "if (dash == tokens.size()) continue;", "short mountinfo lines accepted"),
    ("mounts-prefix", "src/mounts.cpp", "return path == prefix || (su::starts_with(path, prefix) && path.size() > prefix.size() &&",
     "return path == prefix || (su::starts_with(path, prefix) && path.size() >= prefix.size() &&",
     "prefix boundary off by one"),
    ("paths-to-scan", "src/paths.cpp", "if (reachable_directly(home, path)) return std::string(path);", "",
     "home paths sent through the host prefix"),
    ("strutil-utf8-cont", "src/strutil.cpp", "if (c < 0x80 || c > 0xBF) return 0;", "if (c < 0x80) return 0;",
     "bad continuation bytes accepted"),
    ("strutil-utf8-len", "src/strutil.cpp", "if (i + len > s.size()) return 0;", "if (i + len > s.size() + 1) return 0;",
     "truncated sequence read past the end"),
    ("strutil-basename", "src/strutil.cpp", "return std::string(p.substr(slash + 1));",
     "return std::string(p.substr(slash));", "base name keeps its slash"),
    ("format-unit", "src/format.cpp", "while (value >= 1024.0 && unit < 5) {", "while (value > 1024.0 && unit < 5) {",
     "1024 bytes not shown as 1 KB"),
    ("format-grouping", "src/format.cpp", "if (i >= first && (i - first) % 3 == 0) out += group;",
     "if (i > first && (i - first) % 3 == 0) out += group;", "thousands separators misplaced"),
    ("format-one-file", "src/format.cpp", 'if (n == 1) return tr("1 file");', "",
     "singular file count lost"),
    ("category-exec", "src/file_category.cpp", "if ((mode & 0111) != 0) return FileCategory::App;", "",
     "executables not classed as apps"),
    ("category-case", "src/file_category.cpp", "buf[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;",
     "buf[i] = c;", "upper-case extensions not recognised"),
    ("junk-cache-suffix", "src/junk_patterns.cpp", "if (!f.needs_cache_suffix) return false;", "return false;",
     "app folders counted as junk without a cache part"),
    ("settings-quote", "src/settings.cpp", "return std::string(text.substr(open + 1, close - open - 1));",
     "return std::string(text.substr(open, close - open));", "settings values keep their quotes"),
    ("wm-min-size", "src/window_manager.cpp", "if (g.width < kMinWidth) g.width = kDefaultWidth;", "",
     "tiny saved widths kept"),
    ("wm-overflow", "src/window_manager.cpp", "if (value > INT_MAX || value < INT_MIN) return std::nullopt;", "",
     "out-of-range numbers wrap"),
    ("tile-age-future", "src/tile_color.cpp", "if (modified >= now) return kNewestHue;", "",
     "future dates given an arbitrary hue"),
    ("theme-hex-length", "src/theme.cpp", "if (hex.size() != 6) return false;", "if (hex.size() < 6) return false;",
     "long colour strings accepted"),
    ("i18n-territory", "src/i18n.cpp", "if (i & Territory) v += territory;", "",
     "locale territory ignored"),
    ("export-denied", "src/tree_export.cpp", "if (read_error) out += \",\\\"read_error\\\":true\";", "",
     "denied folders not marked in the export"),
    ("export-utf8", "src/tree_export.cpp", "if (!utf8::is_strict(text)) {", "if (false) {",
     "broken names (overlong forms too) pass into JSON unrepaired"),
    ("crash-date", "src/crash_handler.cpp", "const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);",
     "const int64_t year = yoe + era * 400;", "January and February dated a year early"),
    ("crash-german", "src/crash_handler.cpp", "return value != nullptr && value[0] == 'd' && value[1] == 'e';",
     "return value != nullptr && value[0] == 'd';", "any d* locale taken for German"),
    ("compress-no-replace", "src/shell_ops_compress.cpp",
     "return su::join_path(parent, name);\n            if (errno != EEXIST) break;",
     "return su::join_path(parent, name);\n            break;",
     "a name taken while tar ran stops the move"),
    ("desktop-reveal-method", "src/shell_ops_desktop.cpp", 'plan.method = is_directory ? "ShowFolders" : "ShowItems";',
     'plan.method = "ShowItems";', "folders revealed as items"),
    # ---- window
    ("app-basket-nested", "src/app_basket.cpp",
     "if (inside(node->path, item->path)) return; // a folder above is listed already", "",
     "an item inside a listed folder is listed too, its bytes counted twice"),
    ("app-tree-first-row", "src/app_render_tree.cpp",
     "std::max(std::floor(m_scroll / kRowH), 0.0)", "std::max(std::floor(m_scroll / kRowH) + 1, 0.0)",
     "the tree view draws and hits from one row too far down"),
    ("app-crumb-climb", "src/app_navigation.cpp", "m_path.resize(static_cast<std::size_t>(index) + 1);",
     "m_path.resize(static_cast<std::size_t>(index));", "a breadcrumb climbs one level too many"),
    ("app-scan-superseded", "src/app.cpp", "if (app && done->generation == app->m_scan_generation) app->finish_scan();",
     "if (app) app->finish_scan();", "a superseded scan's result is shown"),
    ("app-sort-flip", "src/app_navigation.cpp", "return asc ? (*a).*key < (*b).*key : (*a).*key > (*b).*key;",
     "return asc ? (*a).*key > (*b).*key : (*a).*key < (*b).*key;", "the tree view's order flipped"),
    ("app-key-alt-up", "src/app_input.cpp", "if (can_zoom_out()) zoom_out();\n            return true;",
     "if (can_zoom_out()) zoom_out();\n            return false;", "Alt+Up not consumed: the accelerator acts too"),
    ("app-confirm-skipped", "src/app_input.cpp", "case Act::BasketDelete:\n        confirm_delete_list();",
     "case Act::BasketDelete:\n        empty_basket_to_trash();", "the delete list goes without asking"),
    ("app-zoom-after-removal", "src/app_basket.cpp", "m_path = tree_edit::follow(m_root, m_path);",
     "m_path.clear();", "the view leaves the folder after a removal"),
    ("app-search-depth", "src/app_search.cpp", "if (folder.children.empty() || depth == kMaxDepth) return;",
     "if (folder.children.empty() || depth == kMaxDepth + 1) return;", "the search walks a level too deep"),
    ("app-tile-colour-mode", "src/app_render_treemap.cpp",
     "const Rgb color = tile_color::color(n, m_color_mode, m_scan_start_time, prominence);",
     "const Rgb color = tile_color::color(n, ColorMode::Category, m_scan_start_time, prominence);",
     "tiles ignore the colour mode"),
    # ---- undo of a move to the Trash
    ("undo-reinsert", "src/app_undo.cpp", "m_root = tree_edit::with(old_root, back);",
     "m_root = old_root;", "restored items do not reappear in the tree"),
    ("undo-zoom", "src/app_undo.cpp", "m_path = tree_edit::follow(m_root, m_path);",
     "m_path.clear();", "the zoom is lost after an undo"),
    ("undo-report-name", "src/app_undo.cpp",
     'report += "“" + su::basename_of(f.path) + "”: " + f.message;', "report += f.message;",
     "an item left in the Trash is not named"),
    ("undo-newest-first", "src/app_undo.cpp",
     "m_trash_batches.insert(m_trash_batches.begin(), std::move(batch));",
     "m_trash_batches.push_back(std::move(batch));", "the panel lists the oldest batch first"),
]

# The CTest entries that cover a source file, when not just <module>_test.
TESTS_FOR = {
    "src/shell_ops_trash.cpp": ["shell_ops_trash_test", "shell_ops_portal_test", "shell_ops_crash_test"],
    "src/shell_ops_restore.cpp": ["shell_ops_restore_test", "shell_ops_crash_test"],
    "src/shell_ops_compress.cpp": ["shell_ops_compress_test"],
    "src/shell_ops_desktop.cpp": ["shell_ops_desktop_test"],
    "tools/spacemole_scan.cpp": ["e2e_spacemole_scan"],
    # Saved scans are assembled by the scanner's tree builder.
    "src/scanner.cpp": ["scanner_test", "tree_import_test"],
}


def tests_for(path, known):
    # The window's sources are split by concern, its tests by journey.
    if path.startswith("src/app"):
        return [t for t in known if t == "app_test" or t.startswith("app_") and t.endswith("_test")]
    if path in TESTS_FOR:
        return [t for t in TESTS_FOR[path] if t in known]
    stem = Path(path).stem
    return [t for t in known if t == stem + "_test" or t.startswith(stem + "_") and t.endswith("_test")]


def sh(cmd, cwd, timeout=None, env=None):
    """Runs cmd in its own process group and kills whatever of that group is
    left afterwards: ctest --stop-on-failure can leave a sibling test program
    running, and a mutant that hangs would keep it (and its memory) forever."""
    with subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          env=env, start_new_session=True) as p:
        try:
            out, _ = p.communicate(timeout=timeout)
        finally:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return subprocess.CompletedProcess(cmd, p.returncode, out)


def copy_tree(dest):
    """Brings the scratch copy in line with the working tree, keeping the
    timestamps of unchanged files so the scratch build stays incremental."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           stdout=subprocess.PIPE, check=True).stdout.decode().split("\0")
    wanted = set(filter(None, files))
    # Files deleted from the working tree go from the copy too, or a removed
    # test would still be built and run there.
    for old in [p for p in dest.rglob("*") if p.is_file()]:
        if str(old.relative_to(dest)) not in wanted:
            old.unlink()
    for rel in sorted(wanted):
        src, dst = ROOT / rel, dest / rel
        if not src.is_file():
            continue
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)


def wait_for_outcome(paths, mid, patience=3600):
    """The outcome other runs recorded for `mid`, waiting while they work."""
    end = time.time() + patience
    while True:
        known = {}
        for path in paths:
            try:
                known.update(json.loads(path.read_text()))
            except (OSError, ValueError):
                pass
        if mid in known or time.time() > end:
            return known.get(mid, "unknown")
        time.sleep(10)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", help="run mutants whose id or file contains this text (or any of "
                    "several, comma-separated)")
    ap.add_argument("--save", help="write each mutant's outcome to this JSON file")
    ap.add_argument("--compare", help="fail when a mutant killed in this JSON file survives")
    ap.add_argument("--check", action="store_true", help="only check that the snippets apply")
    ap.add_argument("--scratch", help="scratch directory, reused between runs (default: one per "
                    "checkout and user under the system's temporary folder)")
    ap.add_argument("--timeout", type=int, default=180, help="seconds per test program")
    ap.add_argument("--tree", help="source tree to test (default: this checkout)")
    ap.add_argument("--carry", help="JSON of outcomes already known; those mutants are not run")
    ap.add_argument("--killed-in", help="run only mutants these (growing, comma-separated) JSON "
                    "files mark killed")
    args = ap.parse_args()
    global ROOT
    if args.tree:
        ROOT = Path(args.tree).resolve()
    carried = json.loads(Path(args.carry).read_text()) if args.carry else {}

    ids = [m[0] for m in MUTANTS]
    if len(ids) != len(set(ids)):
        sys.exit("mutate: duplicate mutant ids")
    patterns = args.only.split(",") if args.only else []
    chosen = [m for m in MUTANTS if not patterns or any(p in m[0] or p in m[1] for p in patterns)]

    stale = []
    for mid, path, old, new, _ in chosen:
        text = (ROOT / path).read_text() if (ROOT / path).is_file() else ""
        if text.count(old) != 1:
            stale.append((mid, path, text.count(old)))
    for mid, path, n in stale:
        print(f"!!! STALE MUTANT {mid}: snippet found {n} times in {path} (must be exactly once)")
    if args.check:
        print(f"{len(chosen)} mutants, {len(stale)} stale")
        return 1 if stale else 0

    # One scratch copy per checkout, so runs from two worktrees never share one.
    tag = hashlib.sha1(str(ROOT).encode()).hexdigest()[:8]
    scratch = Path(args.scratch or os.path.join(tempfile.gettempdir(),
                                                f"spacemole-mutate-{os.getuid()}-{tag}"))
    tree, build = scratch / "tree", scratch / "build"
    tree.mkdir(parents=True, exist_ok=True)
    copy_tree(tree)
    env = dict(os.environ)
    env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CCACHE_BASEDIR", str(scratch))
    if not (build / "build.ninja").exists():
        r = sh(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0", "-DSPACEMOLE_BENCH=OFF"], ROOT, env=env)
        if r.returncode != 0:
            sys.exit("mutate: cmake failed\n" + r.stdout)
    listing = sh(["ctest", "-N"], build, env=env).stdout
    known = [line.split(":", 1)[1].strip() for line in listing.splitlines() if line.strip().startswith("Test")
             and ":" in line]

    # Build everything once on the unchanged tree, and prove the tests pass there.
    print("mutate: building the unchanged tree ...", flush=True)
    r = sh(["cmake", "--build", str(build), "-j2"], ROOT, env=env)
    if r.returncode != 0:
        sys.exit("mutate: the unchanged tree does not build\n" + r.stdout[-4000:])

    # A mutant only counts as killed by tests that pass without it.
    covering = sorted({t for m in chosen for t in tests_for(m[1], known) if not t.startswith("e2e_")})
    if covering:
        r = sh(["ctest", "--timeout", str(args.timeout), "-j2", "-R", "^(" + "|".join(covering) + ")$"],
               build, env=env)
        if r.returncode != 0:
            sys.exit("mutate: the tests fail on the unchanged tree\n" + r.stdout[-4000:])

    results = {}
    interrupted = False
    original = {}

    def restore():
        for p, data in original.items():
            (tree / p).write_bytes(data)
        original.clear()

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    started = time.time()
    try:
        for mid, path, old, new, what in chosen:
            if mid in carried:
                results[mid] = carried[mid]
                continue
            if args.killed_in:
                before = wait_for_outcome([Path(p) for p in args.killed_in.split(",")], mid)
                if before != "killed":
                    print(f"{'-':11} {mid:26}        not killed before ({before})", flush=True)
                    continue
            if any(s[0] == mid for s in stale):
                results[mid] = "stale"
                continue
            tests = tests_for(path, known)
            if not tests:
                print(f"!!! {mid}: no tests cover {path}")
                results[mid] = "untested"
                continue
            target = tree / path
            original[path] = target.read_bytes()
            target.write_text(original[path].decode().replace(old, new, 1))
            t0 = time.time()
            targets = [t for t in tests if not t.startswith("e2e_")]
            if any(t.startswith("e2e_") for t in tests):
                targets.append("all")
            b = sh(["cmake", "--build", str(build), "-j2", "--target", *targets], ROOT, env=env)
            if b.returncode != 0:
                outcome = "build-error"
                print(f"!!! {mid}: the mutant does not compile\n" + b.stdout[-1500:])
            else:
                regex = "^(" + "|".join(tests) + ")$"
                try:
                    # The first failing program settles it: stop there.
                    t = sh(["ctest", "--timeout", str(args.timeout), "--stop-on-failure", "-j2",
                            "-R", regex], build,
                           timeout=args.timeout * len(tests) + 60, env=env)
                    outcome = "killed" if t.returncode != 0 else "survived"
                except subprocess.TimeoutExpired:
                    outcome = "killed"  # a hang is caught too
            restore()
            results[mid] = outcome
            print(f"{outcome:11} {mid:26} {time.time() - t0:5.0f}s  {what}", flush=True)
            if args.save:  # kept up to date, so an interrupted run still tells
                Path(args.save).write_text(json.dumps(results, indent=1, sort_keys=True) + "\n")
    except KeyboardInterrupt:
        interrupted = True
        print("mutate: interrupted")
    finally:
        restore()
        # Leave the scratch build matching the real tree for the next run.

    killed = sum(1 for v in results.values() if v == "killed")
    survived = [k for k, v in results.items() if v == "survived"]
    bad = [k for k, v in results.items() if v in ("stale", "build-error", "untested")]
    print(f"\nmutants: {len(results)} run, {killed} killed, {len(survived)} survived, {len(bad)} broken "
          f"({time.time() - started:.0f}s)")
    for k in survived:
        print("  survived:", k, "-", next(m[4] for m in MUTANTS if m[0] == k))
    for k in bad:
        print("  BROKEN:  ", k, "-", results[k])
    if args.save:
        Path(args.save).write_text(json.dumps(results, indent=1, sort_keys=True) + "\n")
    regressed = []
    if args.compare:
        before = json.loads(Path(args.compare).read_text())
        regressed = [k for k, v in before.items() if v == "killed" and results.get(k) == "survived"]
        for k in regressed:
            print("  NO LONGER KILLED:", k)
    return 1 if (bad or regressed or interrupted) else 0


if __name__ == "__main__":
    sys.exit(main())
