#include "tree_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"
#include "utf8.h"

namespace tree_export {

namespace {

// Flushes in large blocks: a whole-disk export has millions of entries.
class Sink {
public:
    explicit Sink(std::FILE* out)
        : m_out(out) {
        m_buf.reserve(kBlock + 4096);
    }
    std::string& buf() { return m_buf; }
    void maybe_flush() {
        if (m_buf.size() >= kBlock) flush();
    }
    bool flush() {
        if (!m_buf.empty() && std::fwrite(m_buf.data(), 1, m_buf.size(), m_out) != m_buf.size())
            m_ok = false;
        m_buf.clear();
        return m_ok;
    }
    bool finish() { return flush() && std::fflush(m_out) == 0 && m_ok; }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    std::FILE* m_out;
    std::string m_buf;
    bool m_ok = true;
};

void append_number(std::string& out, const char* key, std::int64_t value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

void append_unsigned(std::string& out, const char* key, std::uint64_t value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

// The info object of one entry; `parent_dev` is the device readers assume
// when "dev" is absent. `listed` is false for a folder that was not entered.
void append_info(std::string& out, std::string_view name, const Recorder::Entry& e,
                 std::uint64_t parent_dev, bool is_root, bool listed, bool read_error) {
    const bool dir = S_ISDIR(e.mode);
    out += "{\"name\":";
    append_json_string(out, name);
    if (dir && !listed) {
        // Another file system the walk did not enter: its sizes are unknown.
        out += ",\"excluded\":\"otherfs\"";
        append_number(out, "mtime", e.mtime);
        out += '}';
        return;
    }
    append_number(out, "asize", std::max<std::int64_t>(0, e.apparent_size));
    append_number(out, "dsize", std::max<std::int64_t>(0, e.blocks) * 512);
    if (is_root || e.dev != parent_dev) append_unsigned(out, "dev", e.dev);
    if (!dir && e.nlink > 1) {
        append_unsigned(out, "ino", e.ino);
        out += ",\"hlnkc\":true";
        append_unsigned(out, "nlink", e.nlink);
    }
    if (!dir && !S_ISREG(e.mode)) out += ",\"notreg\":true";
    if (read_error) out += ",\"read_error\":true";
    append_unsigned(out, "mode", e.mode);
    append_number(out, "mtime", e.mtime);
    out += '}';
}

Recorder::Entry entry_of(const struct stat& st) {
    Recorder::Entry e;
    e.mode = static_cast<std::uint32_t>(st.st_mode);
    e.dev = static_cast<std::uint64_t>(st.st_dev);
    e.ino = static_cast<std::uint64_t>(st.st_ino);
    e.nlink = static_cast<std::uint64_t>(st.st_nlink);
    e.apparent_size = static_cast<std::int64_t>(st.st_size);
    e.blocks = static_cast<std::int64_t>(st.st_blocks);
    e.mtime = st.st_mtim.tv_sec;
    return e;
}

} // namespace

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string repaired;
    if (!utf8::is_strict(text)) {
        repaired = utf8::repair(text);
        text = repaired;
    }
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

std::string json_string(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

void Recorder::folder_listed(std::uint64_t dev, std::uint64_t ino,
                             std::span<const scanner::ListedEntry> entries, bool read_error) {
    Listing listing;
    listing.read_error = read_error;
    listing.entries.reserve(entries.size());
    for (const auto& in : entries) {
        if (listing.names.size() + in.name.size() > UINT32_MAX) {
            listing.read_error = true; // cannot be kept whole
            break;
        }
        Entry e;
        e.name_off = static_cast<std::uint32_t>(listing.names.size());
        e.name_len = static_cast<std::uint32_t>(in.name.size());
        e.mode = in.mode;
        e.dev = in.dev;
        e.ino = in.ino;
        e.nlink = in.nlink;
        e.apparent_size = in.apparent_size;
        e.blocks = in.blocks;
        e.mtime = in.mtime;
        listing.names.append(in.name);
        listing.entries.push_back(e);
    }
    std::lock_guard lock(m_mutex);
    m_folders[Key{dev, ino}].listings.push_back(std::move(listing));
}

const Recorder::Listing* Recorder::take(std::uint64_t dev, std::uint64_t ino) {
    const auto it = m_folders.find(Key{dev, ino});
    if (it == m_folders.end() || it->second.taken == it->second.listings.size()) return nullptr;
    return &it->second.listings[it->second.taken++];
}

bool write_export(std::FILE* out, const std::string& root, Recorder& recorded,
                  std::int64_t timestamp) {
    Sink sink(out);
    std::string& buf = sink.buf();
    buf += "[1,2,{\"progname\":";
    append_json_string(buf, kProgramName);
    buf += ",\"progver\":";
    append_json_string(buf, kProgramVersion);
    buf += ",\"timestamp\":" + std::to_string(timestamp) + "},\n";

    const std::string root_path = scanner::normalize_root(root);
    struct stat st {};
    if (::stat(to_scan_path(root_path).c_str(), &st) != 0) return false;
    const Recorder::Entry root_entry = entry_of(st);
    const Recorder::Listing* root_listing =
        S_ISDIR(st.st_mode) ? recorded.take(root_entry.dev, root_entry.ino) : nullptr;
    if (root_listing == nullptr) {
        // A file, or a folder the walk could not open: one item.
        append_info(buf, root_path, root_entry, root_entry.dev, true, true, S_ISDIR(st.st_mode));
        buf += "]\n";
        return sink.finish();
    }

    struct Frame {
        const Recorder::Listing* listing;
        std::size_t next;
        std::uint64_t dev;
    };
    std::vector<Frame> stack;
    buf += '[';
    append_info(buf, root_path, root_entry, root_entry.dev, true, true, root_listing->read_error);
    stack.push_back({root_listing, 0, root_entry.dev});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.listing->entries.size()) {
            buf += ']';
            stack.pop_back();
            continue;
        }
        const Recorder::Entry& e = top.listing->entries[top.next++];
        const std::string_view name(top.listing->names.data() + e.name_off, e.name_len);
        const std::uint64_t parent_dev = top.dev;
        buf += ",\n";
        const Recorder::Listing* sub = S_ISDIR(e.mode) ? recorded.take(e.dev, e.ino) : nullptr;
        if (sub != nullptr) {
            buf += '[';
            append_info(buf, name, e, parent_dev, false, true, sub->read_error);
            stack.push_back({sub, 0, e.dev}); // invalidates `top`
        } else {
            append_info(buf, name, e, parent_dev, false, false, false);
        }
        sink.maybe_flush();
    }
    buf += "]\n";
    return sink.finish();
}

std::string save_export(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return "cannot write " + path + ": " + std::strerror(errno);
    // mkostemp creates 0600; give the file the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(::fdopen(fd, "w"));
    if (!file) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return "cannot write " + path + ": " + std::strerror(err);
    }
    errno = 0;
    bool ok = write(file.get()) && std::fflush(file.get()) == 0;
    int err = errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (std::fclose(file.release()) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return "cannot write " + path + ": " + std::strerror(err != 0 ? err : EIO) +
               " (an existing file was left as it was)";
    }
    return {};
}

} // namespace tree_export
