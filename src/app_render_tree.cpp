// The tree view: a sortable table of the shown folder whose folders expand
// in place. The rows, expanded descendants included, are flattened once when
// the folder, the sort or the expanded set changes; a frame then draws only
// the rows in sight, so a folder of 100,000 expanded rows scrolls as fast
// as one of ten.
#include "app.h"

#include <cmath>

#include "format.h"
#include "i18n.h"

namespace {

constexpr double kHeaderH = 26;
constexpr double kRowH = 24;
constexpr double kIndent = 16;

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

RectF intersect(const RectF& a, const RectF& b) {
    const float x0 = std::max(a.x, b.x);
    const float y0 = std::max(a.y, b.y);
    const float x1 = std::min(a.max_x(), b.max_x());
    const float y1 = std::min(a.max_y(), b.max_y());
    return {x0, y0, std::max(x1 - x0, 0.0f), std::max(y1 - y0, 0.0f)};
}

// Left edges of the columns, laid out from the right edge inward.
struct Columns {
    double share, date, files, size;
    explicit Columns(const RectF& c) {
        share = c.x + c.w - 12 - 70;
        date = share - 104;
        files = date - 90;
        size = files - 110;
    }
};

void append_rows(const App& app, std::vector<App::TreeRow>& out, const FileNode& folder,
                 std::int32_t depth) {
    for (FileNodePtr& n : app.sorted(folder.children)) {
        const bool open = n->can_enter() && app.m_expanded.count(n->id) != 0;
        out.push_back({std::move(n), depth, folder.size});
        if (open) append_rows(app, out, *out.back().node, depth + 1);
    }
}

// A triangle layout, centred vertically in the row at `x`.
void draw_triangle(cairo_t* cr, PangoLayout* layout, double x, double y, const std::string& hex) {
    Rgb c;
    if (!layout || !hex_to_rgb(hex, c)) return;
    int th = 0;
    pango_layout_get_pixel_size(layout, nullptr, &th);
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
    cairo_move_to(cr, x, y + (kRowH - th) * 0.5);
    pango_cairo_show_layout(cr, layout);
}

} // namespace

void App::refresh_tree_rows() {
    const FileNodePtr shown = current();
    TreeRowsKey& k = m_tree_rows_key;
    if (k.built && k.root.lock() == m_root && k.shown.lock() == shown &&
        k.sort.field == m_sort.field && k.sort.ascending == m_sort.ascending &&
        k.expanded == m_expanded)
        return;
    m_tree_rows.clear();
    if (shown) append_rows(*this, m_tree_rows, *shown, 0);
    k.root = m_root;
    k.shown = shown;
    k.sort = m_sort;
    k.expanded = m_expanded;
    k.built = true;
}

void App::draw_right_aligned(const std::string& text, Font font, double right, double y, double h,
                             const std::string& hex, double pad) {
    Rgb c;
    if (text.empty() || !m_cr || !hex_to_rgb(hex, c)) return;
    const PangoLayoutPtr layout = layout_for(text, font);
    int tw = 0;
    int th = 0;
    pango_layout_get_pixel_size(layout.get(), &tw, &th);
    cairo_set_source_rgba(m_cr, c.r, c.g, c.b, 1.0);
    cairo_move_to(m_cr, right - pad - tw, y + (h - th) * 0.5);
    pango_cairo_show_layout(m_cr, layout.get());
}

void App::draw_tree() {
    const RectF c = m_r_content;
    draw_tree_header(rect(c.x, c.y, c.w, kHeaderH));
    const FileNodePtr cur = current();
    if (!cur) return;
    if (cur->children.empty()) {
        draw_nothing_found();
        return;
    }
    refresh_tree_rows();
    const double view_h = c.h - kHeaderH;
    m_content_height = static_cast<double>(m_tree_rows.size()) * kRowH;
    // A collapse may leave the offset past the end.
    m_scroll = std::clamp(m_scroll, 0.0, std::max(m_content_height - view_h, 0.0));

    const RectF band = rect(c.x, c.y + kHeaderH, c.w, std::max(view_h, 0.0));
    std::unordered_set<std::uint64_t> hits;
    for (const FileNodePtr& h : m_search_hits)
        if (h) hits.insert(h->id);
    m_tree_triangles[0] = layout_for("▸", Font::Caption);
    m_tree_triangles[1] = layout_for("▾", Font::Caption);
    cairo_save(m_cr);
    cairo_rectangle(m_cr, band.x, band.y, band.w, band.h);
    cairo_clip(m_cr);
    const double top = band.y - m_scroll;
    const auto first = static_cast<std::size_t>(std::max(std::floor(m_scroll / kRowH), 0.0));
    const auto last =
        static_cast<std::size_t>(std::max(std::ceil((m_scroll + view_h) / kRowH), 0.0));
    for (std::size_t i = first; i <= last && i < m_tree_rows.size(); ++i)
        draw_tree_row(m_tree_rows[i], top + static_cast<double>(i) * kRowH, band, hits);
    cairo_restore(m_cr);

    if (m_content_height > view_h + 1) {
        const double thumb_h = std::max(view_h / m_content_height * view_h, 30.0);
        const double range = m_content_height - view_h;
        const double frac = range > 0 ? m_scroll / range : 0.0;
        fill_round_rect(rect(c.x + c.w - 8, band.y + (view_h - thumb_h) * frac, 5, thumb_h), 2.5,
                        m_palette.secondary, 0.45);
    }
}

