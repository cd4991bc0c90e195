// Squarified treemap layout of one folder's children.
//
// layout() is a pure function called on the interface thread whenever the
// map area or the folder on view changes: it reads the nodes, never changes
// them, and returns tiles whose areas follow the nodes' sizes. Children too
// small to read get a band along the right or bottom edge with a minimum area
// each; when even the band is full, the smallest are folded into one new
// aggregate node, owned by the returned tiles. An empty result means the
// rectangle is too small (or not finite) or there was nothing to lay out.
// Coordinates are device pixels as floats; areas are computed as doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "file_node.h"

struct RectF {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;

    float min_x() const { return x; }
    float min_y() const { return y; }
    float max_x() const { return x + w; }
    float max_y() const { return y + h; }
    float mid_x() const { return x + w / 2.0f; }
    float mid_y() const { return y + h / 2.0f; }
    // Half-open: the right and bottom edges belong to the neighbouring tile.
    bool contains(float px, float py) const {
        return px >= x && px < x + w && py >= y && py < y + h;
    }
    // Not clamped: a negative `d` grows the rectangle.
    RectF inset(float d) const { return {x + d, y + d, w - 2.0f * d, h - 2.0f * d}; }
};

struct TreemapTile {
    FileNodePtr node;
    RectF rect;
};

namespace treemap {

// Smallest area, in square pixels, a tile is meant to get.
inline constexpr double MIN_TILE_AREA = 5000.0;

// Side of a square of MIN_TILE_AREA; also the least thickness of the band.
double min_side();

// Turns a count of folded children into the fold tile's label.
using FoldLabel = std::function<std::string(std::uint64_t)>;

// Tiles for `nodes` (display order, largest first) inside `rect`: first the
// large tiles, then the band. Nodes may be missing when space ran out; one
// aggregate node may be added, named by `fold_label` (when that is empty,
// the name is the bare count). Null entries and negative sizes count as
// nothing.
std::vector<TreemapTile> layout(const std::vector<FileNodePtr>& nodes, const RectF& rect,
                                const FoldLabel& fold_label);

// The building blocks of layout(), for tests and benchmarks.

struct Item {
    FileNodePtr node;
    double area = 0.0; // square pixels
};

// Worst aspect ratio of the first `count` items laid in a row along a side of
// `length`; the largest double when that is meaningless (no items, a side or
// an area of 0 or less).
double worst_ratio(std::span<const Item> row, std::size_t count, double length);

// Lays `row` along the shorter side of `free` and removes the used strip from
// `free`. A row of no area places nothing.
void place_row(std::span<const Item> row, RectF& free, std::vector<TreemapTile>& out);

// Squarified layout of `items` in `rect`, appended to `out`. Sorts `items` by
// area, largest first. Items whose area is 0 get no tile; so do the rest when
// the free space shrinks to half a pixel.
void squarify(std::vector<Item>& items, const RectF& rect, std::vector<TreemapTile>& out);

// Band areas: every item gets at least min(area / n, MIN_TILE_AREA), the rest
// of `rect` is shared in proportion to the nodes' sizes, and the areas fill
// `rect` exactly.
void allocate(std::span<Item> items, const RectF& rect);

} // namespace treemap
