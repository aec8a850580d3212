#include "targets.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "colors/colors.h"
#include "core/core.h"
#include "output/output.h"
#include "render/render.h"
#include "support/image.h"
#include "world/world.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {

namespace {

std::string bytes(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Reads a whole world or returns false when it is rejected as malformed.
bool readWorld(const std::string& file, WorldHeader& header, TileGrid& grid) {
  try {
    WorldReader reader(readBytesOf(file), file.size());
    header = reader.readHeader();
    grid = reader.readGrid();
  } catch (const WorldError&) {
    return false;
  }
  return true;
}

}  // namespace

void fuzzWorldReader(const uint8_t* data, size_t size) {
  WorldHeader header;
  TileGrid grid;
  if (!readWorld(bytes(data, size), header, grid)) return;
  // What was read, written back by the world writer and read again, must come
  // back field for field: the reader and the format agree on every cell.
  std::vector<Tile> cells;
  for (int32_t x = 0; x < grid.width(); ++x) {
    cells.insert(cells.end(), grid.column(x), grid.column(x) + grid.height());
  }
  // A liquid flag with a liquid byte of 0 leaves a lava flag that nothing reads
  // and that the writer, which writes liquid bytes only for liquid, drops.
  for (Tile& t : cells) t.lava = t.lava && t.liquid != 0;
  WorldHeader again;
  TileGrid gridAgain;
  if (!readWorld(encodeWorld(header, cells), again, gridAgain)) std::abort();
  if (again.name != header.name || again.width != header.width ||
      std::memcmp(&again.surfaceLevel, &header.surfaceLevel, sizeof(double)) != 0 ||
      std::memcmp(&again.rockLevel, &header.rockLevel, sizeof(double)) != 0) {
    std::abort();
  }
  // Tile has no padding, so its bytes are its fields.
  for (int32_t x = 0; x < grid.width(); ++x) {
    const Tile* written = cells.data() + size_t(x) * size_t(grid.height());
    if (std::memcmp(written, gridAgain.column(x), sizeof(Tile) * size_t(grid.height()))) {
      std::abort();
    }
  }
}

void fuzzColorLoader(const uint8_t* data, size_t size) {
  std::istringstream in(bytes(data, size));
  std::vector<std::string> warnings;
  loadTileColors(in, warnings);
  if (warnings.size() > 1) std::abort();  // loading stops at the first problem
  // The same bytes as a names file: every name kept is of a type and not too long.
  std::istringstream names(bytes(data, size));
  const TypeNames named = loadTypeNames(names, warnings);
  for (const auto* kind : {&named.tiles, &named.walls}) {
    for (const auto& [type, name] : *kind) {
      if (type < -128 || type > 127 || name.empty() || name.size() > 4 * kLongestName ||
          name.find('\n') != std::string::npos) {
        std::abort();
      }
    }
  }
}

void fuzzPipeline(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const size_t colorLength = std::min<size_t>(data[0], size - 1);
  std::istringstream colorText(bytes(data + 1, colorLength));
  std::vector<std::string> warnings;
  const TileColorTable colors = loadTileColors(colorText, warnings);

  WorldHeader header;
  TileGrid grid;
  if (!readWorld(bytes(data + 1 + colorLength, size - 1 - colorLength), header, grid)) return;
  const MapPainter painter(header, grid, colors);
  const auto width = uint32_t(header.width), height = uint32_t(header.height);
  Image image(width, height);
  painter(0, height, image.row(0));
  for (const Color& pixel : image.pixels) {
    if (pixel.alpha != 255) std::abort();  // every map pixel is opaque
  }
  // One warning per cell whose wall has no colour, counted here from the grid.
  size_t unknownWalls = 0, wallsWithoutColour = 0;
  painter.reportUnknownWalls([&](int) { ++unknownWalls; });
  for (int32_t x = 0; x < grid.width(); ++x) {
    for (int32_t y = 0; y < grid.height(); ++y) {
      wallsWithoutColour += grid.at(x, y).wall < 0 || grid.at(x, y).wall > 13;
    }
  }
  if (unknownWalls != wallsWithoutColour) std::abort();

  // What the tool writes, painted band by band on its second thread with each
  // row's filter chosen there, must be the very bytes png++ writes of the same
  // map with libpng's own choices.
  std::ostringstream ours;
  writePng(ours, width, height, std::cref(painter), [](const std::string&) {});
  if (ours.str() != pngByPngPlusPlus(image)) std::abort();
}

void fuzzThumbnail(const uint8_t* data, size_t size) {
  if (size == 0) return;
  static const uint32_t sizes[] = {1, 2, 7, 64, 256};
  const uint32_t side = sizes[data[0] % 5];
  const std::string file = bytes(data + 1, size - 1);
  const TileColorTable colors{{0, Color{10, 20, 30, 255}},  {1, Color{200, 100, 50, 128}},
                              {-56, Color{1, 2, 3, 0}},      {57, Color{255, 255, 255, 255}}};
  try {
    WorldSource world(readBytesOf(file), file.size());
    const WorldHeader header = world.header();
    const BoxMeans thumbnail = world.readThumbnail(colors, side);
    const ThumbnailSize shape = thumbnail.size();
    const auto width = uint32_t(header.width), height = uint32_t(header.height);
    const ThumbnailSize expected = thumbnailSize(width, height, side);
    if (shape.width != expected.width || shape.height != expected.height) std::abort();
    Image small(shape.width, shape.height);
    thumbnail(0, shape.height, small.row(0));
    if (std::max(width, height) > side) return;
    // No larger than the size: the thumbnail is the map itself.
    WorldHeader again;
    TileGrid grid;
    if (!readWorld(file, again, grid)) std::abort();
    Image map(width, height);
    MapPainter(again, grid, colors)(0, height, map.row(0));
    if (map.pixels != small.pixels) std::abort();
  } catch (const WorldError&) {
    // A malformed world may only be rejected.
  }
}

}  // namespace wldmap
