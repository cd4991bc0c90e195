#include "treemap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace treemap {

namespace {

// The band of small tiles never takes more than this share of the map.
constexpr double kBandShare = 0.5;
// A rectangle this thin or thinner gets no tiles.
constexpr float kDegenerate = 1.0f;
// Squarifying stops once the free space is this thin.
constexpr float kExhausted = 0.5f;

// How many children ahead the first walk fetches.
constexpr std::size_t kPrefetch = 16;

constexpr double kWorst = std::numeric_limits<double>::max();

bool finite(const RectF& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.w) && std::isfinite(r.h);
}

bool roomy(const RectF& r) {
    return r.w > kDegenerate && r.h > kDegenerate;
}

// Negative sizes would make the exact areas add up to more than the map.
double size_of(const FileNode& n) {
    return n.size > 0 ? static_cast<double>(n.size) : 0.0;
}

double ratio_of(double sum, double min, double max, double length) {
    if (!(length > 0.0) || !(sum > 0.0) || !(min > 0.0)) return kWorst;
    const double l2 = length * length;
    const double s2 = sum * sum;
    return std::max(s2 / (l2 * min), l2 * max / s2);
}

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return r;
}

// What the fold node stands for, gathered while walking the children.
struct FoldSum {
    std::size_t count = 0;
    std::int64_t size = 0;
    std::int64_t file_count = 0;
    std::int64_t modified = 0;
    const FileNode* first = nullptr;

    void add(const FileNode& n) {
        if (count == 0) {
            first = &n;
            modified = n.modified;
        }
        ++count;
        size = saturating_add(size, std::max<std::int64_t>(n.size, 0));
        file_count = saturating_add(file_count, n.file_count);
        modified = std::max(modified, n.modified);
    }

    // Appends `later`, gathered from children after ours.
    void merge(const FoldSum& later) {
        if (later.count == 0) return;
        if (count == 0) {
            *this = later;
            return;
        }
        count += later.count;
        size = saturating_add(size, later.size);
        file_count = saturating_add(file_count, later.file_count);
        modified = std::max(modified, later.modified);
    }
};

FileNodePtr make_fold_node(const FoldSum& sum, const FoldLabel& fold_label) {
    auto node = std::make_shared<FileNode>();
    node->id = FileNode::next_id();
    node->name = fold_label ? fold_label(sum.count) : std::to_string(sum.count);
    node->path = sum.first->path;
    node->size = sum.size;
    node->is_directory = false;
    node->file_count = std::max<std::int64_t>(sum.file_count, 1);
    node->modified = std::max<std::int64_t>(sum.modified, 0);
    node->created = sum.first->created;
    node->category = FileCategory::Other;
    node->is_aggregate = true;
    node->seal();
    return node;
}

} // namespace

double min_side() {
    return std::sqrt(MIN_TILE_AREA);
}

double worst_ratio(std::span<const Item> row, std::size_t count, double length) {
    count = std::min(count, row.size());
    if (!(length > 0.0) || count == 0) return kWorst;
    double sum = 0.0;
    double min = row[0].area;
    double max = row[0].area;
    for (std::size_t i = 0; i < count; ++i) {
        sum += row[i].area;
        min = std::min(min, row[i].area);
        max = std::max(max, row[i].area);
    }
    return ratio_of(sum, min, max, length);
}

void place_row(std::span<const Item> row, RectF& free, std::vector<TreemapTile>& out) {
    double row_area = 0.0;
    for (const Item& item : row)
        row_area += item.area;
    if (!(row_area > 0.0)) return;
    if (free.w >= free.h) {
        const float row_width = static_cast<float>(row_area / free.h);
        float y = free.y;
        for (const Item& item : row) {
            const float h = static_cast<float>(item.area / row_width);
            out.push_back({item.node, {free.x, y, row_width, h}});
            y += h;
        }
        free.x += row_width;
        free.w -= row_width;
    } else {
        const float row_height = static_cast<float>(row_area / free.w);
        float x = free.x;
        for (const Item& item : row) {
            const float w = static_cast<float>(item.area / row_height);
            out.push_back({item.node, {x, free.y, w, row_height}});
            x += w;
        }
        free.y += row_height;
        free.h -= row_height;
    }
}

