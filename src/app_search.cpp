// Search by name below the shown folder: the bounded walk, the hit list, the
// folders opened on the way to each hit, the pulse of a single hit and
// "Next".
#include "app.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr int kMaxDepth = 5;
constexpr std::size_t kMaxHits = 500;
constexpr guint kPulseMs = 40;

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string casefold(std::string_view s) {
    g_autofree gchar* folded = g_utf8_casefold(s.data(), static_cast<gssize>(s.size()));
    return folded ? std::string(folded) : std::string(s);
}

// Case-insensitive substring test by Unicode case folding. Names are first
// scanned in place as ASCII, whose fold is its lower case: a match there is
// a match in the folded name. Only names with other characters (which may
// fold to ASCII: the Kelvin sign, the long s) and no match in place are
// folded, so the common plain name costs one pass and no allocation.
class Matcher {
public:
    explicit Matcher(std::string folded_query)
        : m_query(std::move(folded_query))
        , m_ascii(is_ascii(m_query)) {}

    bool operator()(std::string_view name) const {
        const std::size_t m = m_query.size();
        if (m == 0) return false;
        if (m_ascii) {
            const char* s = name.data();
            const std::size_t n = name.size();
            const char first = m_query[0];
            bool plain = true;
            for (std::size_t i = 0; i < n; ++i) {
                const char c = s[i];
                if (static_cast<unsigned char>(c) & 0x80) {
                    plain = false;
                    break;
                }
                if (lower(c) != first || n - i < m) continue;
                std::size_t k = 1;
                while (k < m && lower(s[i + k]) == m_query[k])
                    ++k;
                if (k == m) return true;
            }
            if (plain) return false;
        } else if (is_ascii(name)) {
            return false; // the fold of a plain name has no other characters
        }
        return casefold(name).find(m_query) != std::string::npos;
    }

private:
    std::string m_query;
    bool m_ascii;
};

// Depth-first, a folder before its contents, largest first. `trail` holds
// the folders from the shown one down to `folder`; each hit keeps a copy,
// so the tree view can open the way to it without searching again.
struct Walk {
    const Matcher& match;
    std::vector<FileNodePtr>& hits;
    std::vector<std::vector<std::uint64_t>>& trails;
    std::vector<std::uint64_t> trail;
    bool truncated = false;

    void collect(const FileNode& folder, int depth) {
        if (folder.children.empty() || depth == kMaxDepth) return;
        trail.push_back(folder.id);
        for (const FileNodePtr& child : folder.children) {
            if (match(child->name)) {
                hits.push_back(child);
                trails.push_back(trail);
            }
            if (hits.size() > kMaxHits) {
                truncated = true;
                break;
            }
            if (!child->children.empty()) collect(*child, depth + 1);
            if (truncated) break;
        }
        trail.pop_back();
    }
};

gboolean on_pulse(gpointer data) {
    auto* app = static_cast<App*>(data);
    if (app->m_search_hits.size() != 1) {
        app->m_search_pulse_source = 0;
        return G_SOURCE_REMOVE;
    }
    app->request_repaint();
    return G_SOURCE_CONTINUE;
}

} // namespace

bool App::matches_search(const FileNodePtr& node) const {
    if (!node || m_search_query.empty()) return false;
    return Matcher(casefold(m_search_query))(node->name);
}

void App::open_search() {
    m_search_open = true;
    update_search();
    request_repaint();
}

void App::update_search() {
    const FileNodePtr shown = current();
    const std::string folded = m_search_query.empty() ? std::string() : casefold(m_search_query);
    m_search_index = 0;
    if (!shown || folded.empty()) {
        m_search_hits.clear();
        m_search_trails.clear();
        m_search_complete = false;
    } else if (m_search_complete && m_search_folder.lock() == shown && !m_search_folded.empty() &&
               folded.find(m_search_folded) != std::string::npos) {
        // Typing on: the new hits are those old hits that still match, in
        // the same order, as the last walk saw everything in range.
        const Matcher match(folded);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_search_hits.size(); ++i) {
            if (!match(m_search_hits[i]->name)) continue;
            m_search_hits[kept] = std::move(m_search_hits[i]);
            m_search_trails[kept] = std::move(m_search_trails[i]);
            ++kept;
        }
        m_search_hits.resize(kept);
        m_search_trails.resize(kept);
    } else {
        m_search_hits.clear();
        m_search_trails.clear();
        const Matcher match(folded);
        Walk walk{match, m_search_hits, m_search_trails, {}, false};
        walk.collect(*shown, 0);
        m_search_complete = !walk.truncated;
    }
    m_search_folded = folded;
    m_search_folder = shown;

    if (m_search_hits.size() == 1 && m_search_pulse_source == 0) {
        m_search_pulse_start = m_fx.monotonic_us();
        m_search_pulse_source = g_timeout_add(kPulseMs, on_pulse, this);
    } else if (m_search_hits.size() != 1 && m_search_pulse_source != 0) {
        g_source_remove(m_search_pulse_source);
        m_search_pulse_source = 0;
    }

    // Open the way to every hit in the tree view; these folders stay open
    // after the search is closed.
    if (m_view_mode == ViewMode::Tree && shown)
        for (const std::vector<std::uint64_t>& trail : m_search_trails)
            m_expanded.insert(trail.begin(), trail.end());

    discard_treemap_cache();
    request_repaint();
}

void App::close_search() {
    m_search_open = false;
    m_search_query.clear();
    m_search_hits.clear();
    m_search_trails.clear();
    m_search_folded.clear();
    m_search_complete = false;
    m_search_index = 0;
    if (m_search_pulse_source != 0) {
        g_source_remove(m_search_pulse_source);
        m_search_pulse_source = 0;
    }
    discard_treemap_cache();
    request_repaint();
}

void App::search_jump_next() {
    if (m_search_hits.empty()) return;
    m_search_index = (m_search_index + 1) % m_search_hits.size();
    m_selected = m_search_hits[m_search_index];
    request_repaint();
}
