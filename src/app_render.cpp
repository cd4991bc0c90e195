// The frame: regions stacked top to bottom, the content chosen by state, hit
// targets; and the drawing primitives every view is built from.
#include "app.h"

#include <cmath>

#include "i18n.h"

namespace {

constexpr double kPangoScale = PANGO_SCALE;

struct FontRole {
    double px;
    bool bold;
    bool mono;
};

FontRole role_of(App::Font font) {
    switch (font) {
    case App::Font::BodyBold:
        return {13, true, false};
    case App::Font::Caption:
        return {11, false, false};
    case App::Font::CaptionBold:
        return {11, true, false};
    case App::Font::Title:
        return {17, true, false};
    case App::Font::Mono:
        return {11, false, true};
    case App::Font::Body:
        break;
    }
    return {13, false, false};
}

// Byte length of the UTF-8 sequence starting with `c` (1 for stray bytes).
std::size_t utf8_len(unsigned char c) {
    if (c >= 0xF0) return 4;
    if (c >= 0xE0) return 3;
    if (c >= 0xC0) return 2;
    return 1;
}

// Byte offsets at which each character starts, plus the end.
std::vector<std::size_t> char_starts(const std::string& s) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < s.size(); i += utf8_len(static_cast<unsigned char>(s[i])))
        out.push_back(i);
    out.push_back(s.size());
    return out;
}

void set_source(cairo_t* cr, const Rgb& c, double alpha) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

} // namespace

// ---- Frame --------------------------------------------------------------------

void App::draw_all(cairo_t* cr, double width, double height) {
    m_cr = cr;
    m_width = width;
    m_height = height;
    if (!m_pango) m_pango.reset(pango_cairo_create_context(cr));
    m_targets.clear();
    compute_layout();
    fill_rect({0, 0, static_cast<float>(m_width), static_cast<float>(m_height)}, m_palette.window);
    draw_toolbar();
    if (m_r_pathbar.h > 0) draw_path_bar();
    if (m_r_search.h > 0) draw_search_bar();
    draw_banners();
    draw_content();
    if (m_r_basket.h > 0) draw_basket_bar();
    if (m_r_legend.h > 0) draw_legend();
    draw_status_bar();
    if (m_overlay != Overlay::None) draw_overlay();
    m_cr = nullptr;
}

void App::compute_layout() {
    const float w = static_cast<float>(m_width);
    const float H = static_cast<float>(m_height);
    m_r_toolbar = {0, 0, w, 38};
    float y = 38;
    m_r_pathbar = {};
    if (m_root) {
        m_r_pathbar = {0, y, w, 26};
        y += 26;
    }
    m_r_search = {};
    if (m_search_open) {
        m_r_search = {0, y, w, 30};
        y += 30;
    }
    m_r_denied = {};
    if (m_denied_folders >= 1 || m_skipped_folders >= 1) {
        m_r_denied = {0, y, w, 28};
        y += 28;
    }
    m_r_status = {0, H - 30, w, 30};
    float bottom = H - 30;
    m_r_legend = {};
    if (m_root && m_view_mode == ViewMode::Map) {
        bottom -= 28;
        m_r_legend = {0, bottom, w, 28};
    }
    m_r_basket = {};
    if (!m_basket.empty()) {
        bottom -= 34;
        m_r_basket = {0, bottom, w, 34};
    }
    m_r_freed = {};
    // A deletion that freed nothing still reports its error here.
    if (m_last_freed > 0 || !m_delete_error.empty() || m_undo_serial != 0 ||
        !m_restore_note.empty()) {
        bottom -= 28;
        m_r_freed = {0, bottom, w, 28};
    }
    m_r_content = {0, y, w, std::max(bottom - y, 0.0f)};
    layout_tiles();
}

void App::draw_content() {
    if (m_scanning) {
        draw_scanning();
    } else if (!m_root) {
        draw_empty_state();
    } else if (m_view_mode == ViewMode::Tree) {
        draw_tree();
    } else {
        draw_map();
    }
}

void App::add_target(const RectF& r, Act act, int index, FileNodePtr node) {
    m_targets.push_back(HitTarget{r, act, index, std::move(node)});
}

