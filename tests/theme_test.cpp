#include "theme.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

void expect_rgb(const Rgb& got, double r, double g, double b, double tol = 1e-9) {
    EXPECT_NEAR(got.r, r, tol);
    EXPECT_NEAR(got.g, g, tol);
    EXPECT_NEAR(got.b, b, tol);
}

TEST(HexColour, ReadsSixDigitsAndRejectsOtherShapesUntouched) {
    for (const char* text : {"#3578F7", "3578f7"}) {
        Rgb c;
        ASSERT_TRUE(hex_to_rgb(text, c)) << text;
        expect_rgb(c, 53 / 255.0, 120 / 255.0, 247 / 255.0);
    }
    for (const char* text : {"#FFF", "#12345G", "", "#", "##123456", "1234567", "#12 456",
                             "#1234567", "+123456", "0x1234"}) {
        Rgb c{0.25, 0.5, 0.75};
        EXPECT_FALSE(hex_to_rgb(text, c)) << text;
        expect_rgb(c, 0.25, 0.5, 0.75);
    }
    // Writing rounds and clamps; NaN counts as nothing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(rgb_to_hex({1.2, -0.1, 0.5}), "#FF0080");
    EXPECT_EQ(rgb_to_hex({nan, inf, -inf}), "#00FF00");
    for (int v = 0; v < 256; ++v) {
        char text[8];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", v, 255 - v, (v * 7) & 255);
        Rgb c;
        ASSERT_TRUE(hex_to_rgb(text, c));
        EXPECT_EQ(rgb_to_hex(c), text);
    }
}

TEST(HexColour, MixBlendsAndFallsBackToTheForeground) {
    expect_rgb(mix({1.0, 0.5, 0.0}, {0.0, 0.5, 1.0}, 0.25), 0.25, 0.5, 0.75);
    EXPECT_EQ(mix_hex("#FFFFFF", "#000000", 0.5), "#808080");
    EXPECT_EQ(mix_hex("#3578F7", "oops", 0.5), "#3578F7");
    EXPECT_EQ(mix_hex("nope", "#FFFFFF", 0.5), "nope");
}

TEST(Hsb, HuesWrapAndSaturationAndBrightnessClamp) {
    const struct {
        double h, s, v, r, g, b;
    } cases[] = {
        {0.0, 1, 1, 1, 0, 0},
        {1.0 / 3, 1, 1, 0, 1, 0},
        {2.0 / 3, 1, 1, 0, 0, 1},
        {0.25, 1, 1, 0.5, 1, 0},
        {0.9, 1, 1, 1, 0, 0.6},
        {0.55, 0.4, 0.8, 0.48, 0.704, 0.8},
        {-1e-18, 1, 1, 1, 0, 0},
        {1.25, 1, 1, 0.5, 1, 0},
        {-0.75, 1, 1, 0.5, 1, 0},
        {0.4, 0, 0.7, 0.7, 0.7, 0.7},
        {0.4, 0.5, -1, 0, 0, 0},
        {1.0 / 3, 2, 3, 0, 1, 0},
        {std::numeric_limits<double>::quiet_NaN(), 1, 1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.h << " " << c.s << " " << c.v);
        expect_rgb(hsb(c.h, c.s, c.v), c.r, c.g, c.b);
    }
}

} // namespace
