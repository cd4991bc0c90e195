#include "tile_color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "file_node.h"
#include "theme.h"

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

bool same(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) < 1e-12 && std::abs(a.g - b.g) < 1e-12 &&
           std::abs(a.b - b.b) < 1e-12;
}

Rgb heat(std::int64_t modified, double prominence = 0.0) {
    return tile_color::color(file("x", FileCategory::Video, modified), ColorMode::Heat, kNow,
                             prominence);
}

TEST(CategoryColour, NameTellsTilesApartAndNothingElseButAgeAndProminenceCounts) {
    FileNode a = file("cache.db", FileCategory::Document);
    FileNode b = a;
    b.is_junk = b.is_denied = b.is_readonly = b.is_aggregate = true;
    b.size = 1 << 30;
    b.path = "/elsewhere/cache.db";
    for (ColorMode mode : {ColorMode::Category, ColorMode::Heat})
        EXPECT_TRUE(
            same(tile_color::color(a, mode, kNow, 0.3), tile_color::color(b, mode, kNow, 0.3)));
    const FileNode c = file("cache.dc", FileCategory::Document);
    EXPECT_FALSE(same(tile_color::color(a, ColorMode::Category, kNow, 0.3),
                      tile_color::color(c, ColorMode::Category, kNow, 0.3)));
}

TEST(CategoryColour, ProminenceIsClampedAndDarkens) {
    const FileNode n = file("song.flac", FileCategory::Audio);
    const auto at = [&](double p) { return tile_color::color(n, ColorMode::Category, kNow, p); };
    EXPECT_TRUE(same(at(3.0), at(1.0)));
    EXPECT_TRUE(same(at(-2.0), at(0.0)));
    EXPECT_TRUE(same(at(std::numeric_limits<double>::quiet_NaN()), at(0.0)));
    EXPECT_LT(std::max({at(1.0).r, at(1.0).g, at(1.0).b}),
              std::max({at(0.5).r, at(0.5).g, at(0.5).b}));
}

TEST(HeatColour, NewIsRedOldIsBlueCappedAtTwoYears) {
    EXPECT_TRUE(same(heat(kNow + 5 * kDay), heat(kNow))) << "the future counts as new";
    EXPECT_TRUE(same(heat(kNow - 9000 * kDay), heat(kNow - 730 * kDay)));
    EXPECT_TRUE(same(heat(std::numeric_limits<std::int64_t>::min()), heat(kNow - 730 * kDay)));
    EXPECT_GT(heat(kNow).r, heat(kNow).b);
    EXPECT_GT(heat(0).b, heat(0).r);
    // The hue moves on the logarithm of the age: a day and half a day differ,
    // and each step away from now moves further towards blue.
    double last_blue = -1;
    for (double days : {0.0, 0.5, 1.0, 100.0, 729.0}) {
        const double blue = heat(kNow - static_cast<std::int64_t>(days * kDay)).b;
        EXPECT_GE(blue, last_blue) << days;
        last_blue = blue;
    }
    EXPECT_FALSE(same(heat(kNow - kDay / 2), heat(kNow - kDay)));
}

TEST(Legend, SwatchesDifferPerCategoryAndHeatStopsAreClamped) {
    std::set<std::string> seen;
    for (FileCategory c : category::legend_order())
        seen.insert(rgb_to_hex(tile_color::swatch(c)));
    EXPECT_EQ(seen.size(), category::legend_order().size());
    EXPECT_TRUE(same(tile_color::heat_stop(-3), tile_color::heat_stop(0)));
    EXPECT_TRUE(same(tile_color::heat_stop(9), tile_color::heat_stop(4)));
    EXPECT_GT(tile_color::heat_stop(0).b, tile_color::heat_stop(0).r);
    EXPECT_GT(tile_color::heat_stop(4).r, tile_color::heat_stop(4).b);
}

} // namespace
