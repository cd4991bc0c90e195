// What floats above the window: in-canvas menus, message dialogs, the
// Settings and About panels; and the search bar below the path bar. Drawn
// last in the frame, so their hit targets win over what lies beneath.
#include "app.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "format.h"
#include "i18n.h"
#include "settings.h"
#include "strutil.h"

#if __has_include("icon_data.h")
#include "icon_data.h"
#define SPACEMOLE_HAVE_ICON 1
#endif

namespace {

constexpr const char* kProduct = "Spacemole";
constexpr const char* kVersion = "1.0.7";
constexpr const char* kBuild = "1008";
constexpr const char* kAuthor = "The Spacemole developers";
constexpr const char* kRights = "© 2026 The Spacemole developers";
constexpr const char* kWebsiteLabel = "spacemole.org";

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

bool is_panel_control(App::Act act) {
    return act == App::Act::SettingsTheme || act == App::Act::SettingsLang ||
           act == App::Act::SettingsDedupe || act == App::Act::SettingsOneFs ||
           act == App::Act::LinkWebsite || act == App::Act::DialogButton;
}

PixbufPtr decode_icon() {
#ifdef SPACEMOLE_HAVE_ICON
    g_autoptr(GdkPixbufLoader) loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader) return {};
    const bool ok = gdk_pixbuf_loader_write(loader, icon_data::PNG, icon_data::PNG_SIZE, nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = ok && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (!pixbuf) return {};
    return PixbufPtr(gdk_pixbuf_scale_simple(pixbuf, 64, 64, GDK_INTERP_BILINEAR));
#else
    return {};
#endif
}

} // namespace

void App::draw_overlay() {
    fill_rect(rect(0, 0, m_width, m_height), "#000000", 0.35);
    const std::size_t first_target = m_targets.size();
    switch (m_overlay) {
    case Overlay::Settings:
        draw_settings();
        break;
    case Overlay::About:
        draw_about();
        break;
    case Overlay::Menu:
        draw_menu();
        return;
    case Overlay::Trashed:
        draw_trashed_panel();
        return;
    default:
        draw_dialog();
        return;
    }
    // The keyboard's place in the panel.
    int n = 0;
    for (std::size_t i = first_target; i < m_targets.size(); ++i) {
        if (!is_panel_control(m_targets[i].act)) continue;
        if (n++ == m_panel_focus) {
            draw_focus_ring(m_targets[i].rect);
            break;
        }
    }
}

void App::draw_focus_ring(const RectF& r) {
    stroke_round_rect(rect(r.x - 3, r.y - 3, r.w + 6, r.h + 6), 7, m_palette.accent, 2.0, 0.9);
}

// ---- Menu ---------------------------------------------------------------------------

void App::draw_menu() {
    double w = 180;
    double h = 8;
    for (const MenuEntry& e : m_menu) {
        w = std::max(w, measure_text(e.label, Font::Body) + 34);
        h += e.separator ? 9 : 26;
    }
    w = std::min(w, m_width - 20);
    const RectF a = m_menu_rect;
    double x = a.x;
    double y = a.y + a.h + 4;
    if (x + w > m_width - 8) x = m_width - w - 8;
    if (y + h > m_height - 8) y = std::max(a.y - h - 4, 8.0);
    x = std::max(x, 8.0);

    const RectF box = rect(x, y, w, h);
    fill_round_rect(box, 8, m_palette.bar);
    stroke_round_rect(box, 8, m_palette.control_edge, 1);
    double ry = y + 4;
    for (const MenuEntry& e : m_menu) {
        if (e.separator) {
            if (m_cr) {
                // A hairline across the box, inset from its rounded sides.
                cairo_save(m_cr);
                cairo_rectangle(m_cr, x + 8, ry, w - 16, 9);
                cairo_clip(m_cr);
                draw_hairline(ry + 4, x + 8, x + w - 8);
                cairo_restore(m_cr);
            }
            ry += 9;
            continue;
        }
        const RectF row = rect(x + 3, ry, w - 6, 26);
        const double alpha = e.enabled ? 1.0 : 0.4;
        if (e.enabled && e.id != 0 && e.id == m_menu_hover)
            fill_round_rect(row, 5, m_palette.accent, 0.16);
        const RectF label = rect(x + 14, ry, w - 28, 26);
        const std::string text = truncate_to_width(
            strip_emoji(e.label), e.id == 0 ? Font::CaptionBold : Font::Body, w - 28);
        if (e.id == 0) {
            draw_label(text, Font::CaptionBold, label, m_palette.secondary, alpha);
        } else {
            draw_label(text, Font::Body, label, m_palette.text, alpha);
        }
        if (e.enabled && e.id != 0) add_target(row, Act::MenuItem, e.id);
        ry += 26;
    }
}

