#include "junk_patterns.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <unordered_set>

namespace junk {

namespace {

constexpr std::array<std::string_view, 36> kNames = {
    "node_modules",  "__pycache__", ".pytest_cache", ".mypy_cache",  ".ruff_cache", ".tox",
    ".nox",          ".gradle",     ".ccache",       ".sccache",     ".next",       ".nuxt",
    ".parcel-cache", ".turbo",      ".angular",      ".venv",        "venv",        "target",
    "vendor",        "dist",        "build",         ".build",       ".cache",      "cache",
    "caches",        "Cache",       "Caches",        "CacheStorage", "_cacache",    "thumbnails",
    "tmp",           ".tmp",        "temp",          ".Trash",       "Trash",       "crashdumps",
};

static_assert([] {
    for (const std::string_view n : kNames)
        if (n.empty() || n.size() >= 16) return false;
    return true;
}());

struct Fragment {
    std::string_view text;
    bool needs_cache_suffix; // application folders count only in their caches
};

constexpr std::array<Fragment, 20> kFragments = {{
    {"/.cache/", false},
    {"/.var/app/", true},
    {"/snap/", true},
    {"/var/cache/apt/archives/", false},
    {"/var/cache/pacman/pkg/", false},
    {"/var/cache/dnf/", false},
    {"/var/cache/yum/", false},
    {"/var/cache/zypp/", false},
    {"/var/cache/fontconfig/", false},
    {"/.npm/_cacache/", false},
    {"/.cargo/registry/cache/", false},
    {"/.gradle/caches/", false},
    {"/.m2/repository/", false},
    {"/.nuget/packages/", false},
    {"/.pub-cache/", false},
    {"/go/pkg/mod/cache/", false},
    {"/var/lib/systemd/coredump/", false},
    {"/var/tmp/", false},
    {"/.local/share/Trash/", false},
    {"/.Trash-", false},
}};

constexpr std::array<std::string_view, 3> kCacheParts = {"/cache/", "/.cache/", "/Cache/"};

// Names are checked for every entry of a scan: most are ruled out by their
// length and first byte before any hashing.
bool is_listed_name(std::string_view name) {
    static const std::array<std::uint16_t, 256> lengths = [] {
        std::array<std::uint16_t, 256> t{};
        for (const std::string_view n : kNames)
            t[static_cast<unsigned char>(n[0])] |= static_cast<std::uint16_t>(1u << n.size());
        return t;
    }();
    static const std::unordered_set<std::string_view> set(kNames.begin(), kNames.end());
    if (name.empty() || name.size() >= 16) return false;
    if (((lengths[static_cast<unsigned char>(name[0])] >> name.size()) & 1u) == 0) return false;
    return set.count(name) != 0;
}

// True when `needle` occurs at `pos` of `path` followed by "/": wholly inside
// `path`, or ending on the appended slash.
bool occurs_at(std::string_view path, std::size_t pos, std::string_view needle) {
    if (pos + needle.size() <= path.size()) return path.compare(pos, needle.size(), needle) == 0;
    if (pos + needle.size() == path.size() + 1 && needle.back() == '/')
        return path.compare(pos, std::string_view::npos, needle.substr(0, needle.size() - 1)) == 0;
    return false;
}

// For each byte, the fragments (bits 0-19) and cache parts (bits 20-22) whose
// second character it is: after a slash, only those can start there, and most
// path components start with none of them.
const std::array<std::uint32_t, 256>& candidates_by_second_char() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::size_t k = 0; k < kFragments.size(); ++k)
            t[static_cast<unsigned char>(kFragments[k].text[1])] |= 1u << k;
        for (std::size_t k = 0; k < kCacheParts.size(); ++k)
            t[static_cast<unsigned char>(kCacheParts[k][1])] |= 1u << (kFragments.size() + k);
        return t;
    }();
    return table;
}

} // namespace

namespace {

constexpr std::size_t kLongestPattern = [] {
    std::size_t n = 0;
    for (const Fragment& f : kFragments)
        n = std::max(n, f.text.size());
    for (const std::string_view c : kCacheParts)
        n = std::max(n, c.size());
    return n;
}();

// Feeds the slashes of `path` at positions [from, until) into `state`;
// false once a plain fragment decides that the path is junk.
bool scan_slashes(std::string_view path, std::size_t from, std::size_t until, PathState& state) {
    constexpr auto npos = std::string_view::npos;
    const auto& candidates = candidates_by_second_char();
    for (std::size_t i = path.find('/', from); i != npos && i < until; i = path.find('/', i + 1)) {
        if (i + 1 >= path.size()) break; // only the appended "/" follows; no pattern fits
        for (std::uint32_t bits = candidates[static_cast<unsigned char>(path[i + 1])]; bits != 0;
             bits &= bits - 1) {
            const auto k = static_cast<std::size_t>(std::countr_zero(bits));
            if (k >= kFragments.size()) {
                if (occurs_at(path, i, kCacheParts[k - kFragments.size()])) state.last_cache = i;
                continue;
            }
            const Fragment& f = kFragments[k];
            if (!occurs_at(path, i, f.text)) continue;
            if (!f.needs_cache_suffix) return false;
            state.app_end = std::min(state.app_end, i + f.text.size());
        }
    }
    return true;
}

bool decide(const PathState& s) {
    return s.app_end != PathState::npos && s.last_cache != PathState::npos &&
           s.last_cache >= s.app_end;
}

} // namespace

bool is_junk(std::string_view name, std::string_view path) {
    if (is_listed_name(name)) return true;
    // Every fragment and cache part begins with "/", so one pass over the
    // slashes finds them all. A plain fragment anywhere decides at once. An
    // application-folder fragment counts when a cache part starts at or after
    // the end of its first occurrence; across both such fragments that is: the
    // last cache part starts at or after the earliest fragment end.
    PathState state;
    if (!scan_slashes(path, 0, path.size(), state)) return true;
    return decide(state);
}

PathState folder_state(std::string_view prefix, const PathState* parent) {
    PathState state;
    if (parent != nullptr) state = *parent;
    if (state.plain) return state;
    // A slash this far from the end matches the same way whatever name follows.
    const std::size_t settled =
        prefix.size() + 1 > kLongestPattern ? prefix.size() + 1 - kLongestPattern : 0;
    if (settled > state.resume) {
        if (!scan_slashes(prefix, state.resume, settled, state)) state.plain = true;
        state.resume = settled;
    }
    return state;
}

bool is_junk(std::string_view name, std::string_view path, const PathState& folder) {
    if (folder.plain || is_listed_name(name)) return true;
    PathState state = folder;
    if (!scan_slashes(path, folder.resume, path.size(), state)) return true;
    return decide(state);
}

} // namespace junk