void App::discard_treemap_cache() {
    m_treemap_cache.reset();
    m_treemap_dirty = true;
}

// ---- Text ---------------------------------------------------------------------

PangoLayoutPtr App::layout_for(const std::string& text, Font font) const {
    PangoLayoutPtr layout(pango_layout_new(m_pango.get()));
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    const FontRole role = role_of(font);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, role.mono ? I18n::mono_font_family()
                                                      : I18n::instance().ui_font_family());
    pango_font_description_set_absolute_size(desc, role.px * kPangoScale);
    pango_font_description_set_weight(desc, role.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), desc);
    pango_font_description_free(desc);
    return layout;
}

double App::measure_text(const std::string& text, Font font) const {
    if (!m_pango) return 0.0;
    int w = 0;
    pango_layout_get_pixel_size(layout_for(text, font).get(), &w, nullptr);
    return w;
}

double App::font_height(Font font) const {
    if (!m_pango) return 0.0;
    int h = 0;
    pango_layout_get_pixel_size(layout_for("Ag", font).get(), nullptr, &h);
    return h;
}

double App::draw_label_rgb(const std::string& text, Font font, const RectF& r, const Rgb& color,
                           double alpha) {
    if (text.empty() || !m_cr) return 0.0;
    const PangoLayoutPtr layout = layout_for(text, font);
    int tw = 0;
    int th = 0;
    pango_layout_get_pixel_size(layout.get(), &tw, &th);
    const double y = r.y + (r.h - th) * 0.5;
    set_source(m_cr, color, alpha);
    cairo_move_to(m_cr, r.x, y);
    pango_cairo_show_layout(m_cr, layout.get());
    return tw;
}

double App::draw_label(const std::string& text, Font font, const RectF& r, const std::string& hex,
                       double alpha) {
    Rgb c;
    if (text.empty() || !hex_to_rgb(hex, c)) return 0.0;
    return draw_label_rgb(text, font, r, c, alpha);
}

double App::draw_centered(const std::string& text, Font font, double cx, double y,
                          const std::string& hex, double alpha) {
    const double tw = measure_text(text, font);
    const double h = font_height(font);
    draw_label(text, font,
               {static_cast<float>(cx - tw * 0.5), static_cast<float>(y), static_cast<float>(tw),
                static_cast<float>(h)},
               hex, alpha);
    return tw;
}

std::string App::truncate_to_width(const std::string& text, Font font, double max_width) const {
    if (max_width <= 0) return {};
    if (measure_text(text, font) <= max_width) return text;
    const std::vector<std::size_t> starts = char_starts(text);
    const std::size_t len = starts.size() - 1;
    if (len <= 1) return "…";
    for (std::size_t n = len - 1; n >= 1; --n) {
        std::string candidate = text.substr(0, starts[n]) + "…";
        if (measure_text(candidate, font) <= max_width) return candidate;
    }
    return "…";
}

std::string App::truncate_path_middle(const std::string& text, Font font, double max_width) const {
    if (max_width <= 0) return {};
    if (measure_text(text, font) <= max_width) return text;
    const std::vector<std::size_t> starts = char_starts(text);
    const std::size_t len = starts.size() - 1;
    if (len > 3) {
        for (std::size_t keep = len / 2; keep >= 2; --keep) {
            const std::size_t tail = keep / 2;
            const std::size_t head = keep - tail;
            std::string candidate =
                text.substr(0, starts[head]) + "…" + text.substr(starts[len - tail]);
            if (measure_text(candidate, font) <= max_width) return candidate;
        }
    }
    return truncate_to_width(text, font, max_width);
}

std::vector<std::string> App::wrap_text(const std::string& text, Font font,
                                        double max_width) const {
    std::vector<std::string> lines;
    if (text.empty() || !m_pango) return lines;
    const PangoLayoutPtr layout = layout_for(text, font);
    pango_layout_set_width(layout.get(), static_cast<int>(max_width * kPangoScale));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    for (GSList* l = pango_layout_get_lines_readonly(layout.get()); l; l = l->next) {
        const auto* line = static_cast<PangoLayoutLine*>(l->data);
        std::string piece = text.substr(static_cast<std::size_t>(line->start_index),
                                        static_cast<std::size_t>(line->length));
        lines.push_back(std::move(piece));
    }
    return lines;
}

