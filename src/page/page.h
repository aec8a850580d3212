// The browser page of a world: one self-contained HTML file that paints the
// world's cells with the map's own layers and blend, and lets its reader zoom,
// point at a cell, toggle layers and find every tile of a type.
#pragma once

#include <array>
#include <ostream>
#include <string>

#include "colors/colors.h"
#include "world/world.h"

namespace wldmap {

// A world's cells as its page carries them: four planes of one byte a cell
// (flags: 1 a tile, 2 lava where there is liquid; the tile type where there is
// a tile; the wall; the liquid), column by column, each byte the difference
// from its left neighbour's, each plane deflated.
struct PageCells {
  std::array<std::string, 4> planes;
};

// The cells of `grid` packed for the page. Reads nothing but the grid, so it
// may run on another thread while the map is saved. Throws std::bad_alloc.
PageCells packCells(const TileGrid& grid);

// Writes the page of the world `header` with the packed `cells`, painted with
// `colors` and its types named by `names`, saved at `saved` (seconds since
// 1970, 0 when unknown), to `out`: the page's HTML, style and script as built
// into the tool, the world's name, levels, names and time as escaped text,
// and the planes in base 85. The same world gives the same bytes on every
// system. Throws std::bad_alloc, and what `out` throws.
void writePage(std::ostream& out, const WorldHeader& header, const PageCells& cells,
               const TileColorTable& colors, const TypeNames& names, int64_t saved);

}  // namespace wldmap
