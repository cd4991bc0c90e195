#include "tile_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "file_node.h"

namespace {

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kDay = 86400;

FileNode file(const char* name, FileCategory c, std::int64_t modified = kNow) {
    FileNode n;
    n.name = name;
    n.category = c;
    n.modified = modified;
    return n;
}

void expect_same(const Rgb& got, const Rgb& want) {
    EXPECT_NEAR(got.r, want.r, 1e-12);
    EXPECT_NEAR(got.g, want.g, 1e-12);
    EXPECT_NEAR(got.b, want.b, 1e-12);
}

double brightness(const Rgb& c) {
    return std::max({c.r, c.g, c.b});
}

TEST(CategoryColour, NameJitterSpreadsTheCategoryHue) {
    // Jitter is an FNV-1a hash of the name reduced to 0..0.9999; the empty
    // name keeps the basis, 0.5603. At prominence 0: saturation 0.45 for an
    // ordinary category, brightness 0.97.
    struct Case {
        const char* name;
        double jitter;
    } cases[] = {{"", 0.5603}, {"a", 0.7366}, {"photo.jpg", 0.4532}, {"report.pdf", 0.6961}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double hue = (c.jitter - 0.5) * 0.04 + category::base_hue(FileCategory::Image);
        expect_same(
            tile_color::color(file(c.name, FileCategory::Image), ColorMode::Category, kNow, 0.0),
            hsb(hue, 0.45, 0.97));
    }
}

TEST(CategoryColour, GreyCategoriesAreScaledDownAndProminenceBrightensLess) {
    const double sat = category::base_saturation(FileCategory::System) / 0.62 * 0.95;
    const double hue = (0.5603 - 0.5) * 0.04 + category::base_hue(FileCategory::System);
    expect_same(tile_color::color(file("", FileCategory::System), ColorMode::Category, kNow, 1.0),
                hsb(hue, sat, 0.47));
    // Half prominence: boost 0.5^0.45 / 2.
    const double boost = std::pow(0.5, 0.45) * 0.5;
    const double img_hue = (0.5603 - 0.5) * 0.04 + category::base_hue(FileCategory::Image);
    expect_same(tile_color::color(file("", FileCategory::Image), ColorMode::Category, kNow, 0.5),
                hsb(img_hue, 0.45 + boost, 0.97 - boost));
}

TEST(CategoryColour, ProminenceIsClamped) {
    const FileNode n = file("song.flac", FileCategory::Audio);
    const auto at = [&](double p) { return tile_color::color(n, ColorMode::Category, kNow, p); };
    expect_same(at(3.0), at(1.0));
    expect_same(at(-2.0), at(0.0));
    expect_same(at(std::numeric_limits<double>::quiet_NaN()), at(0.0));
    EXPECT_NEAR(brightness(at(1.0)), 0.47, 1e-12);
    EXPECT_NEAR(brightness(at(0.0)), 0.97, 1e-12);
}

TEST(CategoryColour, DependsOnlyOnNameCategoryAgeAndProminence) {
    FileNode a = file("cache.db", FileCategory::Document);
    FileNode b = file("cache.db", FileCategory::Document);
    b.is_junk = true;
    b.is_denied = true;
    b.is_readonly = true;
    b.is_aggregate = true;
    b.size = 1 << 30;
    b.path = "/elsewhere/cache.db";
    for (ColorMode mode : {ColorMode::Category, ColorMode::Heat})
        expect_same(tile_color::color(a, mode, kNow, 0.3), tile_color::color(b, mode, kNow, 0.3));
    const FileNode c = file("cache.dc", FileCategory::Document);
    const Rgb ca = tile_color::color(a, ColorMode::Category, kNow, 0.3);
    const Rgb cc = tile_color::color(c, ColorMode::Category, kNow, 0.3);
    EXPECT_FALSE(ca.r == cc.r && ca.g == cc.g && ca.b == cc.b) << "names tell tiles apart";
}

TEST(HeatColour, HueFollowsTheLogarithmOfTheAge) {
    const auto hue_at = [](double days) {
        const double t = std::min(std::log10(days + 1.0) / std::log10(731.0), 1.0);
        return 0.66 - (1.0 - t) * 0.64;
    };
    struct Case {
        std::int64_t modified;
        double hue;
    } cases[] = {
        {kNow, 0.02},                                     // modified as the scan started
        {kNow + 5 * kDay, 0.02},                          // in the future: newest colour
        {kNow - 730 * kDay, 0.66},                        // two years: oldest colour
        {kNow - 9000 * kDay, 0.66},                       // older still: capped
        {kNow - kDay, hue_at(1.0)},                       // a day
        {kNow - 100 * kDay, hue_at(100.0)},               // some months
        {kNow - kDay / 2, hue_at(0.5)},                   // fractions of a day count
        {std::numeric_limits<std::int64_t>::min(), 0.66}, // no overflow
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modified);
        expect_same(tile_color::color(file("x", FileCategory::Video, c.modified), ColorMode::Heat,
                                      kNow, 0.0),
                    hsb(c.hue, 0.45 * 0.45 + 0.55, 0.97));
    }
    // Saturation at full prominence: 0.95 * 0.45 + 0.55.
    expect_same(tile_color::color(file("x", FileCategory::Video, kNow), ColorMode::Heat, kNow, 1.0),
                hsb(0.02, 0.9775, 0.47));
    // New is red, old is blue.
    const Rgb fresh = tile_color::color(file("x", FileCategory::Video), ColorMode::Heat, kNow, 0);
    const Rgb old = tile_color::color(file("x", FileCategory::Video, 0), ColorMode::Heat, kNow, 0);
    EXPECT_GT(fresh.r, fresh.b);
    EXPECT_GT(old.b, old.r);
}

TEST(Swatch, UsesTheCategoryHueAtFixedBrightness) {
    for (FileCategory c : category::legend_order()) {
        SCOPED_TRACE(static_cast<int>(c));
        const double sat = std::min(category::base_saturation(c) / 0.62 * 0.85, 1.0);
        expect_same(tile_color::swatch(c), hsb(category::base_hue(c), sat, 0.82));
        EXPECT_NEAR(brightness(tile_color::swatch(c)), 0.82, 1e-12);
    }
}

TEST(HeatStop, FiveStopsFromBlueToRedClamped) {
    const double hues[] = {0.66, 0.5, 0.33, 0.16, 0.02};
    for (int i = 0; i < 5; ++i)
        expect_same(tile_color::heat_stop(i), hsb(hues[i], 0.72, 0.92));
    expect_same(tile_color::heat_stop(-3), tile_color::heat_stop(0));
    expect_same(tile_color::heat_stop(9), tile_color::heat_stop(4));
    EXPECT_GT(tile_color::heat_stop(0).b, tile_color::heat_stop(0).r);
    EXPECT_GT(tile_color::heat_stop(4).r, tile_color::heat_stop(4).b);
}

TEST(ModeLabel, TypeForCategoryAgeForEverythingElse) {
    EXPECT_STREQ(tile_color::mode_label_key(ColorMode::Category), "Type");
    EXPECT_STREQ(tile_color::mode_label_key(ColorMode::Heat), "Age");
    EXPECT_STREQ(tile_color::mode_label_key(static_cast<ColorMode>(7)), "Age");
}

} // namespace
