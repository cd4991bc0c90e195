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

const std::unordered_set<std::string_view>& name_set() {
    static const std::unordered_set<std::string_view> set(kNames.begin(), kNames.end());
    return set;
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

bool is_junk(std::string_view name, std::string_view path) {
    if (name_set().count(name) != 0) return true;
    // Every fragment and cache part begins with "/", so one pass over the
    // slashes finds them all. A plain fragment anywhere decides at once. An
    // application-folder fragment counts when a cache part starts at or after
    // the end of its first occurrence; across both such fragments that is: the
    // last cache part starts at or after the earliest fragment end.
    constexpr auto npos = std::string_view::npos;
    const auto& candidates = candidates_by_second_char();
    std::size_t app_end = npos;
    std::size_t last_cache = npos;
    for (std::size_t i = path.find('/'); i != npos; i = path.find('/', i + 1)) {
        if (i + 1 >= path.size()) break; // only the appended "/" follows; no pattern fits
        for (std::uint32_t bits = candidates[static_cast<unsigned char>(path[i + 1])]; bits != 0;
             bits &= bits - 1) {
            const auto k = static_cast<std::size_t>(std::countr_zero(bits));
            if (k >= kFragments.size()) {
                if (occurs_at(path, i, kCacheParts[k - kFragments.size()])) last_cache = i;
                continue;
            }
            const Fragment& f = kFragments[k];
            if (!occurs_at(path, i, f.text)) continue;
            if (!f.needs_cache_suffix) return true;
            app_end = std::min(app_end, i + f.text.size());
        }
    }
    return app_end != npos && last_cache != npos && last_cache >= app_end;
}

} // namespace junk
