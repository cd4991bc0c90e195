#include "scanner.h"

#include <algorithm>
#include <atomic>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_category.h"
#include "i18n.h"
#include "junk_patterns.h"
#include "mounts.h"
#include "paths.h"
#include "strutil.h"
#include "unique_fd.h"

namespace scanner {

namespace {

std::string small_files_label() {
    return tr("Small files");
}

struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const FileId&) const = default;
};

struct FileIdHash {
    std::size_t operator()(const FileId& id) const noexcept {
        const std::uint64_t h = id.dev * 1099511628211ULL;
        return static_cast<std::size_t>(h ^ (id.ino + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2)));
    }
};

constexpr std::uint32_t kNoLink = UINT32_MAX;
constexpr std::uint8_t kLeafJunk = 1;
constexpr std::uint8_t kLeafRepaired = 2;
constexpr std::uint8_t kLeafNotRegular = 4;
// Listing checks the cancel flag this often, so one huge folder cannot stall it.
constexpr unsigned kCancelCheckEvery = 256;
constexpr int kMaxThreads = 256;
// Bytes of directory entries read per system call.
constexpr std::size_t kListBuffer = 64 * 1024;
// The folder shown in the progress changes at most this often per walker.
constexpr auto kCurrentEvery = std::chrono::milliseconds(20);

// One listed non-directory entry. Millions of these exist during a walk of a
// big disk and most end up folded, so they stay small: the display name lives
// in the folder's arena and (dev, ino) only for multiply-linked files.
struct LeafRec {
    std::int64_t size;
    std::int64_t modified;
    std::int64_t created;
    std::uint32_t name_off;
    std::uint32_t name_len;
    std::uint32_t link; // index into ScanNode::links, or kNoLink
    std::uint8_t category;
    std::uint8_t flags;
};

// The working node of one folder. Written only by the thread that lists it
// (its children are complete before they are queued), then, once `pending`
// reaches 0, by the one thread that assembles it.
struct ScanNode {
    ScanNode* parent = nullptr;
    std::string name; // display name
    // The name's bytes when they are not valid UTF-8 (rare, so not inline).
    std::unique_ptr<std::string> raw_name;
    std::string path; // display path
    std::int64_t own_size = 0;
    std::int64_t modified = 0;
    std::int64_t created = 0;
    std::uint64_t dev = 0; // identity listed in the parent, checked on open
    std::uint64_t ino = 0;
    bool is_junk = false;
    bool read_only = false;
    bool denied = false;
    bool skipped = false;
    bool repaired = false; // this name or one above was repaired
    // The nearest folder, this one or above, reached by entering a mount:
    // only below one can a folder come round to one of its ancestors.
    const ScanNode* mount_above = nullptr;
    junk::PathState junk_state; // of `path` with its separator
    // Kept open while subfolders wait to be opened relative to it, so opening
    // costs the same at any depth; the last subfolder to open closes it.
    UniqueFd fd;
    std::atomic<std::uint32_t> to_open{0};
    std::string arena; // leaf display names, back to back
    std::vector<LeafRec> leaves;
    std::vector<FileId> links;
    std::vector<std::unique_ptr<ScanNode>> subdirs;
    // Its own listing plus subfolders not yet fully listed; the thread that
    // brings it to 0 owns the finished subtree.
    std::atomic<std::size_t> pending{1};
    std::atomic<bool> has_links{false}; // a multiply-linked file somewhere below
    FileNodePtr built;                  // the subtree, when assembled during the walk

    const std::string& bytes() const { return raw_name ? *raw_name : name; }
};

// Opens a folder by a path of any length. Paths beyond PATH_MAX are walked
// piece by piece relative to the last piece's descriptor; the pieces between
// only need search permission, as with one open() call.
UniqueFd open_folder(const std::string& path, bool no_follow) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (no_follow ? O_NOFOLLOW : 0);
    if (path.size() < PATH_MAX) return UniqueFd(::open(path.c_str(), flags));
    UniqueFd dir;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.size();
        if (end - start >= PATH_MAX) {
            end = path.rfind('/', start + PATH_MAX - 1);
            if (end == std::string::npos || end <= start) {
                errno = ENAMETOOLONG;
                return {};
            }
        }
        const std::string piece = path.substr(start, end - start);
        const bool last = end == path.size();
        const int piece_flags = last ? flags : (O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int fd = dir ? ::openat(dir.get(), piece.c_str(), piece_flags)
                           : ::open(piece.c_str(), piece_flags);
        if (fd < 0) return {};
        dir = UniqueFd(fd);
        start = end + 1;
    }
    return dir;
}