// ---- Dialog -------------------------------------------------------------------------

void App::draw_dialog() {
    double w = 460;
    double tw = 420;
    if (m_width - 60 < 460) {
        w = m_width - 60;
        tw = w - 40;
    }
    const std::vector<std::string> lines = wrap_text(m_dialog_message, Font::Body, tw);
    const double lh = font_height(Font::Body) + 3;
    const double title_h = font_height(Font::Title);
    double h = title_h + 20 + 12;
    if (!m_dialog_file.empty())
        h += font_height(Font::BodyBold) + font_height(Font::Caption) + 4 + 14;
    h += static_cast<double>(lines.size()) * lh;
    if (m_compressing) h += font_height(Font::Caption) + 18 + 8;
    h += 20;
    if (!m_dialog_buttons.empty()) h += 36;
    const double bx = (m_width - w) * 0.5;
    const double by = (m_height - h) * 0.5;
    const RectF box = rect(bx, by, w, h);
    m_dialog_rect = box;
    fill_round_rect(box, 10, m_palette.bar);
    stroke_round_rect(box, 10, m_palette.control_edge, 1);

    draw_label(truncate_to_width(m_dialog_title, Font::Title, tw), Font::Title,
               rect(bx + 20, by + 20, tw, title_h), m_palette.text);
    double y = by + 20 + title_h + 12;

    if (!m_dialog_file.empty()) {
        const double size_w = measure_text(m_dialog_file_size, Font::Body);
        const double name_h = font_height(Font::BodyBold);
        draw_label(truncate_to_width(m_dialog_file, Font::BodyBold, tw - size_w - 12),
                   Font::BodyBold, rect(bx + 20, y, tw - size_w - 12, name_h), m_palette.text);
        draw_label(m_dialog_file_size, Font::Body, rect(bx + w - 20 - size_w, y, size_w, name_h),
                   m_palette.secondary);
        y += name_h + 4;
        const double cap_h = font_height(Font::Caption);
        draw_label(truncate_path_middle(m_dialog_path, Font::Caption, tw), Font::Caption,
                   rect(bx + 20, y, tw, cap_h), m_palette.secondary);
        y += cap_h + 14;
    }
    for (const std::string& line : lines) {
        draw_label(line, Font::Body, rect(bx + 20, y, tw, lh), m_palette.secondary);
        y += lh;
    }
    if (m_compressing) {
        const std::int64_t done = m_compress_done.load(std::memory_order_relaxed);
        const double frac =
            m_compress_total > 0
                ? std::min(1.0, static_cast<double>(done) / static_cast<double>(m_compress_total))
                : 0.0;
        fill_round_rect(rect(bx + 20, y + 8, tw, 10), 5, m_palette.control);
        if (frac > 0)
            fill_round_rect(rect(bx + 20, y + 8, std::max(tw * frac, 10.0), 10), 5,
                            m_palette.accent);
        std::string text = fmt::bytes(done);
        if (m_compress_total > 0)
            text += " / " + fmt::bytes(m_compress_total) + "  ·  " +
                    std::to_string(static_cast<int>(frac * 100 + 0.5)) + " %";
        draw_label(text, Font::Caption, rect(bx + 20, y + 26, tw, font_height(Font::Caption)),
                   m_palette.secondary);
        y += font_height(Font::Caption) + 18 + 8;
    }
    // Right to left from the box's right edge: the last button is rightmost.
    const DialogButton* enter_button = nullptr;
    for (const DialogButton& b : m_dialog_buttons)
        if (!b.cancel && b.id != CMD_DLG_DELETE_FOREVER) {
            enter_button = &b;
            break;
        }
    double right = bx + w - 20;
    for (auto it = m_dialog_buttons.rbegin(); it != m_dialog_buttons.rend(); ++it) {
        const double bw = measure_text(it->label, Font::Body) + 24;
        const RectF r = rect(right - bw, y + 8, bw, 28);
        if (it->destructive) {
            fill_round_rect(r, 5, m_palette.danger_fg);
        } else if (it->cancel) {
            fill_round_rect(r, 5, m_palette.control);
            stroke_round_rect(r, 5, m_palette.control_edge, 1);
        } else {
            fill_round_rect(r, 5, m_palette.accent);
        }
        draw_label(it->label, Font::Body, rect(r.x + 12, r.y, bw - 24, 28),
                   it->cancel ? m_palette.text : std::string("#FFFFFF"));
        // What Enter would press.
        if (&*it == enter_button) draw_focus_ring(r);
        add_target(r, Act::DialogButton, it->id);
        right -= bw + 8;
    }
}