std::string App::strip_emoji(const std::string& s) {
    if (s.empty()) return s;
    gunichar c = g_utf8_get_char_validated(s.data(), static_cast<gssize>(s.size()));
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return s;
    const bool pictographic =
        (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x2600 && c <= 0x27BF && c != 0x2699);
    if (!pictographic) return s;
    std::size_t i = utf8_len(static_cast<unsigned char>(s[0]));
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

// ---- Shapes -------------------------------------------------------------------

void App::fill_rgb(const RectF& r, const Rgb& c, double alpha) {
    if (!m_cr) return;
    set_source(m_cr, c, alpha);
    cairo_rectangle(m_cr, r.x, r.y, r.w, r.h);
    cairo_fill(m_cr);
}

void App::fill_rect(const RectF& r, const std::string& hex, double alpha) {
    Rgb c;
    if (hex_to_rgb(hex, c)) fill_rgb(r, c, alpha);
}

void App::round_rect_path(const RectF& r, double radius) {
    const double rad = std::min(std::min(r.w, r.h) * 0.5, radius);
    if (rad <= 0.5) {
        cairo_rectangle(m_cr, r.x, r.y, r.w, r.h);
        return;
    }
    const double x = r.x;
    const double y = r.y;
    const double w = r.w;
    const double h = r.h;
    cairo_new_sub_path(m_cr);
    cairo_arc(m_cr, x + w - rad, y + rad, rad, -M_PI / 2, 0);
    cairo_arc(m_cr, x + w - rad, y + h - rad, rad, 0, M_PI / 2);
    cairo_arc(m_cr, x + rad, y + h - rad, rad, M_PI / 2, M_PI);
    cairo_arc(m_cr, x + rad, y + rad, rad, M_PI, 3 * M_PI / 2);
    cairo_close_path(m_cr);
}

void App::fill_round_rect(const RectF& r, double radius, const std::string& hex, double alpha) {
    Rgb c;
    if (!m_cr || !hex_to_rgb(hex, c)) return;
    set_source(m_cr, c, alpha);
    round_rect_path(r, radius);
    cairo_fill(m_cr);
}

void App::stroke_round_rect(const RectF& r, double radius, const std::string& hex, double width,
                            double alpha) {
    Rgb c;
    if (!m_cr || !hex_to_rgb(hex, c)) return;
    set_source(m_cr, c, alpha);
    cairo_set_line_width(m_cr, width);
    // Thin lines on whole pixels.
    const RectF box = width <= 1.5 ? RectF{r.x + 0.5f, r.y + 0.5f, r.w - 1, r.h - 1} : r;
    round_rect_path(box, radius);
    cairo_stroke(m_cr);
}

void App::draw_hairline(double y, double x0, double x1) {
    Rgb c;
    if (!m_cr || !hex_to_rgb(m_palette.divider, c)) return;
    set_source(m_cr, c, 1.0);
    cairo_set_line_width(m_cr, 1.0);
    const double ly = std::floor(y) + 0.5;
    cairo_move_to(m_cr, x0, ly);
    cairo_line_to(m_cr, x1, ly);
    cairo_stroke(m_cr);
}

RectF App::draw_button(double x, double y, const std::string& label, bool prominent, bool enabled,
                       const std::string& glyph) {
    const std::string lab = strip_emoji(label);
    const std::string gly = strip_emoji(glyph);
    const std::string text = gly.empty() ? lab : lab.empty() ? gly : gly + "  " + lab;
    constexpr double pad = 11;
    const double w = measure_text(text, Font::Body) + 2 * pad;
    const RectF r{static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), 26};
    const double alpha = enabled ? 1.0 : 0.45;
    if (prominent) {
        fill_round_rect(r, 5, m_palette.accent, alpha);
    } else {
        fill_round_rect(r, 5, m_palette.control, alpha);
        stroke_round_rect(r, 5, m_palette.control_edge, 1, alpha);
    }
    draw_label(
        text, Font::Body,
        {static_cast<float>(x + pad), static_cast<float>(y), static_cast<float>(w - 2 * pad), 26},
        prominent ? std::string("#FFFFFF") : m_palette.text, alpha);
    return r;
}
