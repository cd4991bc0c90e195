// The map view: the squarified layout of the shown folder, its tiles painted
// once into a cached picture, and the live marks drawn on top every frame
// (search hits, selection, hover, delete-list items, the tooltip).
#include "app.h"

#include <cmath>
#include <unordered_set>

#include "format.h"
#include "i18n.h"
#include "paths.h"

namespace {

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

bool moved(const RectF& a, const RectF& b) {
    return std::fabs(a.x - b.x) > 0.5f || std::fabs(a.y - b.y) > 0.5f ||
           std::fabs(a.w - b.w) > 0.5f || std::fabs(a.h - b.h) > 0.5f;
}

double luminance(const Rgb& c) {
    return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
}

} // namespace

void App::layout_tiles() {
    // Rows of a replaced tree are dropped here, whatever the view, so they
    // never keep an old tree alive next to a new one.
    if (m_tree_rows_key.built && m_tree_rows_key.root.lock() != m_root) {
        m_tree_rows.clear();
        m_tree_rows.shrink_to_fit();
        m_tree_rows_key = {};
    }
    const RectF area = m_r_content;
    const FileNodePtr cur = current();
    if (!cur) {
        m_tiles.clear();
        m_tiles_node_id = 0;
        discard_treemap_cache();
        return;
    }
    if (m_view_mode != ViewMode::Map) return;
    if (moved(area, m_tiles_rect) || m_tiles_node_id != cur->id) {
        m_tiles = treemap::layout(cur->sorted_children(), area.inset(3.0f), [](std::uint64_t n) {
            return I18n::instance().trf("%s more items",
                                        fmt::count(static_cast<std::int64_t>(n)).c_str());
        });
        m_tiles_rect = area;
        m_tiles_node_id = cur->id;
        discard_treemap_cache();
    }
    m_content_height = area.h;
}

void App::draw_treemap_into_cache() {
    discard_treemap_cache();
    const RectF r = m_tiles_rect;
    if (r.w < 1.0f || r.h < 1.0f || !m_cr) return;
    CairoSurfacePtr surface(cairo_surface_create_similar(
        cairo_get_target(m_cr), CAIRO_CONTENT_COLOR_ALPHA, static_cast<int>(std::ceil(r.w)),
        static_cast<int>(std::ceil(r.h))));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    CairoPtr cr(cairo_create(surface.get()));
    cairo_translate(cr.get(), -r.x, -r.y); // tiles keep their window coordinates
    cairo_t* frame = m_cr;
    m_cr = cr.get();
    std::int64_t max_size = 0;
    for (const TreemapTile& t : m_tiles)
        if (t.node) max_size = std::max(max_size, t.node->size);
    for (const TreemapTile& t : m_tiles)
        draw_tile(t, max_size);
    m_cr = frame;
    cr.reset();
    cairo_surface_flush(surface.get());
    m_treemap_cache = std::move(surface);
    m_treemap_dirty = false;
}

void App::draw_tile(const TreemapTile& tile, std::int64_t max_size) {
    if (!tile.node || tile.rect.w < 2.0f || tile.rect.h < 2.0f) return;
    const FileNode& n = *tile.node;
    const double prominence =
        max_size > 0 ? static_cast<double>(n.size) / static_cast<double>(max_size) : 0.0;
    const Rgb color = tile_color::color(n, m_color_mode, m_scan_start_time, prominence);
    const RectF r = tile.rect.inset(1.5f);
    const double radius = std::min(std::min(r.w, r.h) * 0.18, 10.0);
    fill_round_rect_rgb(r, radius, color);
    if (n.is_denied) {
        // Unknown contents are hatched.
        cairo_save(m_cr);
        round_rect_path(r, radius);
        cairo_clip(m_cr);
        cairo_set_source_rgba(m_cr, 0, 0, 0, m_dark ? 0.28 : 0.18);
        cairo_set_line_width(m_cr, 1.0);
        for (double d = -r.h; d < r.w; d += 7.0) {
            cairo_move_to(m_cr, r.x + d, r.y);
            cairo_line_to(m_cr, r.x + d + r.h, r.y + r.h);
        }
        cairo_stroke(m_cr);
        cairo_restore(m_cr);
    }
    if (n.is_junk && !n.is_readonly) stroke_round_rect(r, radius, "#E8B830", 2.0, 0.95);
    draw_tile_label(n, r, prominence);
}

void App::draw_tile_label(const FileNode& n, const RectF& r, double prominence) {
    double pad = r.w < 80.0f ? 3.0 : 5.0;
    const double avail = r.w - 2 * pad;
    const double name_h = font_height(Font::Caption);
    if (2 * pad + name_h > r.h) pad = std::max((r.h - name_h) * 0.5, 1.0);
    if (avail < 12.0 || name_h + 2 > r.h) return;
    const Rgb bg = tile_color::color(n, m_color_mode, m_scan_start_time, prominence);
    const Rgb ink = luminance(bg) > 0.55 ? Rgb{0.08, 0.08, 0.08} : Rgb{1.0, 1.0, 1.0};
    double y = r.y + pad;
    draw_label_fit(n.name, Font::Caption, rect(r.x + pad, y, avail, name_h), ink);
    y += name_h + 1;
    if (y + name_h > r.y + r.h - pad) return;
    const std::string full = fmt::bytes(n.size);
    std::string line = n.is_directory ? full + " · " + fmt::count(n.file_count) : full;
    if (measure_text(line, Font::Caption) > avail) {
        line = full;
        if (measure_text(line, Font::Caption) > avail) {
            line = fmt::bytes_short(n.size);
            if (measure_text(line, Font::Caption) > avail)
                line = truncate_fast(line, Font::Caption, avail);
        }
    }
    draw_label_rgb(line, Font::Caption, rect(r.x + pad, y, avail, name_h), ink, 0.85);
}

