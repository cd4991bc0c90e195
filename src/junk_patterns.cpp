#include "junk_patterns.h"

#include <algorithm>
#include <array>
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

} // namespace

bool is_junk(std::string_view name, std::string_view path) {
    if (name_set().count(name) != 0) return true;
    // Every fragment and cache part begins with "/", so one pass over the
    // slashes finds them all. A plain fragment anywhere decides at once. An
    // application-folder fragment counts when a cache part starts at or after
    // the end of its first occurrence; across both such fragments that is: the
    // last cache part starts at or after the earliest fragment end.
    constexpr auto npos = std::string_view::npos;
    std::size_t app_end = npos;
    std::size_t last_cache = npos;
    for (std::size_t i = path.find('/'); i != npos; i = path.find('/', i + 1)) {
        if (i + 1 >= path.size()) break; // only the appended "/" follows; no pattern fits
        const char next = path[i + 1];
        for (const auto& f : kFragments) {
            if (f.text[1] != next || !occurs_at(path, i, f.text)) continue;
            if (!f.needs_cache_suffix) return true;
            if (app_end == npos) app_end = i + f.text.size();
        }
        for (const auto part : kCacheParts)
            if (part[1] == next && occurs_at(path, i, part)) last_cache = i;
    }
    return app_end != npos && last_cache != npos && last_cache >= app_end;
}

} // namespace junk
