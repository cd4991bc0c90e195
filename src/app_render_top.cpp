// The top of the window: toolbar, path bar with breadcrumbs and the "…"
// fold, the skipped-folders banner, and the freed-space banner above the
// bottom bars.
#include "app.h"

#include "format.h"
#include "i18n.h"
#include "paths.h"

namespace {

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

} // namespace

// ---- Toolbar --------------------------------------------------------------------

double App::draw_segmented(double x, const RectF& r, const char* left, const char* right,
                           bool left_active, Act left_act, Act right_act) {
    const std::string ltext = tr(left);
    const std::string rtext = tr(right);
    const double lw = measure_text(ltext, Font::Body) + 24;
    const double rw = measure_text(rtext, Font::Body) + 24;
    const double ty = r.y + (r.h - 24) * 0.5;
    fill_round_rect(rect(x, ty, lw + rw, 24), 5, m_palette.track);
    const RectF lrect = rect(x, ty, lw, 24);
    const RectF rrect = rect(x + lw, ty, rw, 24);
    fill_round_rect(left_active ? lrect : rrect, 5, m_palette.accent);
    const std::string white = "#FFFFFF";
    draw_label(ltext, Font::Body, rect(x + 12, ty, lw - 24, 24),
               left_active ? white : m_palette.text);
    draw_label(rtext, Font::Body, rect(x + lw + 12, ty, rw - 24, 24),
               left_active ? m_palette.text : white);
    add_target(lrect, left_act);
    add_target(rrect, right_act);
    return x + lw + rw + 14;
}

void App::draw_toolbar() {
    const RectF r = m_r_toolbar;
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y + r.h, 0, m_width);
    const double by = r.y + (r.h - 26) * 0.5;
    double x = 12;

    RectF b = draw_button(x, by, tr("Choose folder"), true, true);
    add_target(b, Act::ChooseFolder);
    x += b.w + 6;
    b = draw_button(x, by, "", true, true, "▾");
    add_target(b, Act::QuickPick);
    x += b.w + 14;
    const bool up = can_zoom_out();
    b = draw_button(x, by, "", up, up, "↑");
    if (up) add_target(b, Act::Up);
    x += b.w + 4;
    const bool down = can_zoom_in();
    b = draw_button(x, by, "", down, down, "↓");
    if (down) add_target(b, Act::Down);
    x += b.w + 14;

    x = draw_segmented(x, r, "Type", "Age", m_color_mode == ColorMode::Category, Act::ModeCategory,
                       Act::ModeHeat);
    draw_segmented(x, r, "Map", "Tree", m_view_mode == ViewMode::Map, Act::ViewMap, Act::ViewTree);

    const double rx = m_width - 12;
    const RectF gear = rect(rx - 30, by, 30, 26);
    fill_round_rect(gear, 5, m_palette.control);
    stroke_round_rect(gear, 5, m_palette.control_edge, 1);
    draw_label("⚙", Font::Body, rect(gear.x + 9, by, 30, 26), m_palette.text);
    add_target(gear, Act::AppMenu);

    const char* key = m_scanning ? "Cancel scan" : !m_scan_root.empty() ? "Rescan" : nullptr;
    if (key) {
        const std::string label = tr(key);
        const double bx = rx - 36 - (measure_text(label, Font::Body) + 22);
        b = draw_button(bx, by, label, false, true);
        add_target(b, m_scanning ? Act::CancelScan : Act::Rescan);
    }
}

// ---- Path bar -------------------------------------------------------------------

std::vector<App::Crumb> App::build_crumbs() const {
    std::vector<Crumb> crumbs;
    if (!m_root) return crumbs;
    const std::string& rp = m_root->path;
    if (rp == "/") {
        crumbs.push_back({"/", Act::Breadcrumb, -1});
    } else {
        crumbs.push_back({"/", Act::ScanAncestor, 1});
        std::size_t start = 1;
        while (true) {
            const std::size_t slash = rp.find('/', start);
            if (slash == std::string::npos) break;
            crumbs.push_back(
                {rp.substr(start, slash - start), Act::ScanAncestor, static_cast<int>(slash)});
            start = slash + 1;
        }
        crumbs.push_back({rp.substr(start), Act::Breadcrumb, -1});
    }
    for (std::size_t i = 0; i < m_path.size(); ++i)
        crumbs.push_back({m_path[i]->name, Act::Breadcrumb, static_cast<int>(i)});
    return crumbs;
}

