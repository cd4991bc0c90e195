#include "theme.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

void expect_rgb(const Rgb& got, double r, double g, double b, double tol = 1e-12) {
    EXPECT_NEAR(got.r, r, tol);
    EXPECT_NEAR(got.g, g, tol);
    EXPECT_NEAR(got.b, b, tol);
}

bool same(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) < 1e-12 && std::abs(a.g - b.g) < 1e-12 &&
           std::abs(a.b - b.b) < 1e-12;
}

TEST(HexToRgb, ReadsSixDigitsWithOrWithoutHashInEitherCase) {
    for (const char* text : {"#3578F7", "3578f7", "#3578f7", "3578F7"}) {
        Rgb c;
        ASSERT_TRUE(hex_to_rgb(text, c)) << text;
        expect_rgb(c, 53 / 255.0, 120 / 255.0, 247 / 255.0);
    }
    Rgb white;
    ASSERT_TRUE(hex_to_rgb("#FFFFFF", white));
    expect_rgb(white, 1, 1, 1);
}

TEST(HexToRgb, RejectsOtherShapesAndLeavesTheOutputAlone) {
    const char* bad[] = {"#FFF",    "#12345G", "",         "#",       "##123456",
                         "1234567", "#12 456", "#1234567", "+123456", "0x1234"};
    for (const char* text : bad) {
        Rgb c{0.25, 0.5, 0.75};
        EXPECT_FALSE(hex_to_rgb(text, c)) << text;
        expect_rgb(c, 0.25, 0.5, 0.75);
    }
}

TEST(RgbToHex, RoundsClampsAndWritesUpperCase) {
    EXPECT_EQ(rgb_to_hex({1.2, -0.1, 0.5}), "#FF0080");
    EXPECT_EQ(rgb_to_hex({0.0, 0.0, 0.0}), "#000000");
    EXPECT_EQ(rgb_to_hex({171 / 255.0, 205 / 255.0, 239 / 255.0}), "#ABCDEF");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(rgb_to_hex({nan, inf, -inf}), "#00FF00");
    EXPECT_EQ(rgb_to_hex({1e300, -1e300, 0.999}), "#FF00FF");
}

TEST(RgbToHex, EveryByteSurvivesARoundTrip) {
    for (int v = 0; v < 256; ++v) {
        char text[8];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", v, 255 - v, (v * 7) & 255);
        Rgb c;
        ASSERT_TRUE(hex_to_rgb(text, c));
        EXPECT_EQ(rgb_to_hex(c), text);
    }
}

TEST(Mix, BlendsLinearlyWithoutClamping) {
    const Rgb fg{1.0, 0.5, 0.0};
    const Rgb bg{0.0, 0.5, 1.0};
    expect_rgb(mix(fg, bg, 1.0), 1.0, 0.5, 0.0);
    expect_rgb(mix(fg, bg, 0.0), 0.0, 0.5, 1.0);
    expect_rgb(mix(fg, bg, 0.25), 0.25, 0.5, 0.75);
    expect_rgb(mix(fg, bg, 2.0), 2.0, 0.5, -1.0);
}

TEST(MixHex, BlendsStringsAndFallsBackToTheForeground) {
    EXPECT_EQ(mix_hex("#FFFFFF", "#000000", 0.5), "#808080");
    EXPECT_EQ(mix_hex("#3578F7", "#FFFFFF", 1.0), "#3578F7");
    EXPECT_EQ(mix_hex("#3578F7", "#FFFFFF", 0.0), "#FFFFFF");
    EXPECT_EQ(mix_hex("#3578F7", "oops", 0.5), "#3578F7");
    EXPECT_EQ(mix_hex("nope", "#FFFFFF", 0.5), "nope");
}

