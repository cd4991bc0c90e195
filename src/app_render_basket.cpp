// The delete-list bar above the legend: the list's count and total, its
// items as chips that take themselves off, and "Move to Trash" and "Clear".
#include "app.h"

#include "format.h"
#include "i18n.h"

namespace {

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

} // namespace

void App::draw_basket_bar() {
    const RectF r = m_r_basket;
    fill_rect(r, m_palette.danger_bg);
    draw_hairline(r.y, 0, m_width);
    const std::string& fg = m_palette.danger_fg;

    const std::string title = I18n::instance().trf(
        "Delete list: %s · %s", fmt::count(static_cast<std::int64_t>(m_basket.size())).c_str(),
        fmt::bytes(basket_total_bytes()).c_str());
    const double tw = measure_text(title, Font::CaptionBold);
    draw_label(title, Font::CaptionBold, rect(12, r.y, tw, r.h), fg);
    double x = 12 + tw + 14;

    const double by = r.y + (r.h - 22) * 0.5;
    const std::string trash = tr("Move to Trash");
    const double trash_w = measure_text(trash, Font::Caption) + 20;
    const RectF trash_r = rect(m_width - 12 - trash_w, by, trash_w, 22);
    fill_round_rect(trash_r, 4, fg, m_deleting ? 0.5 : 1.0);
    draw_label(trash, Font::Caption, rect(trash_r.x + 10, by, trash_w - 20, 22), "#FFFFFF");
    if (!m_deleting) add_target(trash_r, Act::BasketDelete);

    const std::string clear = tr("Clear");
    const double clear_w = measure_text(clear, Font::Caption) + 20;
    const RectF clear_r = rect(trash_r.x - 6 - clear_w, by, clear_w, 22);
    stroke_round_rect(clear_r, 4, fg, 1);
    draw_label(clear, Font::Caption, rect(clear_r.x + 10, by, clear_w - 20, 22), fg);
    add_target(clear_r, Act::BasketClear);

    const double limit = clear_r.x - 10;
    for (std::size_t i = 0; i < m_basket.size(); ++i) {
        const FileNodePtr& item = m_basket[i];
        const std::string text = item->name + "  ✕";
        const double cw = measure_text(text, Font::Caption) + 16;
        if (x + cw > limit) {
            const std::string more = I18n::instance().trf(
                "%s more items",
                fmt::count(static_cast<std::int64_t>(m_basket.size() - i)).c_str());
            draw_label(more, Font::Caption, rect(x, r.y, std::max(limit - x, 0.0), r.h), fg, 0.8);
            break;
        }
        const RectF chip = rect(x, r.y + (r.h - 20) * 0.5, cw, 20);
        fill_round_rect(chip, 10, fg, 0.16);
        draw_label(text, Font::Caption, rect(chip.x + 8, chip.y, cw - 16, 20), fg);
        add_target(chip, Act::BasketRemove, 0, item);
        x += cw + 6;
    }
}