void squarify(std::vector<Item>& items, const RectF& rect, std::vector<TreemapTile>& out) {
    if (items.empty() || !roomy(rect)) return;
    const auto larger = [](const Item& a, const Item& b) { return a.area > b.area; };
    // Children usually arrive largest first already.
    if (!std::is_sorted(items.begin(), items.end(), larger))
        std::stable_sort(items.begin(), items.end(), larger);

    const std::span<const Item> all(items);
    RectF free = rect;
    std::size_t first = 0;
    while (first < all.size()) {
        const double short_side = std::min(free.w, free.h);
        // Running sum, min and max give the same figures as worst_ratio()
        // over the growing row without rescanning it.
        double sum = all[first].area;
        double min = sum;
        double max = sum;
        double current = ratio_of(sum, min, max, short_side);
        std::size_t next = first + 1;
        while (next < all.size()) {
            const double a = all[next].area;
            const double grown_sum = sum + a;
            const double grown_min = std::min(min, a);
            const double grown_max = std::max(max, a);
            const double candidate = ratio_of(grown_sum, grown_min, grown_max, short_side);
            if (candidate > current) break;
            current = candidate;
            sum = grown_sum;
            min = grown_min;
            max = grown_max;
            ++next;
        }
        place_row(all.subspan(first, next - first), free, out);
        if (free.w <= kExhausted || free.h <= kExhausted) break;
        first = next;
    }
}

void allocate(std::span<Item> items, const RectF& rect) {
    const std::size_t n = items.size();
    if (n == 0) return;
    const double area = static_cast<double>(rect.w) * static_cast<double>(rect.h);
    const double floor_area = std::min(area / static_cast<double>(n), MIN_TILE_AREA);

    double total_size = 0.0;
    for (const Item& item : items)
        total_size += item.node ? size_of(*item.node) : 0.0;
    const auto size_at = [&](std::size_t i) {
        return items[i].node ? size_of(*items[i].node) : 0.0;
    };

    for (Item& item : items)
        item.area = -1.0; // not fixed yet
    double free_area = area;
    double free_size = total_size;
    bool changed = true;
    while (changed && free_size > 0.0) {
        changed = false;
        const double scale = free_area / free_size;
        for (std::size_t i = 0; i < n; ++i) {
            if (items[i].area >= 0.0) continue;
            const double s = size_at(i);
            if (s * scale < floor_area) {
                items[i].area = floor_area;
                free_area -= floor_area;
                free_size -= s;
                changed = true;
            }
        }
    }
    if (free_size > 0.0) {
        const double scale = free_area / free_size;
        for (std::size_t i = 0; i < n; ++i)
            if (items[i].area < 0.0) items[i].area = size_at(i) * scale;
    }
    double sum = 0.0;
    for (Item& item : items) {
        if (item.area < 0.0) item.area = floor_area;
        sum += item.area;
    }
    if (!(sum > 0.0)) {
        for (Item& item : items)
            item.area = area / static_cast<double>(n);
        return;
    }
    const double fill = area / sum;
    for (Item& item : items)
        item.area *= fill;
}