void App::draw_tree_header(const RectF& r) {
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y + r.h - 1, r.x, r.x + r.w);
    const Columns col(m_r_content);
    auto column = [&](const char* label, double x, double w, SortField field, bool right) {
        const bool active = m_sort.field == field;
        std::string text = tr(label);
        if (active) text += m_sort.ascending ? " ▲" : " ▼";
        const double tw = measure_text(text, Font::CaptionBold);
        const double tx = right ? x + w - tw - 8 : x;
        draw_label(text, Font::CaptionBold, rect(tx, r.y, tw, r.h),
                   active ? m_palette.accent : m_palette.secondary);
        add_target(rect(x, r.y, w, r.h), Act::SortColumn, static_cast<int>(field));
    };
    column("Name", r.x + 12, col.size - r.x - 12, SortField::Name, false);
    column("Size", col.size, 110, SortField::Size, true);
    column("Files", col.files, 90, SortField::Files, true);
    column("Modified", col.date, 104, SortField::Modified, true);
    draw_label(tr("Share"), Font::CaptionBold, rect(col.share, r.y, 70, r.h), m_palette.secondary);
}

void App::draw_tree_row(const TreeRow& row, double y, const RectF& band,
                        const std::unordered_set<std::uint64_t>& hits) {
    const RectF c = m_r_content;
    const FileNode& n = *row.node;
    const RectF r = rect(c.x, y, c.w, kRowH);
    const RectF frame = rect(c.x + 1, y, c.w - 2, kRowH);
    if (hits.count(n.id)) {
        const bool one = m_search_hits.size() == 1;
        const double pulse = one ? search_pulse() : 0.0;
        fill_rect(r, m_palette.accent, one ? 0.2 + 0.25 * pulse : 0.2);
        stroke_round_rect(frame, 3, m_palette.accent, 1.5, one ? 0.7 + 0.3 * pulse : 0.7);
    }
    if (m_selected && m_selected->id == n.id) {
        fill_rect(r, m_palette.accent, 0.18);
    } else if (!m_basket.empty() && is_in_basket(row.node)) {
        fill_rect(r, m_palette.danger_fg, 0.12);
    } else if (m_hovered && m_hovered->id == n.id) {
        fill_rect(r, m_palette.text, 0.05);
    }
    const double indent = c.x + row.depth * kIndent + 12;
    const bool folder = n.can_enter();
    if (folder)
        draw_triangle(m_cr, m_tree_triangles[m_expanded.count(n.id) ? 1 : 0].get(), indent, y,
                      m_palette.secondary);
    const double prominence =
        row.parent_size > 0 ? static_cast<double>(n.size) / static_cast<double>(row.parent_size)
                            : 0.0;
    fill_rgb(rect(indent + 16, y + 7, 10, 10),
             tile_color::color(n, m_color_mode, m_scan_start_time, prominence));
    const Columns col(c);
    const double nx = indent + 32;
    draw_label_fit(n.name, Font::Caption, rect(nx, y, col.size - nx - 8, kRowH),
                   n.is_denied ? m_palette.secondary : m_palette.text);
    draw_right_aligned(fmt::bytes(n.size), Font::Caption, col.size + 110, y, kRowH,
                       m_palette.secondary);
    draw_right_aligned(fmt::count(n.file_count), Font::Caption, col.files + 90, y, kRowH,
                       m_palette.secondary);
    draw_right_aligned(fmt::date(n.modified), Font::Caption, col.date + 104, y, kRowH,
                       m_palette.secondary);
    fill_round_rect(rect(col.share, y + 8, 60, 8), 4, m_palette.track);
    if (prominence > 0)
        fill_round_rect(rect(col.share, y + 8, std::clamp(60 * prominence, 2.0, 60.0), 8), 4,
                        m_palette.accent, 0.85);
    if (n.is_junk) stroke_round_rect(frame, 3, "#E8B830", 1, 0.8);
    add_target(intersect(r, band), Act::TreeRow, 0, row.node);
    if (folder)
        add_target(intersect(rect(indent, y, 14, kRowH), band), Act::TreeDisclosure, 0, row.node);
}
