// The screens that take the content region's place: the live scanning
// screen, the welcome screen before any result, and the shown folder's
// summary that stands until the map and tree views draw it.
#include "app.h"

#include "format.h"
#include "i18n.h"
#include "paths.h"

namespace {

// Byte offsets of the characters of `s` (stray bytes count as characters).
std::vector<std::size_t> char_offsets(const std::string& s) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < s.size();) {
        out.push_back(i);
        const auto c = static_cast<unsigned char>(s[i]);
        i += c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    }
    return out;
}

} // namespace

void App::draw_scanning() {
    const RectF r = m_r_content;
    const double cx = r.x + r.w * 0.5;
    double y = r.y + r.h * 0.5 - 50;
    const std::string head = I18n::instance().trf("Scanning … on %s of %s CPU cores",
                                                  fmt::count(scanner::worker_count()).c_str(),
                                                  fmt::count(scanner::total_core_count()).c_str());
    draw_centered(head, Font::BodyBold, cx, y, m_palette.text);
    y += font_height(Font::BodyBold) + 10;
    const std::string counts =
        fmt::bytes(m_scanned_bytes) + "  ·  " +
        I18n::instance().trf("%s files scanned", fmt::count(m_scanned_files).c_str());
    draw_centered(counts, Font::Body, cx, y, m_palette.text);
    y += font_height(Font::Body) + 8;

    // Keep the end of the path, which names the folder being read.
    const std::string p = to_display_path(m_current_path);
    const double max = r.w * 0.8;
    std::string shown = p;
    if (measure_text(p, Font::Caption) > max) {
        // The fewest leading characters to drop; dropping more never widens
        // the text, so a binary search finds it with a handful of layouts.
        const std::vector<std::size_t> offs = char_offsets(p);
        std::size_t lo = 1;
        std::size_t hi = offs.size(); // offs.size(): nothing fits
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (measure_text("…" + p.substr(offs[mid]), Font::Caption) <= max) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        if (lo < offs.size()) shown = "…" + p.substr(offs[lo]);
    }
    draw_centered(shown, Font::Caption, cx, y, m_palette.secondary);

    const std::string label = tr("Cancel scan");
    const double bw = measure_text(label, Font::Body) + 22;
    const RectF b =
        draw_button(cx - bw * 0.5, y + font_height(Font::Caption) + 18, label, false, true);
    add_target(b, Act::CancelScan);
}

void App::draw_empty_state() {
    const RectF r = m_r_content;
    const double cx = r.x + r.w * 0.5;
    double y = r.y + r.h * 0.5 - 60;
    draw_centered(tr("Spacemole"), Font::Title, cx, y, m_palette.text);
    y += font_height(Font::Title) + 14;
    const std::string body =
        tr("Choose a folder or volume to see\nwhere your space is being used.");
    std::size_t start = 0;
    while (start <= body.size()) {
        const std::size_t nl = body.find('\n', start);
        const std::string line =
            body.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        draw_centered(line, Font::Body, cx, y, m_palette.secondary);
        y += font_height(Font::Body) + 3;
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    const std::string label = tr("Choose folder");
    const double bx = r.x + (r.w - (measure_text(label, Font::Body) + 46)) * 0.5;
    const RectF b = draw_button(bx, y + 18, label, true, true);
    add_target(b, Act::ChooseFolder);
}

void App::draw_shown_folder() {
    const FileNodePtr shown = current();
    const RectF r = m_r_content;
    if (!shown || r.h < 40) return;
    const double cx = r.x + r.w * 0.5;
    double y = r.y + r.h * 0.5 - font_height(Font::Title);
    const std::string name = truncate_to_width(shown->name, Font::Title, r.w - 40);
    draw_centered(name, Font::Title, cx, y, m_palette.text);
    y += font_height(Font::Title) + 6;
    draw_centered(fmt::bytes(shown->size) + "  ·  " + fmt::files(shown->file_count), Font::Body, cx,
                  y, m_palette.secondary);
}