// ---- Moved to Trash -------------------------------------------------------------------

namespace {

// "14:05" of a Unix time, in the local zone.
std::string clock_time(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return "?";
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M", &tm);
    return buf;
}

} // namespace

void App::draw_trashed_panel() {
    constexpr double kHeadH = 30;
    constexpr double kItemH = 40;
    const std::vector<TrashRow> rows = trashed_rows();
    const double title_h = font_height(Font::Title);
    // As tall as its rows need, up to the window's height less a margin.
    double rows_h = rows.empty() ? font_height(Font::Body) : 0.0;
    for (const TrashRow& row : rows)
        rows_h += row.entry < 0 ? kHeadH : kItemH;
    const double w = std::min(m_width - 60, 640.0);
    const double h =
        std::max(std::min(m_height - 60, 20 + title_h + 12 + rows_h + 12 + 28 + 20), 160.0);
    const double x = (m_width - w) * 0.5;
    const double y0 = std::max((m_height - h) * 0.5, 20.0);
    const RectF box = rect(x, y0, w, h);
    fill_round_rect(box, 10, m_palette.bar);
    stroke_round_rect(box, 10, m_palette.control_edge, 1);
    add_target(box, Act::None); // a click on the body keeps the panel open

    draw_label(tr("Moved to Trash"), Font::Title, rect(x + 20, y0 + 20, w - 40, title_h),
               m_palette.text);
    double y = y0 + 20 + title_h + 12;
    const double bottom = y0 + h - 20 - 28 - 12; // the rows end above the Close button
    const double body_h = font_height(Font::Body);
    const double cap_h = font_height(Font::Caption);

    if (rows.empty())
        draw_label(tr("Nothing was moved to the Trash in this session."), Font::Body,
                   rect(x + 20, y, w - 40, body_h), m_palette.secondary);
    const int n = static_cast<int>(rows.size());
    m_trashed_row = std::clamp(m_trashed_row, 0, std::max(n - 1, 0));
    m_trashed_first = std::clamp(m_trashed_first, 0, std::max(n - 1, 0));
    if (m_trashed_row < m_trashed_first) m_trashed_first = m_trashed_row;

    // Lays the rows out from m_trashed_first; when the keyboard's row would
    // fall below the panel, starts further down and tries again.
    int drawn = 0;
    for (;;) {
        double cy = y;
        drawn = 0;
        for (int i = m_trashed_first; i < n; ++i) {
            const double rh = rows[static_cast<std::size_t>(i)].entry < 0 ? kHeadH : kItemH;
            if (cy + rh > bottom) break;
            cy += rh;
            ++drawn;
        }
        if (m_trashed_row < m_trashed_first + drawn || m_trashed_first >= m_trashed_row) break;
        ++m_trashed_first;
    }
    m_trashed_visible = std::max(drawn, 1);

    const std::string restore = tr("Restore");
    const std::string restore_all = tr("Restore all");
    auto button = [&](const std::string& label, double right, double cy, double rh, Act act,
                      int index) {
        const double bw = measure_text(label, Font::Caption) + 20;
        const RectF r = rect(right - bw, cy + (rh - 22) * 0.5, bw, 22);
        const bool enabled = !m_restoring && !m_deleting;
        fill_round_rect(r, 4, m_palette.control, enabled ? 1.0 : 0.5);
        stroke_round_rect(r, 4, m_palette.control_edge, 1, enabled ? 1.0 : 0.5);
        draw_label(label, Font::Caption, rect(r.x + 10, r.y, bw - 20, 22), m_palette.text,
                   enabled ? 1.0 : 0.5);
        if (enabled) add_target(r, act, index);
        return bw;
    };

    double cy = y;
    for (int i = m_trashed_first; i < m_trashed_first + drawn; ++i) {
        const TrashRow& row = rows[static_cast<std::size_t>(i)];
        const TrashBatch& batch = m_trash_batches[row.batch];
        const double rh = row.entry < 0 ? kHeadH : kItemH;
        const RectF band = rect(x + 12, cy, w - 24, rh);
        if (i == m_trashed_row) fill_round_rect(band, 5, m_palette.accent, 0.14);
        const double right = x + w - 20;
        if (row.entry < 0) {
            std::int64_t bytes = 0;
            bool pending = false;
            for (const TrashEntry& e : batch.entries) {
                bytes += e.node ? e.node->size : e.item.size;
                pending = pending || e.state != TrashEntry::State::Restored;
            }
            const double bw =
                pending ? button(restore_all, right, cy, rh, Act::TrashRestoreBatch, i) : 0.0;
            const std::string head =
                clock_time(batch.time) + "  ·  " +
                I18n::instance().trf(
                    "%s item(s)",
                    fmt::count(static_cast<std::int64_t>(batch.entries.size())).c_str()) +
                "  ·  " + fmt::bytes(bytes);
            draw_label(truncate_to_width(head, Font::CaptionBold, w - 60 - bw), Font::CaptionBold,
                       rect(x + 20, cy, w - 60 - bw, rh), m_palette.secondary);
            if (i > 0) draw_hairline(cy, x + 20, x + w - 20);
        } else {
            const TrashEntry& e = batch.entries[static_cast<std::size_t>(row.entry)];
            const bool back = e.state == TrashEntry::State::Restored;
            const double bw =
                back ? 0.0 : button(restore, right, cy, rh, Act::TrashRestoreItem, i) + 12;
            const std::string size = fmt::bytes(e.node ? e.node->size : e.item.size);
            const double sw = measure_text(size, Font::Body);
            const double text_w = w - 40 - 14 - bw - sw - 12;
            const double top = cy + (rh - body_h - cap_h - 2) * 0.5;
            draw_label(truncate_to_width(su::basename_of(e.item.path), Font::Body, text_w),
                       Font::Body, rect(x + 34, top, text_w, body_h), m_palette.text);
            draw_label(size, Font::Body, rect(right - bw - sw, top, sw, body_h),
                       m_palette.secondary);
            // Its state, and where it goes back to.
            const char* state_key = back ? "Restored" : "In the Trash";
            const std::string state = e.state == TrashEntry::State::Stayed && !e.problem.empty()
                                          ? e.problem
                                          : std::string(tr(state_key));
            const std::string& state_color = back ? m_palette.ok_fg
                                             : e.state == TrashEntry::State::Stayed
                                                 ? m_palette.danger_fg
                                                 : m_palette.secondary;
            const double line_y = top + body_h + 2;
            const std::string shown = truncate_to_width(state, Font::Caption, text_w);
            const double stw =
                draw_label(shown, Font::Caption, rect(x + 34, line_y, text_w, cap_h), state_color);
            const double pw = text_w - stw - 10;
            if (pw > 40)
                draw_label(
                    truncate_path_middle("  ·  " + su::parent_of(e.item.path), Font::Caption, pw),
                    Font::Caption, rect(x + 34 + stw, line_y, pw, cap_h), m_palette.secondary);
        }
        cy += rh;
    }
    if (m_trashed_first + drawn < n) {
        const std::string more =
            I18n::instance().trf("%s more items", fmt::count(n - m_trashed_first - drawn).c_str());
        draw_label(more, Font::Caption, rect(x + 20, y0 + h - 20 - 28, w - 200, 28),
                   m_palette.secondary);
    }

    const std::string close = tr("Close");
    const double cw = measure_text(close, Font::Body) + 28;
    const RectF close_r = rect(x + w - 20 - cw, y0 + h - 20 - 28, cw, 28);
    fill_round_rect(close_r, 5, m_palette.accent);
    draw_label(close, Font::Body, rect(close_r.x + 14, close_r.y, cw - 28, 28), "#FFFFFF");
    add_target(close_r, Act::DialogButton, CMD_DLG_OK);
}

