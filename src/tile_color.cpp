#include "tile_color.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "file_node.h"

namespace tile_color {

namespace {

// log10(731): an age of 730 days reaches the oldest colour.
constexpr double kAgeScale = 2.8639173769578603;
constexpr double kNewestHue = 0.66 - 0.64;
constexpr double kOldestHue = 0.66;

// FNV-1a style, but from a basis one digit short of the usual one; the
// colours of existing names depend on this exact constant.
double hash01(std::string_view s) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s)
        h = (h ^ c) * 1099511628211ULL;
    return static_cast<double>(h % 10000) / 10000.0;
}

double heat_hue(std::int64_t modified, std::int64_t now) {
    if (modified >= now) return kNewestHue;
    // Unsigned difference: exact for any pair of times, no signed overflow.
    const std::uint64_t seconds =
        static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(modified);
    const double age_days = static_cast<double>(seconds) / 86400.0;
    const double t = std::min(std::log10(age_days + 1.0) / kAgeScale, 1.0);
    return kOldestHue - (1.0 - t) * 0.64;
}

} // namespace

Rgb color(const FileNode& node, ColorMode mode, std::int64_t now, double prominence) {
    const double p = prominence > 0.0 ? std::min(prominence, 1.0) : 0.0;
    const double boost = std::pow(p, 0.45) * 0.5;
    const double brightness = 0.97 - boost;
    const double sat_boost = 0.45 + boost;
    if (mode == ColorMode::Heat) {
        const double saturation = std::min(sat_boost * 0.45 + 0.55, 1.0);
        return hsb(heat_hue(node.modified, now), saturation, brightness);
    }
    const double jitter = hash01(node.name);
    const double hue = (jitter - 0.5) * 0.04 + category::base_hue(node.category);
    const double saturation =
        std::min(sat_boost * (category::base_saturation(node.category) / 0.62), 1.0);
    return hsb(hue, saturation, brightness);
}

Rgb swatch(FileCategory c) {
    return hsb(category::base_hue(c), std::min(category::base_saturation(c) / 0.62 * 0.85, 1.0),
               0.82);
}

Rgb heat_stop(int index) {
    static constexpr double hues[] = {0.66, 0.5, 0.33, 0.16, 0.02};
    return hsb(hues[std::clamp(index, 0, 4)], 0.72, 0.92);
}

const char* mode_label_key(ColorMode mode) {
    return mode == ColorMode::Category ? "Type" : "Age";
}

} // namespace tile_color
