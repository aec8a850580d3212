// A thumbnail of the map: the map scaled down by the mean of the cells each
// thumbnail pixel covers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "colors/colors.h"
#include "model/color.h"
#include "model/paint_band.h"
#include "world/world.h"

namespace wldmap {

struct ThumbnailSize {
  uint32_t width;
  uint32_t height;
};

// The thumbnail of a width x height map whose longer side is at most `size`:
// that side becomes min(size, the map's longer side), and the other keeps the
// ratio, rounded to nearest (halves up), at least 1. A map no larger than
// `size` keeps its own size. All of width, height and size are at least 1.
ThumbnailSize thumbnailSize(uint32_t width, uint32_t height, uint32_t size);

// Paints a thumbnail of a map band by band from the map's own rows, never
// holding more of the map than the rows one thumbnail row covers. Thumbnail
// pixel (i, j) covers the map's columns floor(i * width / thumbnail width) up
// to floor((i + 1) * width / thumbnail width), not including it, and the rows
// likewise; its red, green and blue are the means of those map pixels, rounded
// to nearest with halves up, and its alpha is 255.
class ThumbnailPainter {
 public:
  ThumbnailPainter(uint32_t mapWidth, uint32_t mapHeight, ThumbnailSize size,
                   PaintBand paintMap);

  // Paints thumbnail rows top..top+rows-1 into `out`. Rows are painted in
  // order, by one thread at a time.
  void paint(uint32_t top, uint32_t rows, Color* out);

 private:
  // The first map column or row that thumbnail column or row `index` covers.
  static uint32_t first(uint32_t index, uint32_t mapSide, uint32_t thumbnailSide);

  const uint32_t mapWidth_, mapHeight_;
  const ThumbnailSize size_;
  const PaintBand paintMap_;
  std::vector<uint32_t> columnStarts_;  // size_.width + 1 map columns
  std::vector<Color> mapRows_;          // the map rows of one thumbnail row
  std::vector<uint64_t> sums_;          // red, green, blue of each thumbnail column
};

// Receives a thumbnail's size and the painter of its rows.
using UseThumbnail = std::function<void(ThumbnailSize size, const PaintBand& paint)>;

// The thumbnail of a world's map, at most `size` pixels a side: the map as
// MapPainter paints it with `colors`, scaled down by ThumbnailPainter. Calls
// `use` once, with the thumbnail's size and a painter of its rows, which paints
// each row once, in order. Throws what the painters throw.
void paintWorldThumbnail(const WorldHeader& header, const TileGrid& grid,
                         const TileColorTable& colors, uint32_t size, const UseThumbnail& use);

}  // namespace wldmap
