// The views that fill the content region and the bars that belong to them.
// Until the treemap, the tree table, the legend, the delete-list bar, the
// search bar and the overlays are drawn, the shown folder is summed up in
// the middle of the content and the bars keep their background.
#include "app.h"

void App::draw_map() {
    m_content_height = m_r_content.h;
    draw_shown_folder();
}

void App::draw_tree() {
    draw_shown_folder();
}

void App::draw_legend() {
    fill_rect(m_r_legend, m_palette.bar);
    draw_hairline(m_r_legend.y, 0, m_width);
}

void App::draw_basket_bar() {
    fill_rect(m_r_basket, m_palette.danger_bg);
    draw_hairline(m_r_basket.y, 0, m_width);
}

void App::draw_search_bar() {
    fill_rect(m_r_search, m_palette.bar);
    draw_hairline(m_r_search.y + m_r_search.h, 0, m_width);
}

void App::draw_overlay() {
    fill_rect({0, 0, static_cast<float>(m_width), static_cast<float>(m_height)}, "#000000", 0.35);
}