// Turns a walked ScanNode subtree into sealed FileNodes, depth first with an
// explicit stack so a deeply nested tree cannot overflow the thread's stack.
// Subfolders already assembled (`built`) are taken as they are. Working
// records are freed as soon as their folder is built.
class Assembler {
public:
    Assembler(bool dedupe, ScanDetails* details)
        : m_dedupe(dedupe)
        , m_details(details)
        , m_small_files(small_files_label()) {
        m_seen.reserve(4096);
    }

    FileNodePtr build(ScanNode& root) {
        std::vector<Frame> stack;
        stack.push_back(enter(root));
        for (;;) {
            Frame& top = stack.back();
            if (top.next < top.node->subdirs.size()) {
                ScanNode& child = *top.node->subdirs[top.next++];
                if (child.built)
                    adopt(top, std::move(child.built));
                else
                    stack.push_back(enter(child));
                continue;
            }
            FileNodePtr done = finish(top);
            stack.pop_back();
            if (stack.empty()) return done;
            adopt(stack.back(), std::move(done));
        }
    }

private:
    struct Frame {
        ScanNode* node = nullptr;
        std::size_t next = 0;
        std::vector<FileNodePtr> kept;
        std::int64_t total = 0;
        std::int64_t files = 0;
        std::int64_t newest = 0;
    };

    static void adopt(Frame& parent, FileNodePtr child) {
        parent.total += child->size;
        parent.files += child->file_count;
        parent.newest = std::max(parent.newest, child->modified);
        parent.kept.push_back(std::move(child));
        parent.node->subdirs[parent.next - 1].reset();
    }

    Frame enter(ScanNode& n) {
        Frame f;
        f.node = &n;
        f.total = n.own_size;
        f.newest = n.modified;

        // First pass: which leaves survive de-duplication, and how many are small.
        m_keep.assign(n.leaves.size(), 1);
        std::size_t big = 0;
        std::size_t small = 0;
        for (std::size_t i = 0; i < n.leaves.size(); ++i) {
            const LeafRec& r = n.leaves[i];
            if (m_dedupe && r.link != kNoLink && !m_seen.insert(n.links[r.link]).second) {
                m_keep[i] = 0;
                continue;
            }
            f.total += r.size;
            f.files += 1;
            f.newest = std::max(f.newest, r.modified);
            (r.size > kSmallFileLimit ? big : small) += 1;
        }
        const bool fold = small >= 2;
        f.kept.reserve(big + (fold ? 1 : small) + n.subdirs.size());

        std::int64_t folded_size = 0;
        std::int64_t folded_count = 0;
        std::int64_t folded_newest = n.modified;
        for (std::size_t i = 0; i < n.leaves.size(); ++i) {
            if (!m_keep[i]) continue;
            const LeafRec& r = n.leaves[i];
            if (fold && r.size <= kSmallFileLimit) {
                folded_size += r.size;
                folded_count += 1;
                folded_newest = std::max(folded_newest, r.modified);
                continue;
            }
            f.kept.push_back(make_leaf(n, r));
        }
        if (fold) {
            auto agg = std::make_shared<FileNode>();
            agg->id = FileNode::next_id();
            agg->name = m_small_files;
            agg->path = n.path;
            agg->size = folded_size;
            agg->file_count = folded_count;
            agg->modified = folded_newest;
            agg->created = n.created;
            agg->category = FileCategory::Other;
            agg->is_aggregate = true;
            agg->is_readonly = n.read_only;
            agg->path_repaired = n.repaired;
            agg->seal();
            f.kept.push_back(std::move(agg));
        }
        std::vector<LeafRec>().swap(n.leaves);
        std::vector<FileId>().swap(n.links);
        std::string().swap(n.arena);
        return f;
    }

