// The map renderer: one composited pixel per cell.
#pragma once

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

// Paints the map band by band. Built once per world; painting only reads the
// grid and the painter, so bands may be painted on another thread.
class MapPainter {
 public:
  MapPainter(const WorldHeader& header, const TileGrid& grid, const TileColorTable& colors);
  ~MapPainter();

  // Paints rows top..top+rows-1 into `out`, one row of `width` pixels after another.
  void paint(uint32_t top, uint32_t rows, Color* out) const;
  // Calls onUnknownWall once per tile whose wall type has no colour, column by column.
  void reportUnknownWalls(const UnknownWallHandler& onUnknownWall) const;

 private:
  const WorldHeader& header_;
  const TileGrid& grid_;
  std::unique_ptr<const Composites> composites_;
};

// Blends `layer` onto `under` by the layer's alpha; the result keeps under's alpha.
Color blend(Color under, Color layer);

}  // namespace wldmap