void App::draw_path_bar() {
    const RectF r = m_r_pathbar;
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y + r.h, 0, m_width);
    const double max = m_width - 24 - 90;
    double x = 12;
    if (m_saved_scan) {
        // The crumbs follow the note, in the width that is left.
        const std::string note = saved_scan_note();
        const double nw = measure_text(note, Font::CaptionBold);
        draw_label(note, Font::CaptionBold, rect(x, r.y, nw, r.h), m_palette.secondary);
        x += nw + 14;
    }
    const std::vector<Crumb> crumbs = build_crumbs();
    std::vector<std::string> shown;
    std::vector<double> widths;
    for (const Crumb& c : crumbs) {
        shown.push_back(truncate_to_width(c.label, Font::Caption, 220));
        widths.push_back(measure_text(shown.back(), Font::Caption));
    }
    const std::string more = "…";
    const double more_w = measure_text(more, Font::Caption);
    auto total_from = [&](std::size_t first, bool elided) {
        double t = elided ? more_w + 14 : 0;
        for (std::size_t i = first; i < widths.size(); ++i)
            t += widths[i] + (i + 1 < widths.size() ? 14 : 0);
        return t;
    };
    std::size_t first = 0;
    bool elided = false;
    double total = total_from(0, false);
    while (total > max - x && first + 1 < crumbs.size()) {
        ++first;
        elided = true;
        total = total_from(first, true);
    }
    m_crumbs_hidden.assign(crumbs.begin(), crumbs.begin() + static_cast<long>(first));

    if (elided) {
        const RectF mr = rect(x, r.y, more_w, r.h);
        draw_label(more, Font::Caption, mr, m_palette.accent);
        add_target(mr, Act::CrumbMore);
        draw_label("›", Font::Caption, rect(x + more_w + 4, r.y, 10, r.h), m_palette.secondary);
        x += more_w + 14;
    }
    for (std::size_t i = first; i < crumbs.size(); ++i) {
        const double w = widths[i];
        if (x + w > max) break;
        const bool last = i + 1 == crumbs.size();
        const RectF cr = rect(x, r.y, w, r.h);
        if (last) {
            draw_label(shown[i], Font::Caption, cr, m_palette.text);
        } else {
            // A saved scan's folders above its root are not here to scan.
            const bool link = !(m_saved_scan && crumbs[i].act == Act::ScanAncestor);
            draw_label(shown[i], Font::Caption, cr, link ? m_palette.accent : m_palette.secondary);
            if (link) add_target(cr, crumbs[i].act, crumbs[i].index);
            draw_label("›", Font::Caption, rect(x + w + 4, r.y, 10, r.h), m_palette.secondary);
        }
        x += w + 14;
    }

    const std::string link = tr("In file manager");
    const double lw = measure_text(link, Font::Caption);
    const RectF lr = rect(m_width - 12 - lw, r.y, lw, r.h);
    if (m_saved_scan) {
        draw_label(link, Font::Caption, lr, m_palette.secondary, 0.6);
    } else {
        draw_label(link, Font::Caption, lr, m_palette.accent);
        add_target(lr, Act::RevealCurrent);
    }
}

// ---- Banners --------------------------------------------------------------------

void App::draw_banners() {
    if (m_r_denied.h > 0) {
        const RectF r = m_r_denied;
        fill_rect(r, m_palette.warn_bg);
        draw_hairline(r.y + r.h, 0, m_width);
        std::string text;
        if (m_denied_folders > 0)
            text = I18n::instance().trf("%s folders skipped (no access)",
                                        fmt::count(m_denied_folders).c_str());
        if (m_skipped_folders > 0) {
            if (!text.empty()) text += " · ";
            text += I18n::instance().trf("%s folders skipped (remote or FUSE mount)",
                                         fmt::count(m_skipped_folders).c_str());
        }
        if (running_in_snap() && !hostfs_available())
            text += std::string(" — ") + tr("System folders are not visible in this sandbox.");
        draw_label(text, Font::Caption, rect(12, r.y, m_width - 60, r.h), m_palette.warn_fg);
        const RectF close = rect(m_width - 26, r.y, 18, r.h);
        draw_label("✕", Font::Caption, close, m_palette.warn_fg, 0.8);
        add_target(close, Act::DismissDenied);
    }
    if (m_r_freed.h > 0) {
        const RectF r = m_r_freed;
        const bool failed = !m_delete_error.empty();
        const std::string& fg = failed ? m_palette.danger_fg : m_palette.ok_fg;
        fill_rect(r, failed ? m_palette.danger_bg : m_palette.ok_bg);
        draw_hairline(r.y, 0, m_width);
        // Items in the Trash still take their space until the Trash is emptied.
        const char* pattern = m_freed_permanently
                                  ? "Deleted %s — space freed."
                                  : "Moved %s to Trash — empty the Trash to free the space.";
        const bool restored = !failed && !m_restore_note.empty();
        const std::string text =
            failed     ? m_delete_error
            : restored ? m_restore_note
                       : I18n::instance().trf(pattern, fmt::bytes(m_last_freed).c_str());
        double text_w = m_width - 60;
        if (m_undo_serial != 0) {
            // "Undo" left of the close sign; dimmed while a file operation runs.
            const std::string undo = tr("Undo");
            const double uw = measure_text(undo, Font::Caption) + 20;
            const RectF button = rect(m_width - 36 - uw, r.y + (r.h - 20) * 0.5, uw, 20);
            const bool enabled = can_undo();
            stroke_round_rect(button, 4, fg, 1, enabled ? 1.0 : 0.5);
            draw_label(undo, Font::Caption, rect(button.x + 10, button.y, uw - 20, 20), fg,
                       enabled ? 1.0 : 0.5);
            if (enabled) add_target(button, Act::UndoTrash);
            text_w = button.x - 12 - 12;
        }
        draw_label(truncate_to_width(text, Font::Caption, text_w), Font::Caption,
                   rect(12, r.y, text_w, r.h), fg);
        const RectF close = rect(m_width - 26, r.y, 18, r.h);
        draw_label("✕", Font::Caption, close, fg, 0.8);
        add_target(close, Act::DismissFreed);
    }
}