    FileNodePtr make_leaf(const ScanNode& n, const LeafRec& r) {
        auto leaf = std::make_shared<FileNode>();
        leaf->id = FileNode::next_id();
        leaf->name.assign(n.arena, r.name_off, r.name_len);
        leaf->path = su::join_path(n.path, leaf->name);
        leaf->size = r.size;
        leaf->file_count = 1;
        leaf->modified = r.modified;
        leaf->created = r.created;
        leaf->category = static_cast<FileCategory>(r.category);
        leaf->is_junk = (r.flags & kLeafJunk) != 0;
        leaf->is_readonly = n.read_only;
        leaf->path_repaired = n.repaired || (r.flags & kLeafRepaired) != 0;
        leaf->seal();
        const bool not_regular = (r.flags & kLeafNotRegular) != 0;
        if (m_details != nullptr && (r.link != kNoLink || not_regular)) {
            LeafFacts facts;
            if (r.link != kNoLink) {
                facts.dev = n.links[r.link].dev;
                facts.ino = n.links[r.link].ino;
                facts.multiply_linked = true;
            }
            facts.not_regular = not_regular;
            m_details->leaves.emplace(leaf->id, facts);
        }
        return leaf;
    }

    static FileCategory dominant(const std::vector<FileNodePtr>& kept) {
        std::array<std::int64_t, static_cast<std::size_t>(FileCategory::COUNT)> sums{};
        for (const auto& c : kept) {
            const auto i = static_cast<std::size_t>(c->category);
            if (c->size > 0 && i < sums.size()) sums[i] += c->size;
        }
        FileCategory best = FileCategory::Folder;
        std::int64_t best_sum = 0;
        for (std::size_t i = 0; i < sums.size(); ++i) {
            if (sums[i] > best_sum) {
                best_sum = sums[i];
                best = static_cast<FileCategory>(i);
            }
        }
        return best;
    }

    static FileNodePtr finish(Frame& f) {
        ScanNode& n = *f.node;
        std::sort(f.kept.begin(), f.kept.end(),
                  [](const FileNodePtr& a, const FileNodePtr& b) { return a->size > b->size; });
        auto dir = std::make_shared<FileNode>();
        dir->id = FileNode::next_id();
        dir->name = std::move(n.name);
        dir->path = std::move(n.path);
        dir->size = f.total;
        dir->is_directory = true;
        dir->category = dominant(f.kept);
        dir->children = std::move(f.kept);
        dir->file_count = f.files;
        dir->modified = f.newest;
        dir->created = n.created;
        dir->is_junk = n.is_junk;
        dir->is_denied = n.denied || n.skipped;
        dir->is_timeout = n.skipped;
        dir->is_readonly = n.read_only;
        dir->path_repaired = n.repaired;
        dir->seal();
        return dir;
    }

    const bool m_dedupe;
    ScanDetails* m_details;
    const std::string m_small_files; // looked up once, not per folder
    std::unordered_set<FileId, FileIdHash> m_seen;
    std::vector<std::uint8_t> m_keep;
};

// Per-thread buffers reused across folders.
struct Scratch {
    std::string scan_path;
    std::string full;
    std::vector<const ScanNode*> chain;
    std::vector<ScanNode*> found;
    std::unique_ptr<char[]> list = std::make_unique<char[]>(kListBuffer);
    std::chrono::steady_clock::time_point shown{};
    // The listing for Options::entry_sink; names back to back in sink_names.
    std::string sink_names;
    std::vector<scanner::ListedEntry> sink_entries;
};

// One entry's facts, from statx where the kernel has it (it also tells
// mount roots apart, including bind mounts on the same device).
struct EntryStat {
    std::uint32_t mode = 0;
    std::uint64_t nlink = 0;
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::int64_t size = 0;     // occupied bytes
    std::int64_t apparent = 0; // length in bytes (st_size)
    std::int64_t modified = 0;
    std::int64_t created = 0;
    bool mount_root = false;
    bool mount_root_known = false; // false: the kernel does not say
};

std::atomic<bool> g_no_statx{false};

