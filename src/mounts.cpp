#include "mounts.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

#include "paths.h"
#include "strutil.h"
#include "unique_fd.h"

namespace mounts {

namespace {

constexpr std::string_view kPseudo[] = {
    "proc",       "sysfs",     "devtmpfs",  "devpts",   "cgroup",      "cgroup2",
    "pstore",     "bpf",       "tracefs",   "debugfs",  "securityfs",  "configfs",
    "fusectl",    "hugetlbfs", "mqueue",    "efivarfs", "binfmt_misc", "autofs",
    "rpc_pipefs", "nsfs",      "selinuxfs", "ramfs",    "swap",
};
constexpr std::string_view kRisky[] = {
    "nfs",       "nfs4", "cifs",  "smb3",  "smbfs", "afs",       "ceph",
    "glusterfs", "9p",   "sshfs", "davfs", "ftpfs", "curlftpfs",
};
constexpr std::string_view kImage[] = {"squashfs", "erofs", "iso9660"};
constexpr std::string_view kNoise[] = {"/run",  "/usr", "/etc",  "/dev",
                                       "/proc", "/sys", "/boot", "/var"};

using TypeSet = std::unordered_set<std::string_view>;

const TypeSet& pseudo_set() {
    static const TypeSet s(std::begin(kPseudo), std::end(kPseudo));
    return s;
}

const TypeSet& risky_set() {
    static const TypeSet s(std::begin(kRisky), std::end(kRisky));
    return s;
}

// Equal to `prefix` or below it.
bool at_or_below(std::string_view path, std::string_view prefix) {
    return path == prefix || (su::starts_with(path, prefix) && path.size() > prefix.size() &&
                              path[prefix.size()] == '/');
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// Live table: snapshots are kept forever so pointers into them never dangle.
class LiveTable {
public:
    static LiveTable& instance() {
        static LiveTable t;
        return t;
    }

    const Table& current() const { return *m_current.load(std::memory_order_acquire); }

    bool refresh() {
        std::lock_guard lock(m_mutex);
        // The descriptor shows the namespace it was opened in: a process that
        // moved to another mount namespace (unshare) must open it afresh.
        if (const auto ns = namespace_id(); ns != m_namespace) {
            m_fd.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
            m_namespace = ns;
            publish(m_fd ? read_all() : std::string());
            return true;
        }
        if (!m_fd) return false;
        pollfd p{m_fd.get(), POLLPRI, 0};
        int r;
        do {
            r = ::poll(&p, 1, 0);
        } while (r < 0 && errno == EINTR);
        if (r <= 0 || (p.revents & (POLLPRI | POLLERR)) == 0) return false;
        publish(read_all());
        return true;
    }

private:
    LiveTable()
        : m_namespace(namespace_id()) {
        m_fd.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
        publish(m_fd ? read_all() : std::string());
    }

    using NamespaceId = std::pair<dev_t, ino_t>;

    static NamespaceId namespace_id() {
        struct stat st {};
        if (::stat("/proc/self/ns/mnt", &st) != 0) return {0, 0};
        return {st.st_dev, st.st_ino};
    }

    std::string read_all() const {
        std::string text;
        char buf[16384];
        off_t offset = 0;
        for (;;) {
            const ssize_t n = ::pread(m_fd.get(), buf, sizeof buf, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
            offset += n;
        }
        return text;
    }

    void publish(const std::string& text) {
        m_versions.push_back(std::make_unique<const Table>(parse_mountinfo(text)));
        m_current.store(m_versions.back().get(), std::memory_order_release);
    }

    std::mutex m_mutex;
    UniqueFd m_fd; // kept open: the kernel flags changes on it
    NamespaceId m_namespace;
    std::list<std::unique_ptr<const Table>> m_versions;
    std::atomic<const Table*> m_current{nullptr};
};

} // namespace

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && is_octal(text[i + 1]) &&
            is_octal(text[i + 2]) && is_octal(text[i + 3])) {
            const int value =
                (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            out.push_back(static_cast<char>(value & 0xFF));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

Table parse_mountinfo(std::string_view text) {
    Table table;
    std::vector<std::string_view> tokens;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);

        tokens.clear();
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
                ++i;
            const std::size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                ++i;
            if (i > start) tokens.push_back(line.substr(start, i - start));
        }
        std::size_t dash = 0;
        while (dash < tokens.size() && tokens[dash] != "-")
            ++dash;
        if (dash == tokens.size() || dash < 6) continue;
        if (tokens.size() - dash - 1 < 2) continue;
        Mount m;
        m.point = unescape(tokens[4]);
        m.fs_type = std::string(tokens[dash + 1]);
        m.source = unescape(tokens[dash + 2]);
        m.read_only = tokens[5] == "ro" || su::starts_with(tokens[5], "ro,");
        table.push_back(std::move(m));
    }
    return table;
}

const Mount* lookup(const Table& table, std::string_view path) {
    const Mount* best = nullptr;
    for (const auto& m : table) {
        const bool matches = m.point == "/" || m.point == path ||
                             (su::starts_with(path, m.point) && path.size() > m.point.size() &&
                              path[m.point.size()] == '/');
        if (matches && (best == nullptr || m.point.size() >= best->point.size())) best = &m;
    }
    return best;
}

const Mount* for_path_in(const Table& table, std::string_view path) {
    const auto specific = [](const Mount* m) { return m && to_display_path(m->point) != "/"; };
    if (const Mount* m = lookup(table, path); specific(m)) return m;
    for (const std::string& spelling : {to_scan_path(path), to_display_path(path)}) {
        if (spelling == path) continue;
        if (const Mount* m = lookup(table, spelling); specific(m)) return m;
    }
    return lookup(table, path);
}

std::vector<Mount> scannable_roots_of(const Table& table) {
    std::vector<Mount> out;
    std::unordered_set<std::string> points;
    std::unordered_set<std::string> sources;
    for (const auto& m : table) {
        if (is_pseudo_fs(m.fs_type) || m.fs_type == "tmpfs" || at_or_below(m.point, "/snap") ||
            m.fs_type == "squashfs" || at_or_below(m.point, "/var/lib/snapd") ||
            at_or_below(m.point, "/var/snap"))
            continue;
        bool noise = false;
        for (const auto prefix : kNoise)
            noise = noise || at_or_below(m.point, prefix);
        if (noise && !at_or_below(m.point, "/run/media")) continue;
        if (!points.insert(m.point).second) continue;
        if (su::starts_with(m.source, "/dev/") && !sources.insert(m.source).second) continue;
        out.push_back(m);
    }
    return out;
}

const Table& all() {
    return LiveTable::instance().current();
}

bool refresh() {
    return LiveTable::instance().refresh();
}

const Mount* for_path(std::string_view path) {
    return for_path_in(all(), path);
}

bool is_pseudo_fs(std::string_view type) {
    return pseudo_set().count(type) != 0;
}

bool is_risky_fs(std::string_view type) {
    return risky_set().count(type) != 0 || su::starts_with(type, "fuse");
}

bool is_image_fs(std::string_view type) {
    for (const auto t : kImage)
        if (type == t) return true;
    return false;
}

std::vector<Mount> scannable_roots() {
    return scannable_roots_of(all());
}

} // namespace mounts
