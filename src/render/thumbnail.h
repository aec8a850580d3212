// A thumbnail of the map: the map scaled down by the mean of the cells each
// thumbnail pixel covers, made as the world's cells are read.
#pragma once

#include <cstdint>
#include <vector>

#include "colors/colors.h"
#include "model/color.h"
#include "model/large_array.h"
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

// A thumbnail made from a map's pixels column by column, in the order a world's
// cells are stored: each map pixel is added to the sums of the thumbnail pixel
// it falls in, and a thumbnail column is finished as soon as its last map column
// is in. It holds the finished thumbnail, four bytes a pixel, and the sums of
// one thumbnail column; never the map. Thumbnail pixel (i, j) covers the map's
// columns floor(i * width / thumbnail width) up to floor((i + 1) * width /
// thumbnail width), not including it, and the rows likewise; its red, green and
// blue are the means of those map pixels, rounded to nearest with halves up,
// and its alpha is 255.
class BoxMeans {
 public:
  BoxMeans(uint32_t mapWidth, uint32_t mapHeight, ThumbnailSize size);

  ThumbnailSize size() const { return size_; }
  // Adds the map's pixels of column x, rows top..top+count-1. Columns come in
  // order, and each column's rows in order, every map pixel once.
  void add(uint32_t x, uint32_t top, const Color* pixels, uint32_t count);
  // Once every map pixel is in, paints thumbnail rows top..top+rows-1 into
  // `out`: the thumbnail is a PaintBand itself.
  void operator()(uint32_t top, uint32_t rows, Color* out) const;

 private:
  // Puts the means of thumbnail column column_ into the thumbnail, and starts
  // the next column's sums.
  void finishColumn();

  const uint32_t mapHeight_;
  const ThumbnailSize size_;
  std::vector<uint32_t> columnStarts_;  // size_.width + 1 map columns
  std::vector<uint32_t> rowStarts_;     // size_.height + 1 map rows
  std::vector<uint64_t> sums_;          // red, green, blue of each thumbnail row, this column
  LargeArray<Color> pixels_;            // the thumbnail, row by row
  uint32_t column_ = 0;                 // the thumbnail column being summed
};

// The thumbnail, at most `size` pixels a side, of the world whose header
// `reader` has read: its cells painted as the map paints them with `colors`,
// and scaled down by BoxMeans as they are decoded, so that the world's grid is
// never held. Throws what the reader throws, and std::bad_alloc.
BoxMeans readThumbnail(WorldReader& reader, const TileColorTable& colors, uint32_t size);

}  // namespace wldmap