bool stat_entry(int dir, const char* name, EntryStat& out) {
    if (!g_no_statx.load(std::memory_order_relaxed)) {
        struct statx sx {};
        constexpr unsigned mask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_BLOCKS |
                                  STATX_SIZE | STATX_MTIME | STATX_CTIME;
        if (::statx(dir, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT, mask,
                    &sx) == 0) {
            out.mode = sx.stx_mode;
            out.nlink = sx.stx_nlink;
            out.dev = ::makedev(sx.stx_dev_major, sx.stx_dev_minor);
            out.ino = sx.stx_ino;
            out.size = static_cast<std::int64_t>(sx.stx_blocks) * 512;
            out.apparent = static_cast<std::int64_t>(sx.stx_size);
            out.modified = sx.stx_mtime.tv_sec;
            out.created = sx.stx_ctime.tv_sec;
            out.mount_root_known = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
            out.mount_root = (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
            return true;
        }
        // Old kernels and some sandboxes refuse statx itself.
        if (errno != ENOSYS && errno != EPERM) return false;
        g_no_statx.store(true, std::memory_order_relaxed);
    }
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) return false;
    out.mode = st.st_mode;
    out.nlink = st.st_nlink;
    out.dev = static_cast<std::uint64_t>(st.st_dev);
    out.ino = static_cast<std::uint64_t>(st.st_ino);
    out.size = static_cast<std::int64_t>(st.st_blocks) * 512;
    out.apparent = static_cast<std::int64_t>(st.st_size);
    out.modified = st.st_mtim.tv_sec;
    out.created = st.st_ctim.tv_sec;
    out.mount_root = out.mount_root_known = false;
    return true;
}

// Descriptors the walk may keep open at once for folders whose subfolders
// wait: a share of the process's limit, leaving the rest to the program.
int descriptor_budget() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return 1024;
    return static_cast<int>(std::clamp<rlim_t>(lim.rlim_cur / 4, 0, 4096));
}

class Pool {
public:
    Pool(ScanProgress& progress, Options options, std::uint64_t root_dev, std::string root_scan,
         ScanDetails* details)
        : m_progress(progress)
        , m_options(options)
        , m_details(details)
        , m_root_dev(root_dev)
        , m_root_scan(std::move(root_scan))
        , m_fd_budget(descriptor_budget()) {
        for (const auto& m : mounts::all()) {
            m_points.insert(m.point);
            m_points.insert(to_display_path(m.point));
        }
    }

    void push(std::vector<ScanNode*>& nodes) {
        if (nodes.empty()) return;
        {
            std::lock_guard lock(m_mutex);
            // Pushed last, walked first: depth first keeps few folders waiting
            // (and few descriptors open) however wide the tree is.
            m_queue.insert(m_queue.end(), nodes.rbegin(), nodes.rend());
        }
        if (nodes.size() == 1)
            m_cv.notify_one();
        else
            m_cv.notify_all();
        nodes.clear();
    }

    void run() {
        Scratch scratch;
        ScanDetails details;
        Assembler assembler(m_options.dedupe_hard_links, m_details != nullptr ? &details : nullptr);
        ScanNode* node = nullptr;
        for (;;) {
            if (node == nullptr) {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [this] { return !m_queue.empty() || m_done; });
                if (m_queue.empty()) {
                    if (m_details != nullptr) m_details->leaves.merge(details.leaves);
                    return;
                }
                node = m_queue.back();
                m_queue.pop_back();
                ++m_active;
            }
            ScanNode* next = nullptr;
            if (process(*node, scratch, next)) complete(*node, assembler);
            node = next;
            if (node != nullptr) continue;
            bool finished = false;
            {
                std::lock_guard lock(m_mutex);
                --m_active;
                if (m_active == 0 && m_queue.empty()) finished = m_done = true;
            }
            if (finished) m_cv.notify_all();
        }
    }

