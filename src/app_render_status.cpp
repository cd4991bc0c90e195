// The status bar: the selected node with its actions, or the volume's usage,
// and the report of the finished scan.
#include "app.h"

#include "format.h"
#include "i18n.h"

namespace {

RectF rect(double x, double y, double w, double h) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
            static_cast<float>(h)};
}

} // namespace

std::string App::saved_scan_note() const {
    const std::string when = fmt::date(m_saved_time);
    return I18n::instance().trf("Saved scan from %s", when.empty() ? "?" : when.c_str());
}

void App::draw_status_bar() {
    const RectF r = m_r_status;
    fill_rect(r, m_palette.bar);
    draw_hairline(r.y, 0, m_width);

    double left_end = 0; // where the selection's facts and actions end
    if (m_selected) {
        const FileNodePtr node = m_selected;
        const std::string name = truncate_to_width(node->name, Font::CaptionBold, 0.3 * m_width);
        const double nw = measure_text(name, Font::CaptionBold);
        draw_label(name, Font::CaptionBold, rect(12, r.y, nw, r.h), m_palette.text);
        double x = 12 + nw + 10;
        const std::string facts = fmt::bytes(node->size) + "  ·  " + fmt::files(node->file_count);
        x += draw_label(facts, Font::Caption, rect(x, r.y, 0, r.h), m_palette.secondary) + 14;
        const std::string reveal = tr("In file manager");
        const double rw = measure_text(reveal, Font::Caption);
        // An aggregate or an unreachable mount has no place to show.
        if (node->allows(FileNode::Action::Reveal)) {
            draw_label(reveal, Font::Caption, rect(x, r.y, rw, r.h), m_palette.accent);
            add_target(rect(x, r.y, rw, r.h), Act::StatusReveal);
        } else {
            draw_label(reveal, Font::Caption, rect(x, r.y, rw, r.h), m_palette.secondary, 0.6);
        }
        x += rw + 12;
        const std::string mark =
            tr(is_in_basket(node) ? "Remove from delete list" : "Mark for deletion");
        const double mw = measure_text(mark, Font::Caption);
        // The same refusals as the delete list's own (the root, aggregates,
        // read-only and repaired entries, protected paths).
        const bool refused = !node->allows(FileNode::Action::Change) ||
                             (m_root && node->id == m_root->id) || selected_is_protected();
        if (refused) {
            draw_label(mark, Font::Caption, rect(x, r.y, mw, r.h), m_palette.secondary, 0.6);
        } else {
            draw_label(mark, Font::Caption, rect(x, r.y, mw, r.h), m_palette.danger_fg);
            add_target(rect(x, r.y, mw, r.h), Act::StatusToggleBasket);
        }
        left_end = x + mw;
    } else if (m_volume_total >= 1) {
        std::string text = m_volume_name.empty() ? std::string() : m_volume_name + ":  ";
        text += I18n::instance().trf("%s used · %s free of %s", fmt::bytes(m_volume_used).c_str(),
                                     fmt::bytes(m_volume_free).c_str(),
                                     fmt::bytes(m_volume_total).c_str());
        const double tw = measure_text(text, Font::Caption);
        draw_label(text, Font::Caption, rect(12, r.y, tw, r.h), m_palette.secondary);
        const double bx = 12 + tw + 12;
        if (m_width - 200 > 120 + bx) {
            const RectF track = rect(bx, r.y + r.h * 0.5 - 4, 120, 8);
            fill_round_rect(track, 4, m_palette.track);
            const double frac =
                static_cast<double>(m_volume_used) / static_cast<double>(m_volume_total);
            const bool full = frac > 0.9;
            const double fw = full ? std::min(120 * frac, 120.0) : std::max(120 * frac, 2.0);
            fill_round_rect(rect(bx, track.y, fw, 8), 4,
                            full ? m_palette.danger_fg : m_palette.accent, 0.9);
        }
    }

    double right = m_width - 12;
    if (m_root && !m_scanning) {
        const std::string done =
            m_saved_scan ? saved_scan_note()
                         : I18n::instance().trf("Scan complete: %s files",
                                                fmt::count(m_root->file_count).c_str()) +
                               "  ·  " + fmt::seconds(m_scan_duration);
        const double dw = measure_text(done, Font::Caption);
        draw_label(done, Font::Caption, rect(right - dw, r.y, dw, r.h), m_palette.secondary);
        right -= dw + 16;
    }
    if (!m_trash_batches.empty()) {
        // The way back to everything moved to the Trash since start.
        std::int64_t items = 0;
        for (const TrashBatch& b : m_trash_batches)
            items += static_cast<std::int64_t>(b.entries.size());
        const std::string link =
            std::string("↺ ") + tr("Moved to Trash") + " (" + fmt::count(items) + ")";
        const double lw = measure_text(link, Font::Caption);
        // On a narrow window the selection keeps its room; the File menu
        // still opens the panel.
        if (right - lw > left_end + 12) {
            draw_label(link, Font::Caption, rect(right - lw, r.y, lw, r.h), m_palette.accent);
            add_target(rect(right - lw, r.y, lw, r.h), Act::OpenTrashed);
        }
    }
}
