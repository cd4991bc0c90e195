#include "theme.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// NaN fails every comparison, so it lands on `lo` here instead of leaking
// through std::clamp into later integer conversions.
double clamp_or_low(double x, double lo, double hi) {
    if (!(x > lo)) return lo;
    return x < hi ? x : hi;
}

int channel_byte(double x) {
    const double scaled = x * 255.0 + 0.5;
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 255.0) return 255;
    return static_cast<int>(scaled);
}

} // namespace

bool hex_to_rgb(std::string_view hex, Rgb& out) {
    if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
    if (hex.size() != 6) return false;
    std::uint32_t v = 0;
    for (char c : hex) {
        const int d = hex_digit(c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    out.r = static_cast<double>((v >> 16) & 255) / 255.0;
    out.g = static_cast<double>((v >> 8) & 255) / 255.0;
    out.b = static_cast<double>(v & 255) / 255.0;
    return true;
}

std::string rgb_to_hex(const Rgb& c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", channel_byte(c.r), channel_byte(c.g),
                  channel_byte(c.b));
    return buf;
}

Rgb mix(const Rgb& fg, const Rgb& bg, double alpha) {
    return {fg.r * alpha + bg.r * (1.0 - alpha), fg.g * alpha + bg.g * (1.0 - alpha),
            fg.b * alpha + bg.b * (1.0 - alpha)};
}

std::string mix_hex(std::string_view fg, std::string_view bg, double alpha) {
    Rgb f;
    Rgb b;
    if (!hex_to_rgb(fg, f) || !hex_to_rgb(bg, b)) return std::string(fg);
    return rgb_to_hex(mix(f, b, alpha));
}

Rgb hsb(double h, double s, double v) {
    if (!std::isfinite(h)) h = 0.0;
    h -= std::floor(h);
    s = clamp_or_low(s, 0.0, 1.0);
    v = clamp_or_low(v, 0.0, 1.0);
    const double sector = h * 6.0;
    const double whole = std::floor(sector);
    // A hue a hair below 0 wraps to exactly 1.0, giving sector 6: fold it to 0.
    const int i = static_cast<int>(whole) % 6;
    const double f = sector - whole;
    const double p = v * (1.0 - s);
    const double q = v * (1.0 - s * f);
    const double t = v * (1.0 - s * (1.0 - f));
    switch (i) {
    case 0:
        return {v, t, p};
    case 1:
        return {q, v, p};
    case 2:
        return {p, v, t};
    case 3:
        return {p, q, v};
    case 4:
        return {t, p, v};
    default:
        return {v, p, q};
    }
}

Palette Palette::light() {
    return Palette{false,     "#ECECEC", "#FFFFFF", "#E6E6E6", "#1E1E1E", "#808080",
                   "#3578F7", "#FFFFFF", "#C8C8C8", "#ECECEC", "#FDF0DF", "#B26A00",
                   "#FDECEB", "#C4342A", "#E4F6E8", "#1E8E3E"};
}

Palette Palette::dark_() {
    return Palette{true,      "#1C1C1E", "#2C2C2E", "#3A3A3C", "#E5E5E7", "#98989D",
                   "#0A84FF", "#3A3A3C", "#4E4E50", "#3A3A3C", "#3A3324", "#F0A030",
                   "#3A2725", "#FF6B60", "#233529", "#4CD964"};
}

Palette Palette::for_theme(bool dark) {
    return dark ? dark_() : light();
}