TEST(Hsb, PrimaryAndSecondaryHues) {
    struct Case {
        double h;
        double r, g, b;
    } cases[] = {
        {0.0, 1, 0, 0},     {1.0 / 6, 1, 1, 0}, {1.0 / 3, 0, 1, 0}, {0.5, 0, 1, 1},
        {2.0 / 3, 0, 0, 1}, {5.0 / 6, 1, 0, 1}, {0.25, 0.5, 1, 0},  {0.9, 1, 0, 0.6},
        {-1e-18, 1, 0, 0}, // wraps to exactly 1.0: sector 6 must fold to red
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.h);
        expect_rgb(hsb(c.h, 1, 1), c.r, c.g, c.b, 1e-9);
    }
    expect_rgb(hsb(0.55, 0.4, 0.8), 0.48, 0.704, 0.8, 1e-9);
}

TEST(Hsb, WrapsHuesAndClampsSaturationAndBrightness) {
    EXPECT_TRUE(same(hsb(1.25, 1, 1), hsb(0.25, 1, 1)));
    EXPECT_TRUE(same(hsb(-0.1, 1, 1), hsb(0.9, 1, 1)));
    EXPECT_TRUE(same(hsb(-3.7, 0.5, 0.5), hsb(0.3, 0.5, 0.5)));
    EXPECT_TRUE(same(hsb(0.4, 2, 1), hsb(0.4, 1, 1)));
    EXPECT_TRUE(same(hsb(0.4, -1, 1), hsb(0.4, 0, 1)));
    expect_rgb(hsb(0.4, 0, 0.7), 0.7, 0.7, 0.7);
    expect_rgb(hsb(0.4, 0.5, -1), 0, 0, 0);
    expect_rgb(hsb(0.4, 0.5, 3), hsb(0.4, 0.5, 1).r, hsb(0.4, 0.5, 1).g, hsb(0.4, 0.5, 1).b);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(same(hsb(nan, 1, 1), hsb(0, 1, 1)));
    expect_rgb(hsb(0.3, nan, nan), 0, 0, 0);
}

TEST(Palette, BothPalettesHoldTheirFifteenColours) {
    struct Row {
        std::string Palette::*field;
        const char* light;
        const char* dark;
    } rows[] = {
        {&Palette::window, "#ECECEC", "#1C1C1E"},    {&Palette::bar, "#FFFFFF", "#2C2C2E"},
        {&Palette::divider, "#E6E6E6", "#3A3A3C"},   {&Palette::text, "#1E1E1E", "#E5E5E7"},
        {&Palette::secondary, "#808080", "#98989D"}, {&Palette::accent, "#3578F7", "#0A84FF"},
        {&Palette::control, "#FFFFFF", "#3A3A3C"},   {&Palette::control_edge, "#C8C8C8", "#4E4E50"},
        {&Palette::track, "#ECECEC", "#3A3A3C"},     {&Palette::warn_bg, "#FDF0DF", "#3A3324"},
        {&Palette::warn_fg, "#B26A00", "#F0A030"},   {&Palette::danger_bg, "#FDECEB", "#3A2725"},
        {&Palette::danger_fg, "#C4342A", "#FF6B60"}, {&Palette::ok_bg, "#E4F6E8", "#233529"},
        {&Palette::ok_fg, "#1E8E3E", "#4CD964"},
    };
    const Palette light = Palette::light();
    const Palette dark = Palette::dark_();
    EXPECT_FALSE(light.dark);
    EXPECT_TRUE(dark.dark);
    for (const auto& row : rows) {
        EXPECT_EQ(light.*row.field, row.light);
        EXPECT_EQ(dark.*row.field, row.dark);
        Rgb c;
        EXPECT_TRUE(hex_to_rgb(light.*row.field, c));
        EXPECT_TRUE(hex_to_rgb(dark.*row.field, c));
    }
    EXPECT_EQ(Palette::for_theme(true).accent, dark.accent);
    EXPECT_EQ(Palette::for_theme(false).accent, light.accent);
    EXPECT_TRUE(Palette::for_theme(true).dark);
}

} // namespace
