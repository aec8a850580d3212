#include "render/thumbnail.h"

#include <algorithm>
#include <cstring>
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

namespace {

// The first map column or row of each thumbnail column or row, and the end.
std::vector<uint32_t> starts(uint32_t mapSide, uint32_t thumbnailSide) {
  std::vector<uint32_t> first(size_t(thumbnailSide) + 1);
  for (uint32_t i = 0; i <= thumbnailSide; ++i) {
    first[i] = static_cast<uint32_t>(uint64_t(i) * mapSide / thumbnailSide);
  }
  return first;
}

}  // namespace

BoxMeans::BoxMeans(uint32_t mapWidth, uint32_t mapHeight, ThumbnailSize size)
    : mapHeight_(mapHeight),
      size_(size),
      columnStarts_(starts(mapWidth, size.width)),
      rowStarts_(starts(mapHeight, size.height)),
      sums_(size_t(size.height) * 3),
      pixels_(makeLargeArray<Color>(checkedProduct(size.width, size.height))) {}

void BoxMeans::add(uint32_t x, uint32_t top, const Color* pixels, uint32_t count) {
  // The thumbnail row of map row `top`, then each thumbnail row the run reaches.
  auto j = static_cast<size_t>(
      std::upper_bound(rowStarts_.begin(), rowStarts_.end(), top) - rowStarts_.begin() - 1);
  for (uint32_t y = top, end = top + count; y < end; ++j) {
    const uint32_t stop = std::min(end, rowStarts_[j + 1]);
    uint64_t red = 0, green = 0, blue = 0;
    for (; y < stop; ++y, ++pixels) {
      red += pixels->red;
      green += pixels->green;
      blue += pixels->blue;
    }
    sums_[3 * j] += red;
    sums_[3 * j + 1] += green;
    sums_[3 * j + 2] += blue;
  }
  if (top + count == mapHeight_ && x + 1 == columnStarts_[column_ + 1]) finishColumn();
}

void BoxMeans::finishColumn() {
  const uint64_t columns = columnStarts_[column_ + 1] - columnStarts_[column_];
  for (uint32_t j = 0; j < size_.height; ++j) {
    const uint64_t cells = columns * (rowStarts_[j + 1] - rowStarts_[j]);
    auto mean = [&](size_t channel) {
      return static_cast<uint8_t>((sums_[3 * size_t(j) + channel] + cells / 2) / cells);
    };
    pixels_[size_t(j) * size_.width + column_] = Color{mean(0), mean(1), mean(2), 255};
  }
  std::fill(sums_.begin(), sums_.end(), 0);
  ++column_;
}

void BoxMeans::operator()(uint32_t top, uint32_t rows, Color* out) const {
  std::memcpy(out, pixels_.get() + size_t(top) * size_.width,
              size_t(rows) * size_.width * sizeof(Color));
}

BoxMeans readThumbnail(WorldReader& reader, const TileColorTable& colors, uint32_t size) {
  const WorldHeader& header = reader.header();
  const auto width = static_cast<uint32_t>(header.width);
  const auto height = static_cast<uint32_t>(header.height);
  const CellColors cells(header, colors);
  BoxMeans means(width, height, thumbnailSize(width, height, size));
  std::vector<Color> run(size_t(std::min(kCellRun, header.height)));
  reader.readRuns([&](int32_t x, int32_t top, const Tile* tiles, int32_t count) {
    cells.paintRun(tiles, uint32_t(top), uint32_t(count), run.data());
    means.add(uint32_t(x), uint32_t(top), run.data(), uint32_t(count));
  });
  return means;
}

}  // namespace wldmap
