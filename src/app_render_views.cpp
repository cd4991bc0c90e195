// What the map and tree views share: the legend under the map, and the
// drawing helpers both views use.
#include "app.h"

#include "file_category.h"
#include "format.h"
#include "i18n.h"

namespace {

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

// Byte offsets at which each UTF-8 character starts, plus the end.
std::vector<std::size_t> char_starts(const std::string& s) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) out.push_back(i);
    out.push_back(s.size());
    return out;
}

} // namespace

void App::fill_round_rect_rgb(const RectF& r, double radius, const Rgb& c, double alpha) {
    if (!m_cr) return;
    cairo_set_source_rgba(m_cr, c.r, c.g, c.b, alpha);
    round_rect_path(r, radius);
    cairo_fill(m_cr);
}

std::string App::truncate_fast(const std::string& text, Font font, double max_width) const {
    if (max_width <= 0) return {};
    if (measure_text(text, font) <= max_width) return text;
    const std::vector<std::size_t> starts = char_starts(text);
    // The longest prefix (in characters) that fits with the ellipsis.
    std::size_t lo = 0;
    std::size_t hi = starts.size() - 2;
    while (lo < hi) {
        const std::size_t mid = (lo + hi + 1) / 2;
        if (measure_text(text.substr(0, starts[mid]) + "…", font) <= max_width) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    if (lo == 0) return measure_text("…", font) <= max_width ? "…" : std::string();
    return text.substr(0, starts[lo]) + "…";
}

void App::draw_label_fit(const std::string& text, Font font, const RectF& r, const Rgb& color,
                         double alpha) {
    if (text.empty() || !m_cr || r.w <= 0) return;
    const PangoLayoutPtr layout = layout_for(text, font);
    pango_layout_set_width(layout.get(), static_cast<int>(r.w * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    int th = 0;
    pango_layout_get_pixel_size(layout.get(), nullptr, &th);
    cairo_set_source_rgba(m_cr, color.r, color.g, color.b, alpha);
    cairo_move_to(m_cr, r.x, r.y + (r.h - th) * 0.5);
    pango_cairo_show_layout(m_cr, layout.get());
}

void App::draw_label_fit(const std::string& text, Font font, const RectF& r, const std::string& hex,
                         double alpha) {
    Rgb c;
    if (hex_to_rgb(hex, c)) draw_label_fit(text, font, r, c, alpha);
}

void App::draw_legend() {
    const RectF r = m_r_legend;
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y, 0, m_width);
    const double mid = r.y + r.h * 0.5;
    if (m_color_mode == ColorMode::Category) {
        double x = 12;
        for (FileCategory c : category::legend_order()) {
            const std::string label = tr(category::label_key(c));
            const double w = measure_text(label, Font::Caption);
            if (x + w + 22 > m_width - 12) break;
            fill_rgb(rect(x, mid - 5, 10, 10), tile_color::swatch(c));
            x += 14;
            draw_label(label, Font::Caption, rect(x, r.y, w, r.h), m_palette.secondary);
            x += w + 14;
        }
    } else {
        const std::string older = tr("older");
        const double ow = measure_text(older, Font::Caption);
        draw_label(older, Font::Caption, rect(12, r.y, ow, r.h), m_palette.secondary);
        const double x0 = 12 + ow + 8;
        for (int i = 0; i < 5; ++i)
            fill_rgb(rect(x0 + i * 38, mid - 5, 38, 10), tile_color::heat_stop(i));
        const std::string newer = tr("newer");
        draw_label(newer, Font::Caption,
                   rect(x0 + 198, r.y, measure_text(newer, Font::Caption), r.h),
                   m_palette.secondary);
    }
    if (m_reclaimable >= 1) {
        const std::string text =
            I18n::instance().trf("%s reclaimable", fmt::bytes(m_reclaimable).c_str());
        const double tw = measure_text(text, Font::CaptionBold);
        const RectF pill = rect(m_width - 12 - (tw + 20), r.y + (r.h - 20) * 0.5, tw + 20, 20);
        fill_round_rect(pill, 10, "#E8B830", 0.22);
        stroke_round_rect(pill, 10, "#E8B830", 1);
        draw_label(text, Font::CaptionBold, rect(pill.x + 10, pill.y, tw, 20),
                   m_dark ? "#E8B830" : "#8A6A00");
        add_target(pill, Act::MarkReclaimable);
    }
}
