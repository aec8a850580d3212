// The map renderer: one composited pixel per cell.
#pragma once

#include <functional>

#include "colors/colors.h"
#include "model/image.h"
#include "world/world.h"

namespace wldmap {

// Called once per tile whose wall type has no colour, in column-major order.
using UnknownWallHandler = std::function<void(int wall)>;

// Paints each cell as depth background, then wall, tile and liquid blended on top.
Image renderMap(const WorldHeader& header, const TileGrid& grid, const TileColorTable& colors,
                const UnknownWallHandler& onUnknownWall);

// Blends `layer` onto `under` by the layer's alpha; the result keeps under's alpha.
Color blend(Color under, Color layer);

}  // namespace wldmap