std::vector<TreemapTile> layout(const std::vector<FileNodePtr>& nodes, const RectF& rect,
                                const FoldLabel& fold_label) {
    std::vector<TreemapTile> tiles;
    if (nodes.empty() || !finite(rect) || !roomy(rect)) return tiles;

    const double total_area = static_cast<double>(rect.w) * static_cast<double>(rect.h);
    // Compared as doubles first: a huge map must not overflow the counts.
    const double cap_area = total_area * kBandShare;
    const double cap_tiles = cap_area / MIN_TILE_AREA;
    const double big_tiles = total_area / MIN_TILE_AREA;
    const auto bounded = [&](double x) {
        return x >= static_cast<double>(nodes.size()) ? nodes.size() : static_cast<std::size_t>(x);
    };
    // Past this index no child can be big or kept in the band (there are at
    // most big_tiles bigs and cap_tiles kept smalls), so it can only be
    // folded: the first walk gathers the fold there and the second stops here.
    const std::size_t tail_start = bounded(big_tiles + cap_tiles + 2.0);

    double total_size = 0.0;
    std::size_t count = 0;
    double tail_max = 0.0;
    FoldSum tail;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        // Children sit scattered over the heap in size order; fetch ahead so
        // the walk is not one cache miss after another.
        if (i + kPrefetch < nodes.size() && nodes[i + kPrefetch]) {
            const FileNode& ahead = *nodes[i + kPrefetch];
            __builtin_prefetch(&ahead.size);
            __builtin_prefetch(&ahead.modified); // may sit on the next cache line
        }
        const FileNode* node = nodes[i].get();
        if (!node) continue;
        const double size = size_of(*node);
        total_size += size;
        ++count;
        if (i >= tail_start) {
            tail_max = std::max(tail_max, size);
            tail.add(*node);
        }
    }
    if (count == 0) return tiles;
    const double even_area = total_area / static_cast<double>(count);
    const auto exact_area = [&](double size) {
        return total_size > 0.0 ? size / total_size * total_area : even_area;
    };

    const std::size_t capacity =
        cap_tiles >= static_cast<double>(count)
            ? count
            : std::max<std::size_t>(1, static_cast<std::size_t>(cap_tiles));

    std::vector<Item> bigs;
    std::vector<Item> smalls;
    bigs.reserve(std::min(count, bounded(big_tiles) + 1));
    smalls.reserve(capacity);
    FoldSum fold;
    std::size_t small_count = 0;
    const auto split = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const FileNodePtr& node = nodes[i];
            if (!node) continue;
            const double area = exact_area(size_of(*node));
            if (area >= MIN_TILE_AREA) {
                bigs.push_back({node, area});
                continue;
            }
            if (small_count < capacity) smalls.push_back({node, area});
            // From the capacity-th small on, everything is folded if the band
            // overflows.
            if (small_count + 1 >= capacity) fold.add(*node);
            ++small_count;
        }
    };
    split(0, tail_start);
    if (tail.count > 0) {
        // The tail is all folded only when it holds no big child and the band
        // is already full without it; gaps (null entries) or rounding can
        // break that, and then the tail is walked the slow way.
        if (exact_area(tail_max) < MIN_TILE_AREA && small_count >= capacity) {
            fold.merge(tail);
            small_count += tail.count;
        } else {
            split(tail_start, nodes.size());
        }
    }

    if (smalls.empty()) {
        tiles.reserve(bigs.size());
        squarify(bigs, rect, tiles);
        return tiles;
    }

    if (small_count > capacity) {
        smalls.resize(capacity - 1);
        const double fold_area = total_size > 0.0 ? exact_area(static_cast<double>(fold.size))
                                                  : even_area * static_cast<double>(fold.count);
        smalls.push_back({make_fold_node(fold, fold_label), fold_area});
    }

    double want = 0.0;
    for (const Item& item : smalls)
        want += std::max(item.area, 0.0);
    want = std::max(want, static_cast<double>(smalls.size()) * MIN_TILE_AREA);
    const double column_area = std::max(want, static_cast<double>(rect.h) * min_side());
    const double strip_area = std::max(want, static_cast<double>(rect.w) * min_side());
    const bool vertical = column_area <= strip_area;
    const double band_area = std::min(cap_area, vertical ? column_area : strip_area);

    RectF band = rect;
    RectF big{};
    if (!bigs.empty()) {
        if (vertical) {
            const float bw = static_cast<float>(band_area / rect.h);
            band = {rect.x + rect.w - bw, rect.y, bw, rect.h};
            big = {rect.x, rect.y, rect.w - bw, rect.h};
        } else {
            const float bh = static_cast<float>(band_area / rect.w);
            band = {rect.x, rect.y + rect.h - bh, rect.w, bh};
            big = {rect.x, rect.y, rect.w, rect.h - bh};
        }
    }

    tiles.reserve(bigs.size() + smalls.size());
    if (!bigs.empty() && roomy(big)) {
        double sum = 0.0;
        for (const Item& item : bigs)
            sum += item.area;
        const double big_area = static_cast<double>(big.w) * static_cast<double>(big.h);
        const double scale = sum > 0.0 ? big_area / sum : 0.0;
        for (Item& item : bigs)
            item.area *= scale;
        squarify(bigs, big, tiles);
    }
    if (roomy(band)) {
        allocate(smalls, band);
        squarify(smalls, band, tiles);
    }
    return tiles;
}

} // namespace treemap
