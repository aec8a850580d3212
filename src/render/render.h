// The map renderer: one composited pixel per cell.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "colors/colors.h"
#include "model/color.h"
#include "world/world.h"

namespace wldmap {

// Called once per tile whose wall type has no colour, in column-major order.
using UnknownWallHandler = std::function<void(int wall)>;

class Composites;

// A cell's pixel: the background of its row, then its wall, its tile and its
// liquid, composited. The page's script composites the same layers, from
// LayerColors, with the same blend (src/page/page.js). Built once per world and colour
// table; painting only reads it, so any thread may paint.
class CellColors {
 public:
  CellColors(const WorldHeader& header, const TileColorTable& colors);
  ~CellColors();
  CellColors(CellColors&&) noexcept;

  // Paints `count` cells of one column, rows top..top+count-1, into out[0..count).
  void paintRun(const Tile* cells, uint32_t top, uint32_t count, Color* out) const;

 private:
  friend class MapPainter;
  // What lies under the tiles of row y, by their wall byte.
  const uint8_t* undersOfRow(uint64_t y) const;

  uint64_t groundStart_;  // the first row below the surface level
  uint64_t rockStart_;    // the first row below the rock level
  std::unique_ptr<const Composites> composites_;
};

// Paints the map band by band from the grid. Painting only reads the grid and
// the painter, so bands may be painted on another thread.
class MapPainter {
 public:
  MapPainter(const WorldHeader& header, const TileGrid& grid, const TileColorTable& colors);

  // Paints rows top..top+rows-1 into `out`, one row of `width` pixels after
  // another: the painter is a PaintBand itself.
  void operator()(uint32_t top, uint32_t rows, Color* out) const;
  // Calls onUnknownWall once per tile whose wall type has no colour, column by column.
  void reportUnknownWalls(const UnknownWallHandler& onUnknownWall) const;

 private:
  const TileGrid& grid_;
  CellColors cells_;
};

// The colours of a cell's layers and the rows where the depths begin, for a
// painter outside this library (the browser page) that composites them with
// blend as CellColors does: the row's background (or a known wall, which
// covers it), then the tile, then water or lava where the liquid is not 0.
// How many wall types have a colour: 0 (no wall) to this - 1; others have none.
constexpr int kKnownWalls = 14;

struct LayerColors {
  Color sky, underground, rock;
  std::array<Color, kKnownWalls> walls;  // by wall type; 0 is no wall
  Color water, lava;
  std::array<Color, 256> tiles;  // by type byte, read unsigned
  uint64_t groundStart;          // the first row below the surface level
  uint64_t rockStart;            // the first row below the rock level
};

// The layer colours of the world `header` with the tile colours `colors`.
LayerColors layerColors(const WorldHeader& header, const TileColorTable& colors);

// Blends `layer` onto `under` by the layer's alpha; the result keeps under's alpha.
Color blend(Color under, Color layer);

}  // namespace wldmap