// ---- Settings panel -------------------------------------------------------------------

void App::draw_settings() {
    const Settings& s = SettingsStore::instance().get();
    const std::vector<LanguageInfo> langs = I18n::available();
    const int rows = (static_cast<int>(langs.size()) + 4) / 4;
    const double cap_bold = font_height(Font::CaptionBold);
    const double w = std::min(m_width - 60, 560.0);
    const double h = font_height(Font::Title) + 20 + 16 + (cap_bold + 6 + 28 + 16) +
                     (cap_bold + 6 + 26.0 * rows + 16) + (cap_bold + 6 + 24 + 18 + 24 + 18) +
                     font_height(Font::Caption) + 8 + 40 + 20;
    const double x = (m_width - w) * 0.5;
    double y = std::max((m_height - h) * 0.5, 20.0);
    const RectF box = rect(x, y, w, h);
    fill_round_rect(box, 10, m_palette.bar);
    stroke_round_rect(box, 10, m_palette.control_edge, 1);

    const double title_h = font_height(Font::Title);
    draw_label(tr("Settings"), Font::Title, rect(x + 20, y + 20, w - 40, title_h), m_palette.text);
    y += 20 + title_h + 16;

    auto heading = [&](const char* key) {
        draw_label(tr(key), Font::CaptionBold, rect(x + 20, y, 200, cap_bold), m_palette.secondary);
        y += cap_bold + 6;
    };

    heading("Theme");
    struct Choice {
        const char* key;
        int id;
        const char* value;
    };
    const Choice themes[] = {{"Automatic", CMD_THEME_AUTO, "auto"},
                             {"Light", CMD_THEME_LIGHT, "light"},
                             {"Dark", CMD_THEME_DARK, "dark"}};
    double cx = x + 20;
    for (const Choice& c : themes) {
        const std::string label = tr(c.key);
        const double bw = measure_text(label, Font::Body) + 24;
        const RectF r = rect(cx, y, bw, 26);
        const bool active = s.theme == c.value;
        if (active) {
            fill_round_rect(r, 5, m_palette.accent);
        } else {
            fill_round_rect(r, 5, m_palette.control);
            stroke_round_rect(r, 5, m_palette.control_edge, 1);
        }
        draw_label(label, Font::Body, rect(cx + 12, y, bw - 24, 26),
                   active ? std::string("#FFFFFF") : m_palette.text);
        add_target(r, Act::SettingsTheme, c.id);
        cx += bw + 8;
    }
    y += 44;

    heading("Language");
    const double cell_w = (w - 40) * 0.25;
    constexpr double cell_h = 26;
    for (std::size_t i = 0; i <= langs.size(); ++i) {
        const std::size_t col = i % 4;
        const std::size_t row = i / 4;
        const bool automatic = i == 0;
        const std::string label = automatic ? tr("Automatic") : langs[i - 1].native_name;
        const int id = automatic ? CMD_LANG_AUTO : CMD_LANG_FIRST + static_cast<int>(i - 1);
        const bool active = automatic ? s.language == "auto" : s.language == langs[i - 1].code;
        const RectF r = rect(x + 20 + static_cast<double>(col) * cell_w,
                             y + static_cast<double>(row) * cell_h, cell_w - 4, cell_h - 3);
        if (active) fill_round_rect(r, 4, m_palette.accent, 0.18);
        draw_label(truncate_to_width(label, Font::Caption, cell_w - 16), Font::Caption,
                   rect(r.x + 8, r.y, cell_w - 16, r.h),
                   active ? m_palette.accent : m_palette.text);
        add_target(r, Act::SettingsLang, id);
    }
    y += 16 + 26.0 * rows;

    heading("Scan");
    auto toggle = [&](const char* label, const char* hint, bool on, Act act) {
        const RectF check = rect(x + 20, y + 4, 15, 15);
        if (on) {
            fill_round_rect(check, 3, m_palette.accent);
            draw_label("✓", Font::Caption, rect(check.x + 2, check.y, 13, 15), "#FFFFFF");
        } else {
            fill_round_rect(check, 3, m_palette.control);
            stroke_round_rect(check, 3, m_palette.control_edge, 1);
        }
        draw_label(tr(label), Font::Body, rect(x + 44, y, w - 64, 22), m_palette.text);
        add_target(rect(x + 20, y, w - 40, 22), act);
        y += 24;
        draw_label(truncate_to_width(tr(hint), Font::Caption, w - 64), Font::Caption,
                   rect(x + 44, y, w - 64, 16), m_palette.secondary);
        y += 18;
    };
    toggle("Count hard links only once",
           "Files under several names count once — otherwise the total exceeds the space in use.",
           s.dedupe_hard_links, Act::SettingsDedupe);
    toggle("Stay on one filesystem",
           "Otherwise everything mounted below the chosen folder is included.", s.one_filesystem,
           Act::SettingsOneFs);

    const std::string note = tr("Sizes show the space actually occupied on disk.");
    const double note_h = font_height(Font::Caption);
    draw_label(truncate_to_width(note, Font::Caption, w - 40), Font::Caption,
               rect(x + 20, y, w - 40, note_h), m_palette.secondary, 0.8);
    y += note_h + 8;

    const std::string close = tr("Close");
    const double bw = measure_text(close, Font::Body) + 28;
    const RectF b = rect(x + w - 20 - bw, y, bw, 28);
    fill_round_rect(b, 5, m_palette.accent);
    draw_label(close, Font::Body, rect(b.x + 14, y, bw - 28, 28), "#FFFFFF");
    add_target(b, Act::DialogButton, CMD_DLG_OK);
}