private:
    void deny(ScanNode& node) {
        node.denied = true;
        m_progress.add_denied();
    }

    void build_scan_path(const ScanNode& node, Scratch& s) const {
        s.chain.clear();
        for (const ScanNode* n = &node; n->parent != nullptr; n = n->parent)
            s.chain.push_back(n);
        s.scan_path = m_root_scan;
        for (auto it = s.chain.rbegin(); it != s.chain.rend(); ++it) {
            if (s.scan_path.empty() || s.scan_path.back() != '/') s.scan_path += '/';
            s.scan_path += (*it)->bytes();
        }
    }

    // Relative to the parent's descriptor when it kept one (cost independent
    // of depth), else by the whole path. O_NOFOLLOW and the identity check in
    // process(): a folder swapped for a link (or for another folder) after it
    // was listed must not be walked in its place.
    UniqueFd open_node(ScanNode& node, Scratch& s) {
        ScanNode* parent = node.parent;
        if (parent == nullptr) return open_folder(m_root_scan, false);
        UniqueFd fd;
        if (parent->fd) {
            const std::string& raw = node.bytes();
            fd = UniqueFd(::openat(parent->fd.get(), raw.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (parent->to_open.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                parent->fd.reset();
                m_fd_budget.fetch_add(1, std::memory_order_relaxed);
            }
        } else {
            build_scan_path(node, s);
            fd = open_folder(s.scan_path, true);
        }
        return fd;
    }

    // Keeps `node`'s descriptor for its subfolders while the budget allows.
    void keep_for_children(ScanNode& node, UniqueFd& fd, std::size_t children) {
        if (children == 0 || m_fd_budget.fetch_sub(1, std::memory_order_relaxed) <= 0) {
            if (children != 0) m_fd_budget.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        node.to_open.store(static_cast<std::uint32_t>(children), std::memory_order_relaxed);
        node.fd = std::move(fd);
    }

    bool is_mount_point(const std::string& path) const { return m_points.count(path) != 0; }

    // Whether to enter a folder reached by entering a mount.
    bool may_enter_mount(std::uint64_t dev, const std::string& full) const {
        if (m_options.one_filesystem) return false; // bind mounts of this one too
        if (dev == m_root_dev) return true;
        const mounts::Mount* m = mounts::for_path(full);
        if (m == nullptr) return true;
        return !(mounts::is_pseudo_fs(m->fs_type) || mounts::is_risky_fs(m->fs_type) ||
                 mounts::is_image_fs(m->fs_type));
    }

    // A folder that is one of its own ancestors (a bind mount of a folder
    // above it) would be walked without end. Without a mount in between a
    // folder cannot recur, so only ancestors above the nearest mount entered
    // are compared: those above it, or all when the folder itself is one.
    static bool is_cycle(const ScanNode& parent, bool crossing, std::uint64_t dev,
                         std::uint64_t ino) {
        const ScanNode* a = crossing                        ? &parent
                            : parent.mount_above != nullptr ? parent.mount_above->parent
                                                            : nullptr;
        for (; a != nullptr; a = a->parent)
            if (a->dev == dev && a->ino == ino) return true;
        return false;
    }

    // Read-only status changes only where a mount is; below it the parent's holds.
    static bool mount_is_read_only(const std::string& full) {
        const mounts::Mount* m = mounts::for_path(full);
        return m != nullptr && m->read_only;
    }

    void show_current(const ScanNode& node, Scratch& s) {
        const auto now = std::chrono::steady_clock::now();
        if (now - s.shown < kCurrentEvery) return;
        s.shown = now;
        m_progress.set_current(node.path);
    }

    bool process(ScanNode& node, Scratch& s, ScanNode*& next);

    void record(Scratch& s, std::string_view raw, const EntryStat& st) const {
        scanner::ListedEntry e;
        // The view is pointed into sink_names once the listing is complete.
        e.name = std::string_view(nullptr, s.sink_names.size());
        s.sink_names.append(raw);
        e.dev = st.dev;
        e.ino = st.ino;
        e.nlink = st.nlink;
        e.mode = st.mode;
        e.apparent_size = st.apparent;
        e.blocks = st.size / 512;
        e.mtime = st.modified;
        s.sink_entries.push_back(e);
    }

    void report_listing(const ScanNode& node, Scratch& s, bool cut = false) const {
        EntrySink* sink = m_options.entry_sink;
        if (sink == nullptr) return;
        for (std::size_t i = 0; i < s.sink_entries.size(); ++i) {
            const std::size_t off = s.sink_entries[i].name.size();
            const std::size_t end = i + 1 < s.sink_entries.size()
                                        ? s.sink_entries[i + 1].name.size()
                                        : s.sink_names.size();
            s.sink_entries[i].name = std::string_view(s.sink_names.data() + off, end - off);
        }
        sink->folder_listed(node.dev, node.ino, s.sink_entries, node.denied || cut);
        s.sink_entries.clear();
        s.sink_names.clear();
    }

    // Called once a folder is listed in full. Each folder whose subtree is
    // thereby finished is assembled at once, while other walkers still read
    // the disk, so little is left to do when the walk ends or is cancelled.
    // Subtrees holding multiply-linked files wait for the final pass, which
    // keeps the first name in its visiting order; the root waits too.
    void complete(ScanNode& node, Assembler& assembler) const {
        for (ScanNode* n = &node; n != nullptr; n = n->parent) {
            if (n->pending.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
            if (m_options.dedupe_hard_links && n->has_links.load(std::memory_order_relaxed)) {
                if (n->parent != nullptr)
                    n->parent->has_links.store(true, std::memory_order_relaxed);
            } else if (n->parent != nullptr) {
                n->built = assembler.build(*n);
            }
        }
    }

    ScanProgress& m_progress;
    const Options m_options;
    ScanDetails* const m_details; // merged into under m_mutex
    const std::uint64_t m_root_dev;
    const std::string m_root_scan;
    std::unordered_set<std::string> m_points;
    std::atomic<int> m_fd_budget;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<ScanNode*> m_queue;
    int m_active = 0;
    bool m_done = false;
};

// Lists one folder; false when cancelled before its listing was complete.
// The walker goes on with `next`, the first subfolder found, itself: no
// hand-over through the queue, and a chain of single folders stays on one
// thread.
bool Pool::process(ScanNode& node, Scratch& s, ScanNode*& next) {
    if (m_progress.is_cancelled()) return false;
    show_current(node, s);

    UniqueFd fd = open_node(node, s);
    struct stat self {};
    if (!fd || ::fstat(fd.get(), &self) != 0 ||
        static_cast<std::uint64_t>(self.st_dev) != node.dev ||
        static_cast<std::uint64_t>(self.st_ino) != node.ino) {
        deny(node);
        report_listing(node, s);
        return true;
    }
    const int dfd = fd.get();

    s.full = node.path;
    if (s.full.back() != '/') s.full += '/';
    const std::size_t base = s.full.size();
    std::int64_t bytes = 0;
    std::int64_t files = 0;
    unsigned since_check = 0;
    bool cut = false;
    // Entries listed but not examined for lack of permission (a folder that
    // can be read but not searched): none examined means contents unknown.
    std::size_t refused = 0;
    std::size_t examined = 0;
    bool failed = false;
    for (;;) {
        const ssize_t got = ::getdents64(dfd, s.list.get(), kListBuffer);
        if (got <= 0) {
            // A read error (a failing disk) leaves the contents unknown:
            // keep what was read, but do not pass the folder off as complete.
            failed = got < 0;
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* e = reinterpret_cast<const dirent64*>(s.list.get() + at);
            at += e->d_reclen;
            if (++since_check == kCancelCheckEvery) {
                since_check = 0;
                if (m_progress.is_cancelled()) {
                    cut = true;
                    break;
                }
            }
            const char* raw = e->d_name;
            if (raw[0] == '.' && (raw[1] == '\0' || (raw[1] == '.' && raw[2] == '\0'))) continue;
            EntryStat st;
            if (!stat_entry(dfd, raw, st)) {
                if (errno == EACCES) ++refused;
                continue; // vanished
            }
            ++examined;
            const std::string_view raw_name(raw);
            if (m_options.entry_sink != nullptr) record(s, raw_name, st);
            const bool valid = su::is_valid_utf8(raw_name);
            s.full.resize(base);
            if (valid)
                s.full.append(raw_name);
            else
                s.full.append(su::sanitize_utf8(raw_name));
            const std::string_view name(s.full.data() + base, s.full.size() - base);
            const bool junk = junk::is_junk(name, s.full, node.junk_state);
            const std::int64_t size = st.size;

            if (S_ISDIR(st.mode)) {
                auto child = std::make_unique<ScanNode>();
                child->parent = &node;
                child->name = name;
                if (!valid) child->raw_name = std::make_unique<std::string>(raw_name);
                child->path = s.full;
                child->modified = st.modified;
                child->created = st.created;
                child->dev = st.dev;
                child->ino = st.ino;
                child->is_junk = junk;
                child->repaired = node.repaired || !valid;
                const bool crossing = st.mount_root_known
                                          ? st.mount_root || st.dev != node.dev
                                          : st.dev != node.dev || is_mount_point(s.full);
                child->mount_above = crossing ? child.get() : node.mount_above;
                bool enter = true;
                if (crossing) enter = may_enter_mount(st.dev, s.full);
                if (enter && is_cycle(node, crossing, st.dev, st.ino)) enter = false;
                if (enter) {
                    child->own_size = size;
                    child->read_only = node.read_only || (crossing && mount_is_read_only(s.full));
                    s.found.push_back(child.get());
                } else {
                    // Removing a mount point would reach into the other file
                    // system, which the user has not seen: refuse it.
                    child->skipped = true;
                    child->read_only = true;
                    m_progress.add_skipped();
                }
                node.subdirs.push_back(std::move(child));
                continue;
            }
            if (size <= 0) continue;
            if (node.arena.size() + name.size() > UINT32_MAX) continue;
            LeafRec rec{};
            rec.size = size;
            rec.modified = st.modified;
            rec.created = st.created;
            rec.name_off = static_cast<std::uint32_t>(node.arena.size());
            rec.name_len = static_cast<std::uint32_t>(name.size());
            rec.link = kNoLink;
            if (st.nlink > 1) {
                rec.link = static_cast<std::uint32_t>(node.links.size());
                node.links.push_back({st.dev, st.ino});
                node.has_links.store(true, std::memory_order_relaxed);
            }
            rec.category = static_cast<std::uint8_t>(category::classify_file(name, st.mode));
            rec.flags =
                static_cast<std::uint8_t>((junk ? kLeafJunk : 0) | (valid ? 0 : kLeafRepaired) |
                                          (S_ISREG(st.mode) ? 0 : kLeafNotRegular));
            node.arena.append(name);
            node.leaves.push_back(rec);
            bytes += size;
            ++files;
        }
        if (cut) break;
    }
    if (failed || (examined == 0 && refused > 0)) deny(node);
    if (files > 0) m_progress.add(bytes, files);
    report_listing(node, s, cut);
    if (cut) {
        s.found.clear(); // they would not be listed now anyway
        return false;
    }
    for (ScanNode* child : s.found) {
        s.full.resize(base);
        s.full.append(child->name);
        s.full += '/';
        child->junk_state = junk::folder_state(s.full, &node.junk_state);
    }
    keep_for_children(node, fd, s.found.size());
    node.pending.fetch_add(s.found.size(), std::memory_order_relaxed);
    if (!s.found.empty()) {
        next = s.found.front();
        s.found.erase(s.found.begin());
    }
    push(s.found);
    return true;
}

FileNodePtr single_leaf(const std::string& root, const std::string& name, bool repaired,
                        const struct stat* st) {
    auto leaf = std::make_shared<FileNode>();
    leaf->id = FileNode::next_id();
    leaf->name = name;
    leaf->path = root;
    leaf->file_count = 1;
    if (st != nullptr) {
        leaf->size = static_cast<std::int64_t>(st->st_blocks) * 512;
        leaf->modified = st->st_mtim.tv_sec;
        leaf->created = st->st_ctim.tv_sec;
    }
    leaf->category = category::from_extension(su::extension_of(name));
    leaf->is_readonly = !is_writable_location(root);
    leaf->path_repaired = repaired;
    leaf->seal();
    return leaf;
}

} // namespace

std::string normalize_root(std::string_view root) {
    std::string out(root);
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    if (out.empty()) out.push_back('/'); // "" is the root
    return out;
}

int worker_count_for(unsigned hardware) {
    const int n = static_cast<int>(std::min(hardware, 1u << 16));
    if (n <= 2) return 2;
    if (n <= 11) return std::max(2, n - 2);
    return n - n / 4;
}

int worker_count() {
    return worker_count_for(std::thread::hardware_concurrency());
}

int total_core_count() {
    return std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
}

FileNodePtr scan(const std::string& root_arg, ScanProgress& progress, Options options,
                 ScanDetails* details) {
    mounts::refresh();
    const std::string raw_root = normalize_root(root_arg);
    const bool repaired = !su::is_valid_utf8(raw_root);
    const std::string root = su::sanitize_utf8(raw_root);
    const std::string name = root == "/" ? "/" : su::basename_of(root);
    const std::string scan_root = to_scan_path(raw_root);

    struct stat st {};
    if (::stat(scan_root.c_str(), &st) != 0) return single_leaf(root, name, repaired, nullptr);
    if (!S_ISDIR(st.st_mode)) return single_leaf(root, name, repaired, &st);

    auto top = std::make_unique<ScanNode>();
    top->name = name;
    top->path = root;
    top->own_size = static_cast<std::int64_t>(st.st_blocks) * 512;
    top->modified = st.st_mtim.tv_sec;
    top->created = st.st_ctim.tv_sec;
    top->dev = static_cast<std::uint64_t>(st.st_dev);
    top->ino = static_cast<std::uint64_t>(st.st_ino);
    top->is_junk = junk::is_junk(name, root);
    top->repaired = repaired;
    top->junk_state = junk::folder_state(root == "/" ? root : root + "/");
    const mounts::Mount* mount = mounts::for_path(root);
    top->read_only = !is_writable_location(root) || (mount != nullptr && mount->read_only);

    {
        Pool pool(progress, options, top->dev, scan_root, details);
        std::vector<ScanNode*> first{top.get()};
        pool.push(first);
        std::vector<std::thread> helpers;
        const int extra =
            std::clamp(options.threads > 0 ? options.threads : worker_count(), 1, kMaxThreads) - 1;
        for (int i = 0; i < extra; ++i) {
            try {
                helpers.emplace_back([&pool] { pool.run(); });
            } catch (const std::system_error&) {
                break; // fewer walkers, same result
            }
        }
        pool.run();
        for (auto& t : helpers)
            t.join();
    }

    Assembler assembler(options.dedupe_hard_links, details);
    return assembler.build(*top);
}

// The same working records and assembly as a walk, fed in document order:
// a folder is complete when it closes, so it is assembled then, exactly as
// complete() does once a walked folder's subtree is listed.
struct TreeBuilder::Impl {
    explicit Impl(bool dedupe_links)
        : dedupe(dedupe_links)
        , assembler(dedupe_links, nullptr) {}
    const bool dedupe;
    Assembler assembler;
    std::unique_ptr<ScanNode> root;
    std::vector<ScanNode*> open;
    FileNodePtr built;
};

TreeBuilder::TreeBuilder(bool dedupe_hard_links)
    : m_impl(std::make_unique<Impl>(dedupe_hard_links)) {}

TreeBuilder::~TreeBuilder() = default;

void TreeBuilder::open_folder(Folder f) {
    auto node = std::make_unique<ScanNode>();
    node->name = std::move(f.name);
    node->path = std::move(f.path);
    node->own_size = f.skipped ? 0 : f.own_size;
    node->modified = f.modified;
    node->is_junk = f.is_junk;
    node->denied = f.denied;
    node->skipped = f.skipped;
    node->read_only = f.read_only;
    node->repaired = f.repaired;
    ScanNode* raw = node.get();
    if (m_impl->open.empty()) {
        if (m_impl->root) return; // one root only
        m_impl->root = std::move(node);
    } else {
        node->parent = m_impl->open.back();
        node->parent->subdirs.push_back(std::move(node));
    }
    m_impl->open.push_back(raw);
}

void TreeBuilder::add_leaf(const Leaf& leaf) {
    if (m_impl->open.empty() || leaf.size <= 0) return;
    ScanNode& n = *m_impl->open.back();
    if (n.arena.size() + leaf.name.size() > UINT32_MAX) return;
    LeafRec rec{};
    rec.size = leaf.size;
    rec.modified = leaf.modified;
    rec.name_off = static_cast<std::uint32_t>(n.arena.size());
    rec.name_len = static_cast<std::uint32_t>(leaf.name.size());
    rec.link = kNoLink;
    if (leaf.linked) {
        rec.link = static_cast<std::uint32_t>(n.links.size());
        n.links.push_back({leaf.dev, leaf.ino});
        n.has_links.store(true, std::memory_order_relaxed);
    }
    rec.category = static_cast<std::uint8_t>(leaf.category);
    rec.flags = static_cast<std::uint8_t>((leaf.is_junk ? kLeafJunk : 0) |
                                          (leaf.repaired ? kLeafRepaired : 0));
    n.arena.append(leaf.name);
    n.leaves.push_back(rec);
}

void TreeBuilder::close_folder() {
    if (m_impl->open.empty()) return;
    ScanNode* n = m_impl->open.back();
    m_impl->open.pop_back();
    if (n->parent == nullptr) {
        m_impl->built = m_impl->assembler.build(*n);
        m_impl->root.reset();
    } else if (m_impl->dedupe && n->has_links.load(std::memory_order_relaxed)) {
        n->parent->has_links.store(true, std::memory_order_relaxed);
    } else {
        n->built = m_impl->assembler.build(*n);
    }
}

std::size_t TreeBuilder::depth() const {
    return m_impl->open.size();
}

FileNodePtr TreeBuilder::finish() {
    return std::move(m_impl->built);
}

} // namespace scanner