void App::draw_map() {
    if (m_tiles.empty()) {
        draw_nothing_found();
        return;
    }
    if (!m_treemap_cache || m_treemap_dirty) draw_treemap_into_cache();
    const RectF c = m_r_content;
    cairo_save(m_cr);
    cairo_rectangle(m_cr, c.x, c.y, c.w, c.h);
    cairo_clip(m_cr);
    if (m_treemap_cache) {
        cairo_set_source_surface(m_cr, m_treemap_cache.get(), m_tiles_rect.x, m_tiles_rect.y);
        cairo_paint(m_cr);
    }
    for (const TreemapTile& t : m_tiles)
        if (t.rect.max_y() > c.y && t.rect.y < c.max_y()) add_target(t.rect, Act::Tile, 0, t.node);

    if (!m_search_hits.empty()) {
        std::unordered_set<std::uint64_t> hits;
        for (const FileNodePtr& h : m_search_hits)
            if (h) hits.insert(h->id);
        const bool one = m_search_hits.size() == 1;
        const double pulse = one ? search_pulse() : 0.0;
        for (const TreemapTile& t : m_tiles)
            if (t.node && hits.count(t.node->id))
                stroke_round_rect(t.rect, 4, m_palette.accent, one ? 2.5 + 2.5 * pulse : 2.5,
                                  one ? 0.55 + 0.45 * pulse : 0.9);
    }
    const std::uint64_t selected = m_selected ? m_selected->id : 0;
    const std::uint64_t hovered = m_hovered ? m_hovered->id : 0;
    for (const TreemapTile& t : m_tiles) {
        if (!t.node) continue;
        if (!m_basket.empty() && is_in_basket(t.node)) {
            stroke_round_rect(t.rect, 4, m_palette.danger_fg, 2.5);
        } else if (t.node->id == selected) {
            stroke_round_rect(t.rect, 4, m_palette.accent, 2.5);
        } else if (t.node->id == hovered) {
            stroke_round_rect(t.rect, 4, m_dark ? "#FFFFFF" : "#000000", 1.5, 0.45);
        }
    }
    cairo_restore(m_cr);
    if (m_hovered && m_overlay == Overlay::None) draw_tooltip(m_hovered, m_hover_x, m_hover_y);
}

void App::draw_tooltip(const FileNodePtr& node, double x, double y) {
    if (!node) return;
    const FileNode& n = *node;
    std::vector<std::string> lines{n.name, fmt::bytes(n.size) + "  ·  " + fmt::files(n.file_count)};
    if (n.modified >= 1)
        lines.push_back(std::string(tr("Modified")) + ": " + fmt::date(n.modified));
    if (n.is_denied)
        lines.emplace_back(
            tr(n.is_timeout ? "Read error (skipped mount)" : "No access – size unknown"));
    if (n.is_junk) lines.emplace_back(tr("Detected junk – usually safe to remove"));
    if (n.is_readonly) lines.emplace_back(tr("Read-only location"));

    const double lh = font_height(Font::Caption) + 2;
    constexpr double pad = 8;
    double widest = 0;
    for (const std::string& l : lines)
        widest = std::max(widest, measure_text(l, Font::Caption));
    const double bw = std::min(widest + 2 * pad, 420.0);
    const double bh = static_cast<double>(lines.size()) * lh + 2 * pad;
    double bx = x + 16;
    double by = y + 18;
    if (bx + bw > m_width - 4) bx = x - bw - 12;
    if (by + bh > m_height - 4) by = y - bh - 12;
    bx = std::max(bx, 4.0);
    by = std::max(by, 4.0);
    fill_round_rect(rect(bx, by, bw, bh), 6, m_palette.bar, 0.98);
    stroke_round_rect(rect(bx, by, bw, bh), 6, m_palette.control_edge, 1);
    double ty = by + pad;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        draw_label_fit(lines[i], Font::Caption, rect(bx + pad, ty, bw - 2 * pad, lh),
                       i == 0 ? m_palette.text : m_palette.secondary);
        ty += lh;
    }
}

void App::draw_nothing_found() {
    if (!m_root || m_scanning) return;
    struct Line {
        std::string text;
        Font font;
    };
    std::vector<Line> lines;
    if (running_in_snap() && !hostfs_available()) {
        lines.push_back({tr("System folders are not visible in this sandbox."), Font::Body});
        lines.push_back(
            {tr("Run this once in a terminal, then start the app again:"), Font::Caption});
        lines.push_back({"snap connect spacemole:system-backup", Font::Mono});
    } else {
        lines.push_back({tr("Nothing to show here."), Font::Body});
    }
    const RectF c = m_r_content;
    double total = 0;
    for (const Line& l : lines)
        total += font_height(l.font) + 8;
    double y = c.y + (c.h - total) * 0.5;
    for (const Line& l : lines) {
        draw_centered(l.text, l.font, c.x + c.w * 0.5, y,
                      l.font == Font::Mono ? m_palette.accent : m_palette.secondary);
        y += font_height(l.font) + 8;
    }
}
