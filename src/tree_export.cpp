#include "tree_export.h"

#include <vector>

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

bool is_folder_array(const FileNode& n) {
    return n.is_directory && !n.is_aggregate && !n.is_timeout;
}

void append_info(std::string& out, const FileNode& n, bool is_root,
                 const scanner::ScanDetails* details) {
    out += "{\"name\":";
    append_json_string(out, is_root ? n.path : n.name);
    // A folder's entry holds only its own blocks; readers add up the rest.
    std::int64_t own = n.size;
    if (n.is_directory)
        for (const auto& c : n.children)
            own -= c->size;
    const std::string size = std::to_string(own);
    out += ",\"asize\":";
    out += size;
    out += ",\"dsize\":";
    out += size;
    if (details != nullptr && !n.is_directory) {
        const auto it = details->leaves.find(n.id);
        if (it != details->leaves.end()) {
            if (it->second.multiply_linked) {
                out += ",\"dev\":" + std::to_string(it->second.dev);
                out += ",\"ino\":" + std::to_string(it->second.ino);
                out += ",\"hlnkc\":true";
            }
            if (it->second.not_regular) out += ",\"notreg\":true";
        }
    }
    if (n.is_timeout)
        out += ",\"excluded\":\"otherfs\"";
    else if (n.is_directory && n.is_denied)
        out += ",\"read_error\":true";
    out += ",\"mtime\":";
    out += std::to_string(n.modified);
    out += '}';
}

// Length of the well-formed UTF-8 sequence at `at`, or 0. Stricter than the
// structural check names pass: JSON readers refuse surrogates, overlong forms
// and values above U+10FFFF, which that check lets through.
std::size_t strict_utf8_length(std::string_view s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    if (c < 0x80) return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - at < len) return 0;
    if (byte(at + 1) < lo || byte(at + 1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return len;
}

// `text` with every byte that starts no well-formed sequence as U+FFFD.
std::string strict_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = strict_utf8_length(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

bool is_strict_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = strict_utf8_length(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

} // namespace

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string repaired;
    if (!is_strict_utf8(text)) {
        repaired = strict_utf8(text);
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

bool write_export(std::FILE* out, const FileNode& root, const scanner::ScanDetails* details,
                  std::int64_t timestamp) {
    Sink sink(out);
    std::string& buf = sink.buf();
    buf += "[1,2,{\"progname\":";
    append_json_string(buf, kProgramName);
    buf += ",\"progver\":";
    append_json_string(buf, kProgramVersion);
    buf += ",\"timestamp\":" + std::to_string(timestamp) + "},\n";

    if (!is_folder_array(root)) {
        append_info(buf, root, true, details);
        buf += "]\n";
        return sink.finish();
    }
    struct Frame {
        const FileNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack;
    buf += '[';
    append_info(buf, root, true, details);
    stack.push_back({&root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->children.size()) {
            buf += ']';
            stack.pop_back();
            continue;
        }
        const FileNode& child = *top.node->children[top.next++];
        buf += ",\n";
        if (is_folder_array(child)) {
            buf += '[';
            append_info(buf, child, false, details);
            stack.push_back({&child, 0});
        } else {
            append_info(buf, child, false, details);
        }
        sink.maybe_flush();
    }
    buf += "]\n";
    return sink.finish();
}

} // namespace tree_export
