// The immutable node of a finished scan tree.
//
// The scanner builds each node on one thread, seals it and then publishes it
// through a FileNodePtr; from then on nobody writes it, so the interface, the
// delete thread and the scan thread read nodes without locks. A tree lives as
// long as any pointer into it does.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_category.h"

class FileNode;
using FileNodePtr = std::shared_ptr<const FileNode>;

class FileNode {
public:
    std::uint64_t id = 0;  // from next_id(); never 0
    std::string name;      // display name, always valid UTF-8
    std::string path;      // display path (the host path, not the sandbox one)
    std::int64_t size = 0; // occupied bytes (512-byte blocks x 512), summed for folders
    bool is_directory = false;
    std::vector<FileNodePtr> children; // largest first
    std::int64_t file_count = 0;       // non-directory entries counted below
    std::int64_t modified = 0;         // seconds since the epoch; newest below for folders
    std::int64_t created = 0;          // st_ctime; not aggregated
    FileCategory category = FileCategory::Other;
    bool is_junk = false;
    bool is_aggregate = false; // "Small files" or the treemap's fold node
    bool is_denied = false;    // contents unknown (unreadable, or a mount not entered)
    bool is_timeout = false;   // a mount the scan did not enter (with is_denied)
    bool is_readonly = false;  // removal actions are refused
    // The name (or a folder above) was not valid UTF-8 and is shown repaired,
    // so `path` does not name this entry: file operations must refuse it.
    bool path_repaired = false;
    std::int64_t reclaimable = 0; // bytes junk cleaning would free; set by seal()

    // Frees the subtree level by level: a tree many thousands of folders deep
    // must not nest one destructor call per level on the stack. A child held
    // elsewhere keeps its own subtree.
    ~FileNode() {
        if (children.empty()) return;
        std::vector<FileNodePtr> pending = std::move(children);
        while (!pending.empty()) {
            FileNodePtr n = std::move(pending.back());
            pending.pop_back();
            if (n.use_count() != 1 || n->children.empty()) continue;
            // The last owner: nobody can read it any more.
            auto& below = const_cast<FileNode&>(*n).children;
            for (auto& c : below)
                pending.push_back(std::move(c));
            below.clear();
        }
    }

    const std::vector<FileNodePtr>& sorted_children() const { return children; }

    // Folders with known, non-empty contents can be zoomed into.
    bool can_enter() const {
        return is_directory && !is_aggregate && !is_denied && !children.empty();
    }

    // Whether `path` may be handed to an action on this entry. Aggregates
    // ("Small files", the map's fold tile) borrow a member's path, a mount the
    // scan did not enter may hang whoever touches it, and a repaired name does
    // not spell the entry on disk: all refuse every action. A read-only entry
    // may still be shown in the file manager, never changed.
    enum class Action { Reveal, Change };
    bool allows(Action action) const {
        if (is_aggregate || is_timeout || path_repaired || path.empty()) return false;
        return action == Action::Reveal || !is_readonly;
    }

    // Computes `reclaimable`; children must be sealed first.
    void seal() {
        if (is_junk) {
            reclaimable = size;
            return;
        }
        std::int64_t sum = 0;
        for (const auto& child : children)
            sum += child->reclaimable;
        reclaimable = sum;
    }

    // Process-wide unique identity, starting at 1, from any thread.
    static std::uint64_t next_id() {
        static std::atomic<std::uint64_t> counter{1};
        return counter.fetch_add(1, std::memory_order_relaxed);
    }
};
