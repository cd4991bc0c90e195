// The mountinfo parser on arbitrary text: no crash, and every row is made of
// the input's own tokens.

#include <unordered_set>

#include "fuzz_check.h"
#include "mounts.h"

namespace {

// Escapes every byte the kernel would escape, so unescape must undo it.
std::string escape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\' || b >= 0x80) {
            out.push_back('\\');
            out.push_back(static_cast<char>('0' + ((b >> 6) & 7)));
            out.push_back(static_cast<char>('0' + ((b >> 3) & 7)));
            out.push_back(static_cast<char>('0' + (b & 7)));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void check_text(std::string_view text) {
    const mounts::Table table = mounts::parse_mountinfo(text);

    std::size_t lines = 1;
    for (const char c : text)
        lines += c == '\n';
    require(table.size() <= lines, "at most one row per line");

    for (const auto& m : table) {
        require(!m.fs_type.empty() && text.find(m.fs_type) != std::string_view::npos,
                "the type is a token of the input");
        require(m.fs_type.find_first_of(" \t\n\r") == std::string::npos, "the type is one token");
        require(!m.point.empty() && !m.source.empty(), "point and source are tokens");
        require(m.point.size() <= text.size() && m.source.size() <= text.size(),
                "decoding never grows");
        require(mounts::unescape(escape(m.point)) == m.point, "escaping round-trips");
        const mounts::Mount* found = mounts::lookup(table, m.point);
        require(found != nullptr && found->point.size() >= m.point.size(),
                "a row's own point finds a row at least as specific");
        (void)mounts::for_path_in(table, m.point + "/x");
    }

    const auto roots = mounts::scannable_roots_of(table);
    require(roots.size() <= table.size(), "roots are a subset");
    std::unordered_set<std::string> points;
    for (const auto& r : roots) {
        require(points.insert(r.point).second, "each root point is offered once");
        require(!mounts::is_pseudo_fs(r.fs_type) && r.fs_type != "tmpfs",
                "no pseudo or tmpfs root");
    }
    require(mounts::unescape(escape(text)) == text, "escaping any text round-trips");
}

// Raw bytes rarely form a valid line: also wrap each input line into the
// shape of one, so the row builder and the decoder see the fuzzer's bytes.
std::string shaped(std::string_view text) {
    std::string out;
    while (true) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        out.append("36 35 98:0 / ").append(line).append(" rw,noatime - ");
        out.append(line).append(" ").append(line).append(" rw\n");
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_text(text);
    check_text(shaped(text));
    return 0;
}
