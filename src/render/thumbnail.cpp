#include "render/thumbnail.h"

#include <algorithm>
#include <utility>

#include "render/render.h"

namespace wldmap {

ThumbnailSize thumbnailSize(uint32_t width, uint32_t height, uint32_t size) {
  const uint64_t longer = std::max(width, height), shorter = std::min(width, height);
  const uint64_t side = std::min<uint64_t>(size, longer);
  // shorter * side / longer, rounded to nearest with halves up.
  const auto other =
      static_cast<uint32_t>(std::max<uint64_t>(1, (2 * shorter * side + longer) / (2 * longer)));
  const auto along = static_cast<uint32_t>(side);
  return width >= height ? ThumbnailSize{along, other} : ThumbnailSize{other, along};
}

uint32_t ThumbnailPainter::first(uint32_t index, uint32_t mapSide, uint32_t thumbnailSide) {
  return static_cast<uint32_t>(uint64_t(index) * mapSide / thumbnailSide);
}

ThumbnailPainter::ThumbnailPainter(uint32_t mapWidth, uint32_t mapHeight, ThumbnailSize size,
                                   PaintBand paintMap)
    : mapWidth_(mapWidth),
      mapHeight_(mapHeight),
      size_(size),
      paintMap_(std::move(paintMap)),
      columnStarts_(size.width + 1),
      sums_(size_t(size.width) * 3) {
  for (uint32_t i = 0; i <= size.width; ++i) columnStarts_[i] = first(i, mapWidth, size.width);
  // The most rows one thumbnail row covers: the ceiling of the ratio.
  const uint64_t rows = (uint64_t(mapHeight) + size.height - 1) / size.height;
  mapRows_.resize(size_t(mapWidth) * rows);
}

void ThumbnailPainter::paint(uint32_t top, uint32_t rows, Color* out) {
  for (uint32_t j = top; j < top + rows; ++j) {
    const uint32_t y0 = first(j, mapHeight_, size_.height);
    const uint32_t y1 = first(j + 1, mapHeight_, size_.height);
    paintMap_(y0, y1 - y0, mapRows_.data());
    std::fill(sums_.begin(), sums_.end(), 0);
    for (uint32_t y = 0; y < y1 - y0; ++y) {
      const Color* row = mapRows_.data() + size_t(y) * mapWidth_;
      for (uint32_t i = 0; i < size_.width; ++i) {
        uint64_t red = 0, green = 0, blue = 0;
        for (uint32_t x = columnStarts_[i]; x < columnStarts_[i + 1]; ++x) {
          red += row[x].red;
          green += row[x].green;
          blue += row[x].blue;
        }
        sums_[3 * size_t(i)] += red;
        sums_[3 * size_t(i) + 1] += green;
        sums_[3 * size_t(i) + 2] += blue;
      }
    }
    Color* line = out + size_t(j - top) * size_.width;
    for (uint32_t i = 0; i < size_.width; ++i) {
      const uint64_t cells = uint64_t(columnStarts_[i + 1] - columnStarts_[i]) * (y1 - y0);
      auto mean = [&](size_t channel) {
        return static_cast<uint8_t>((sums_[3 * size_t(i) + channel] + cells / 2) / cells);
      };
      line[i] = Color{mean(0), mean(1), mean(2), 255};
    }
  }
}

void paintWorldThumbnail(const WorldHeader& header, const TileGrid& grid,
                         const TileColorTable& colors, uint32_t size, const UseThumbnail& use) {
  const MapPainter map(header, grid, colors);
  const auto width = static_cast<uint32_t>(header.width);
  const auto height = static_cast<uint32_t>(header.height);
  const ThumbnailSize thumbnail = thumbnailSize(width, height, size);
  ThumbnailPainter painter(width, height, thumbnail,
                           [&map](uint32_t top, uint32_t rows, Color* out) {
                             map.paint(top, rows, out);
                           });
  use(thumbnail, [&painter](uint32_t top, uint32_t rows, Color* out) {
    painter.paint(top, rows, out);
  });
}

}  // namespace wldmap
