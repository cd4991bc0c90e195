#include "treemap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>

namespace {

using treemap::Item;

FileNodePtr node(std::int64_t size, std::string name = "f", std::int64_t file_count = 1,
                 std::int64_t modified = 0) {
    auto n = std::make_shared<FileNode>();
    n->id = FileNode::next_id();
    n->path = "/data/" + name;
    n->name = std::move(name);
    n->size = size;
    n->file_count = file_count;
    n->modified = modified;
    n->seal();
    return n;
}

// Remembers the count of each fold so tests can find out what was folded.
struct Labeller {
    std::vector<std::uint64_t> counts;
    treemap::FoldLabel fn() {
        return [this](std::uint64_t n) {
            counts.push_back(n);
            return std::to_string(n) + " more items";
        };
    }
};

double area_of(const RectF& r) {
    return static_cast<double>(r.w) * static_cast<double>(r.h);
}

double tile_area(const std::vector<TreemapTile>& tiles) {
    double sum = 0.0;
    for (const auto& t : tiles)
        sum += area_of(t.rect);
    return sum;
}

const TreemapTile* tile_of(const std::vector<TreemapTile>& tiles, const FileNodePtr& n) {
    for (const auto& t : tiles)
        if (t.node == n) return &t;
    return nullptr;
}

const TreemapTile* fold_tile(const std::vector<TreemapTile>& tiles) {
    for (const auto& t : tiles)
        if (t.node->is_aggregate) return &t;
    return nullptr;
}

RectF bounds_of(const std::vector<const TreemapTile*>& tiles) {
    float x0 = std::numeric_limits<float>::max(), y0 = x0;
    float x1 = std::numeric_limits<float>::lowest(), y1 = x1;
    for (const auto* t : tiles) {
        x0 = std::min(x0, t->rect.min_x());
        y0 = std::min(y0, t->rect.min_y());
        x1 = std::max(x1, t->rect.max_x());
        y1 = std::max(y1, t->rect.max_y());
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

TEST(Squarify, MeaninglessRowsRankWorst) {
    const std::vector<Item> row = {{nullptr, 200.0}, {nullptr, 50.0}, {nullptr, 0.0}};
    const double worst = std::numeric_limits<double>::max();
    EXPECT_EQ(treemap::worst_ratio(row, 0, 10.0), worst);
    EXPECT_EQ(treemap::worst_ratio(row, 2, -3.0), worst);
    EXPECT_EQ(treemap::worst_ratio(row, 3, 10.0), worst); // a zero area in the row
}

TEST(Allocate, ProportionalAboveTheFloorAndAlwaysFillsTheRectangle) {
    std::vector<Item> items = {{node(3000), 0}, {node(1000), 0}, {node(10), 0}};
    treemap::allocate(items, {0, 0, 400.0f, 100.0f}); // 40000, floor 5000
    EXPECT_NEAR(items[2].area, 5000.0, 1e-6);
    EXPECT_NEAR(items[0].area / items[1].area, 3.0, 1e-9);
    EXPECT_NEAR(items[0].area + items[1].area + items[2].area, 40000.0, 1e-6);
    // A crowded band: the floor is area / n, never more than an even share, or
    // the largest node would be squeezed below the smallest.
    for (std::vector<Item> crowded :
         {std::vector<Item>{{node(3000), 0}, {node(1000), 0}, {node(0), 0}, {node(0), 0}},
          std::vector<Item>{{node(10000), 0}, {node(1), 0}, {node(0), 0}}}) {
        treemap::allocate(crowded, {0, 0, 120.0f, 100.0f});
        for (const auto& c : crowded)
            EXPECT_NEAR(c.area, 12000.0 / static_cast<double>(crowded.size()), 1e-6);
    }
}

TEST(Layout, DegenerateInputsGiveNoTiles) {
    const std::vector<FileNodePtr> kids = {node(100), node(50)};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const RectF rects[] = {
        {0, 0, 1.0f, 800.0f}, {0, 0, 800.0f, 1.0f}, {0, 0, -50.0f, 80.0f},
        {0, 0, nan, 80.0f},   {0, 0, 80.0f, inf},   {nan, 0, 80.0f, 80.0f},
    };
    Labeller labels;
    for (const RectF& r : rects)
        EXPECT_TRUE(treemap::layout(kids, r, labels.fn()).empty()) << r.w << "x" << r.h;
    EXPECT_TRUE(treemap::layout({}, {0, 0, 800, 600}, labels.fn()).empty());
    EXPECT_TRUE(treemap::layout({nullptr, nullptr}, {0, 0, 800, 600}, labels.fn()).empty());
    EXPECT_TRUE(labels.counts.empty());
}

TEST(Layout, SmallsFoldOnlyWhenTheBandIsFull) {
    // 400 x 300 holds twelve band tiles: twelve smalls fit, thirteen fold two,
    // fifty fold thirty-nine. Sums and dates of folds are checked by the
    // properties below.
    for (int smalls : {12, 13, 50}) {
        std::vector<FileNodePtr> kids = {node(1'000'000'000)};
        for (int i = 0; i < smalls; ++i) {
            auto n = std::make_shared<FileNode>(*node(1000 - i));
            n->created = 500 + i;
            n->is_junk = true;
            n->seal();
            kids.push_back(n);
        }
        Labeller labels;
        const auto tiles = treemap::layout(kids, {0, 0, 400.0f, 300.0f}, labels.fn());
        ASSERT_EQ(tiles.size(), 13u);
        EXPECT_EQ(tiles[0].node, kids[0]);
        for (int i = 1; i <= smalls; ++i)
            EXPECT_EQ(tile_of(tiles, kids[i]) != nullptr, smalls == 12 || i <= 11) << i;
        const auto* fold = fold_tile(tiles);
        ASSERT_EQ(fold != nullptr, smalls > 12);
        if (!fold) continue;
        EXPECT_EQ(labels.counts, std::vector<std::uint64_t>{smalls - 11u});
        EXPECT_EQ(fold->node->name, std::to_string(smalls - 11) + " more items");
        EXPECT_EQ(fold->node->created, kids[12]->created);
        EXPECT_FALSE(fold->node->is_directory || fold->node->is_junk);
        EXPECT_EQ(fold->node->reclaimable, 0);
    }
}

TEST(Layout, FoldWithoutLabelIsNamedByItsCountAndItsSumsSaturate) {
    std::vector<FileNodePtr> kids;
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    for (int i = 0; i < 30; ++i)
        kids.push_back(node(max / 4, "f", max / 4));
    const auto tiles = treemap::layout(kids, {0, 0, 200, 100}, treemap::FoldLabel{});
    const auto* fold = fold_tile(tiles);
    ASSERT_NE(fold, nullptr); // capacity 2: one node and a fold of 29
    EXPECT_EQ(fold->node->name, "29");
    EXPECT_EQ(fold->node->size, max);
    EXPECT_EQ(fold->node->file_count, max);
}

// Every child gets a tile when there is room: a map too large to count its
// capacity in integers, and gaps before the children that are gathered early
// (past the first eight entries of a 200 x 100 map) for the fold.
TEST(Layout, EveryChildIsTiledWhenTheMapHasRoom) {
    std::vector<FileNodePtr> gapped(7, nullptr);
    gapped[0] = node(1'000'000'000);
    gapped.push_back(node(2));
    gapped.push_back(node(1));
    const std::pair<std::vector<FileNodePtr>, RectF> cases[] = {
        {{node(5), node(3), node(0)}, {0, 0, 3.0e38f, 3.0e38f}},
        {gapped, {0, 0, 200, 100}},
    };
    for (const auto& [kids, rect] : cases) {
        Labeller labels;
        const auto tiles = treemap::layout(kids, rect, labels.fn());
        EXPECT_TRUE(labels.counts.empty());
        for (const auto& kid : kids)
            EXPECT_TRUE(!kid || tile_of(tiles, kid)) << kid->size;
    }
}

// Random folders of six shapes, largest first, as the scanner hands them over.
std::vector<FileNodePtr> random_folder(std::mt19937_64& rng, int kind) {
    std::vector<FileNodePtr> nodes;
    std::uniform_int_distribution<int> count(1, 3000);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::lognormal_distribution<double> heavy(8.0, 3.5);
    const int n = kind == 2   ? 2000 + count(rng)
                  : kind == 3 ? count(rng) % 400 + 1
                  : kind == 4 ? count(rng) % 300 + 1
                  : kind == 5 ? static_cast<int>(rng() % 6) + 1
                              : count(rng);
    for (int i = 0; i < n; ++i) {
        const double size =
            kind == 0 ? std::min(heavy(rng), 1e15) // heavy tail
            : kind == 1
                ? (u(rng) < 0.3 ? 0.0
                                : std::min(1e15, 1000.0 / std::pow(u(rng), 1.2))) // Pareto, zeros
            : kind == 2 ? (i == 0 ? 1e12 : static_cast<double>(rng() % 4096))     // giant, tiny
            : kind == 3 ? 4096.0                                                  // all equal
            : kind == 4 ? 0.0                                                     // all empty
                        : static_cast<double>(rng() % 1'000'000);                 // a handful
        nodes.push_back(node(static_cast<std::int64_t>(size), "n" + std::to_string(i),
                             static_cast<std::int64_t>(rng() % 50),
                             static_cast<std::int64_t>(rng() % 2'000'000'000)));
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const auto& a, const auto& b) { return a->size > b->size; });
    return nodes;
}

RectF random_rect(std::mt19937_64& rng) {
    static const RectF fixed[] = {
        {0, 0, 1200, 800}, {0, 0, 800, 1200}, {0, 0, 1000, 1000}, {13.5f, 40.25f, 400, 300},
        {0, 0, 2, 2500},   {0, 0, 2500, 2},   {0, 0, 1.5f, 1.5f}, {0, 0, 71, 71},
        {0, 0, 60, 90},    {0, 0, 99, 101},
    };
    if (rng() % 3 == 0) return fixed[rng() % std::size(fixed)];
    std::uniform_real_distribution<double> side(std::log(0.5), std::log(2500.0));
    return {static_cast<float>(rng() % 200), static_cast<float>(rng() % 200),
            static_cast<float>(std::exp(side(rng))), static_cast<float>(std::exp(side(rng)))};
}

void check_layout(const std::vector<FileNodePtr>& nodes, const RectF& rect) {
    Labeller labels;
    const auto tiles = treemap::layout(nodes, rect, labels.fn());
    const double area = area_of(rect);
    const std::size_t n = nodes.size();
    if (rect.w <= 1.0f || rect.h <= 1.0f) {
        EXPECT_TRUE(tiles.empty());
        return;
    }
    ASSERT_FALSE(tiles.empty());
    ASSERT_LE(labels.counts.size(), 1u);

    // Inside the map, finite, not negative.
    const float tol = 1e-3f + 1e-5f * std::max(rect.w, rect.h);
    for (const auto& t : tiles) {
        const RectF& r = t.rect;
        ASSERT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.w) &&
                    std::isfinite(r.h));
        ASSERT_TRUE(r.w >= 0.0f && r.h >= 0.0f && r.min_x() >= rect.min_x() - tol &&
                    r.min_y() >= rect.min_y() - tol && r.max_x() <= rect.max_x() + tol &&
                    r.max_y() <= rect.max_y() + tol);
    }

    // No overlap beyond rounding: sweep over tiles sorted by left edge.
    std::vector<const TreemapTile*> by_x;
    for (const auto& t : tiles)
        by_x.push_back(&t);
    std::sort(by_x.begin(), by_x.end(),
              [](const auto* a, const auto* b) { return a->rect.x < b->rect.x; });
    for (std::size_t i = 0; i < by_x.size(); ++i) {
        const RectF& a = by_x[i]->rect;
        for (std::size_t j = i + 1; j < by_x.size() && by_x[j]->rect.x < a.max_x() - tol; ++j) {
            const RectF& b = by_x[j]->rect;
            const float dx = std::min(a.max_x(), b.max_x()) - std::max(a.x, b.x);
            const float dy = std::min(a.max_y(), b.max_y()) - std::max(a.y, b.y);
            ASSERT_FALSE(dx > tol && dy > tol) << "tiles " << i << " and " << j << " overlap";
        }
    }

    // Every input node at most once; the fold stands for the smallest.
    std::set<const FileNode*> seen;
    const FileNode* fold = nullptr;
    for (const auto& t : tiles) {
        if (t.node->is_aggregate) {
            ASSERT_EQ(fold, nullptr) << "one fold at most";
            fold = t.node.get();
        } else {
            ASSERT_TRUE(seen.insert(t.node.get()).second) << "a node tiled twice";
        }
    }
    const std::size_t folded = labels.counts.empty() ? 0 : labels.counts[0];
    if (fold) {
        std::int64_t size = 0, files = 0, latest = 0;
        for (std::size_t i = n - folded; i < n; ++i) {
            const FileNode& f = *nodes[i];
            EXPECT_EQ(seen.count(&f), 0u) << "folded node " << i << " also tiled";
            size += f.size;
            files += f.file_count;
            latest = std::max(latest, f.modified);
        }
        EXPECT_EQ(fold->size, size);
        EXPECT_EQ(fold->file_count, std::max<std::int64_t>(files, 1));
        EXPECT_EQ(fold->modified, latest);
        EXPECT_EQ(fold->path, nodes[n - folded]->path);
    }

    // Tile count bounded by the map, however many children there are.
    EXPECT_LE(static_cast<double>(tiles.size()),
              std::floor(area / 5000.0) + std::max(1.0, std::floor(area / 10000.0)));

    // Nothing dropped: the tiles cover the map.
    EXPECT_NEAR(tile_area(tiles), area, seen.size() + folded == n ? area * 0.005 : area);

    // Tiles of at least the minimum area are in proportion to their sizes.
    // The band holds the rest; when there are larger ones too, it keeps to
    // half the map along one whole side: the right, or the bottom of a tall map.
    double total = 0.0;
    for (const auto& c : nodes)
        total += static_cast<double>(c->size);
    std::vector<const TreemapTile*> band;
    double least = std::numeric_limits<double>::max(), most = 0.0;
    for (const auto& t : tiles) {
        const double exact = total > 0 ? t.node->size / total * area : area / n;
        if (t.node->is_aggregate || exact < 5000.0) {
            band.push_back(&t);
        } else {
            least = std::min(least, area_of(t.rect) / exact);
            most = std::max(most, area_of(t.rect) / exact);
        }
    }
    EXPECT_LE(most, least * 1.01);
    if (most > 0.0 && !band.empty()) {
        const RectF b = bounds_of(band);
        EXPECT_LE(area_of(b), 0.5 * area * 1.0001 + 1.0);
        const auto near = [&](float x, float y) { return std::abs(x - y) <= tol; };
        const bool right = near(b.max_x(), rect.max_x()) && near(b.h, rect.h);
        const bool bottom = near(b.max_y(), rect.max_y()) && near(b.w, rect.w);
        EXPECT_TRUE(right || (bottom && rect.h > rect.w)) << "along the shorter side";
    }
}

TEST(LayoutProperties, RandomFoldersInRandomRectangles) {
    std::mt19937_64 rng(20240611);
    for (int round = 0; round < 70; ++round)
        for (int kind = 0; kind < 6; ++kind) {
            const auto nodes = random_folder(rng, kind);
            const RectF rect = random_rect(rng);
            SCOPED_TRACE("kind " + std::to_string(kind) + " n=" + std::to_string(nodes.size()) +
                         " in " + std::to_string(rect.w) + "x" + std::to_string(rect.h));
            check_layout(nodes, rect);
            if (HasFatalFailure()) return;
        }
}

TEST(LayoutProperties, NullChildrenAndNegativeSizesCountAsNothing) {
    std::mt19937_64 rng(5);
    std::vector<FileNodePtr> clean = random_folder(rng, 2), with_gaps;
    clean.push_back(node(-5000));
    for (std::size_t i = 0; i < clean.size(); ++i) {
        with_gaps.push_back(clean[i]);
        if (i % 100 == 7) with_gaps.push_back(nullptr);
    }
    Labeller a, b;
    const auto gapped = treemap::layout(with_gaps, {0, 0, 800, 600}, a.fn());
    const auto plain = treemap::layout(clean, {0, 0, 800, 600}, b.fn());
    const auto rects = [](const std::vector<TreemapTile>& tiles) {
        std::vector<std::array<float, 4>> out;
        for (const auto& t : tiles)
            out.push_back({t.rect.x, t.rect.y, t.rect.w, t.rect.h});
        return out;
    };
    EXPECT_EQ(rects(gapped), rects(plain));
    EXPECT_EQ(a.counts, b.counts);
    EXPECT_NEAR(tile_area(plain), 800.0 * 600.0, 800.0 * 600.0 * 0.005);
    // A negative size does not shrink the total: 0.9 % of the map stays small,
    // in the band at the right edge.
    const FileNodePtr small = node(9000);
    const auto three =
        treemap::layout({node(991'000), small, node(-500'000)}, {0, 0, 800, 600}, a.fn());
    ASSERT_NE(tile_of(three, small), nullptr);
    EXPECT_NEAR(tile_of(three, small)->rect.max_x(), 800.0f, 1e-3);
}

} // namespace