// ---- About panel ----------------------------------------------------------------------

void App::draw_about() {
    const double w = std::min(m_width - 60, 460.0);
    const std::vector<std::string> lines =
        wrap_text(tr("This software is provided \"as is\", without warranty of any kind, "
                     "express or implied. Use at your own risk. The author shall not be liable "
                     "for any damages arising from the use of this software."),
                  Font::Caption, w - 44);
    const double cap = font_height(Font::Caption);
    const double line_h = cap + 2;
    const double h = font_height(Font::Title) + 98 + 6 + 4 * cap + font_height(Font::BodyBold) + 8 +
                     2 + 6 + 18 + font_height(Font::CaptionBold) + 4 +
                     static_cast<double>(lines.size()) * line_h + 16 + 28 + 22;
    const double x = (m_width - w) * 0.5;
    const double top = std::max((m_height - h) * 0.5, 20.0);
    const RectF box = rect(x, top, w, h);
    fill_round_rect(box, 10, m_palette.bar);
    stroke_round_rect(box, 10, m_palette.control_edge, 1);

    // A failed decode leaves the space empty and is tried again next frame.
    if (!m_about_icon) m_about_icon = decode_icon();
    if (m_about_icon && m_cr) {
        cairo_save(m_cr);
        gdk_cairo_set_source_pixbuf(m_cr, m_about_icon.get(), x + (w - 64) * 0.5, top + 22);
        cairo_paint(m_cr);
        cairo_restore(m_cr);
    }
    double y = top + 22 + 76;
    const double mid = x + w * 0.5;

    draw_centered(kProduct, Font::Title, mid, y, m_palette.text);
    y += font_height(Font::Title) + 6;
    std::string version = std::string("Version ") + kVersion + " (Build " + kBuild + ")";
    if (const char* snap = std::getenv("SNAP_REVISION"); snap && *snap)
        version += std::string("  ·  Snap ") + snap;
    draw_centered(version, Font::Caption, mid, y, m_palette.secondary);
    y += cap + 2 + 8;
    draw_centered(tr("Developed by"), Font::Caption, mid, y, m_palette.secondary);
    y += cap + 2;
    draw_centered(kAuthor, Font::BodyBold, mid, y, m_palette.text);
    y += font_height(Font::BodyBold) + 2;
    draw_centered(kRights, Font::Caption, mid, y, m_palette.secondary);
    y += cap + 2 + 6;
    const double lw = draw_centered(kWebsiteLabel, Font::Caption, mid, y, m_palette.accent);
    add_target(rect(mid - lw * 0.5, y, lw, cap), Act::LinkWebsite);
    y += cap + 2 + 18;

    const double cb = font_height(Font::CaptionBold);
    draw_label(tr("Disclaimer"), Font::CaptionBold, rect(x + 22, y, w - 44, cb),
               m_palette.secondary);
    y += cb + 4;
    for (const std::string& line : lines) {
        draw_label(line, Font::Caption, rect(x + 22, y, w - 44, line_h), m_palette.secondary, 0.85);
        y += line_h;
    }
    y += 16;

    const std::string close = tr("Close");
    const double bw = measure_text(close, Font::Body) + 28;
    const RectF b = rect(x + w - 22 - bw, y, bw, 28);
    fill_round_rect(b, 5, m_palette.accent);
    draw_label(close, Font::Body, rect(b.x + 14, y, bw - 28, 28), "#FFFFFF");
    add_target(b, Act::DialogButton, CMD_DLG_OK);
}

