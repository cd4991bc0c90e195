// Fill colours of file-tree nodes (treemap tiles and tree-row squares), the
// legend swatches and the age-legend stops.
//
// Pure functions of their arguments, safe from any thread; color() allocates
// nothing, since it runs once per tile on every treemap redraw and once per
// visible tree row on every frame. Out-of-range arguments are clamped.
#pragma once

#include <cstdint>

#include "file_category.h"
#include "theme.h"

class FileNode;

enum class ColorMode : std::int32_t {
    Category = 0, // by file type
    Heat = 1,     // by age of last modification
};

namespace tile_color {

// `now`: seconds since the epoch that ages are measured from (the scan's start,
// so colours do not drift while the window stays open). `prominence`: the
// node's size relative to the largest one shown, 0..1 (clamped; NaN counts as
// 0). Only the name, category and modification time of `node` matter.
Rgb color(const FileNode& node, ColorMode mode, std::int64_t now, double prominence);

// Colour of a category in the legend.
Rgb swatch(FileCategory c);

// Stops of the age legend, 0 (oldest, blue) to 4 (newest, red); clamped.
Rgb heat_stop(int index);

// Untranslated label key: "Type" for Category, "Age" for anything else.
const char* mode_label_key(ColorMode mode);

} // namespace tile_color