// ---- Search bar -----------------------------------------------------------------------

void App::draw_search_bar() {
    const RectF r = m_r_search;
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y + r.h, 0, m_width);
    const std::string title = tr("Search");
    const double title_w = measure_text(title, Font::CaptionBold);
    draw_label(title, Font::CaptionBold, rect(12, r.y, title_w, r.h), m_palette.secondary);

    const double fx = 12 + title_w + 10;
    const double field_w = std::min(0.4 * m_width, 360.0);
    const RectF field = rect(fx, r.y + 4, field_w, r.h - 8);
    fill_round_rect(field, 4, m_palette.control);
    stroke_round_rect(field, 4, m_palette.accent, 1);
    const RectF inner = rect(fx + 8, field.y, field_w - 16, field.h);
    if (m_search_query.empty()) {
        draw_label(truncate_to_width(tr("Type to search"), Font::Body, field_w - 16), Font::Body,
                   inner, m_palette.secondary);
    } else {
        const std::string shown = truncate_to_width(m_search_query, Font::Body, field_w - 16);
        const double qw = draw_label(shown, Font::Body, inner, m_palette.text);
        const double caret = std::min(fx + field_w - 6, fx + 8 + qw + 2);
        fill_rect(rect(caret, field.y + 4, 1.5, field.h - 8), m_palette.text, 0.7);

        const std::size_t n = m_search_hits.size();
        const std::string count =
            n == 0   ? std::string(tr("No matches"))
            : n == 1 ? std::string(tr("1 match"))
                     : I18n::instance().trf("%s matches",
                                            fmt::count(static_cast<std::int64_t>(n)).c_str());
        double cx = fx + field_w + 12;
        const double cw = measure_text(count, Font::Caption);
        draw_label(count, Font::Caption, rect(cx, r.y, cw, r.h),
                   n == 0 ? m_palette.danger_fg : m_palette.secondary);
        cx += cw + 12;
        if (n > 1) {
            const std::string next = tr("Next");
            const double bw = measure_text(next, Font::Caption) + 18;
            const RectF b = rect(cx, r.y + 4, bw, r.h - 8);
            fill_round_rect(b, 4, m_palette.control);
            stroke_round_rect(b, 4, m_palette.control_edge, 1);
            draw_label(next, Font::Caption, rect(cx + 9, b.y, bw - 18, b.h), m_palette.text);
            add_target(b, Act::SearchNext);
        }
    }
    const RectF close = rect(m_width - 26, r.y, 18, r.h);
    draw_label("✕", Font::Caption, close, m_palette.secondary);
    add_target(close, Act::SearchClose);
}
