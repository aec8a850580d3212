#include "targets.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "colors/colors.h"
#include "output/output.h"
#include "render/render.h"
#include "world/world.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {

namespace {

std::string bytes(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Reads a whole world or returns false when it is rejected as malformed.
bool readWorld(const std::string& file, WorldHeader& header, TileGrid& grid) {
  std::istringstream in(file);
  try {
    header = readHeader(in);
    grid = readTiles(in, header);
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
  if (!readWorld(encodeWorld(header, cells), again, gridAgain)) __builtin_trap();
  if (again.name != header.name || again.width != header.width ||
      std::memcmp(&again.surfaceLevel, &header.surfaceLevel, sizeof(double)) != 0 ||
      std::memcmp(&again.rockLevel, &header.rockLevel, sizeof(double)) != 0) {
    __builtin_trap();
  }
  // Tile has no padding, so its bytes are its fields.
  for (int32_t x = 0; x < grid.width(); ++x) {
    const Tile* written = cells.data() + size_t(x) * size_t(grid.height());
    if (std::memcmp(written, gridAgain.column(x), sizeof(Tile) * size_t(grid.height()))) {
      __builtin_trap();
    }
  }
}

void fuzzColorLoader(const uint8_t* data, size_t size) {
  std::istringstream in(bytes(data, size));
  std::vector<std::string> warnings;
  const TileColorTable table = loadTileColors(in, warnings);
  if (warnings.size() > 1) __builtin_trap();  // loading stops at the first problem
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
  size_t unknownWalls = 0;
  const Image image = renderMap(header, grid, colors, [&](int) { ++unknownWalls; });
  if (image.width() != uint32_t(header.width) || image.height() != uint32_t(header.height)) {
    __builtin_trap();
  }
  for (uint32_t y = 0; y < image.height(); ++y) {
    for (uint32_t x = 0; x < image.width(); ++x) {
      if (image.row(y)[x].alpha != 255) __builtin_trap();  // every map pixel is opaque
    }
  }
  // One warning per cell whose wall has no colour, counted here from the grid.
  size_t wallsWithoutColour = 0;
  for (int32_t x = 0; x < grid.width(); ++x) {
    for (int32_t y = 0; y < grid.height(); ++y) {
      wallsWithoutColour += grid.at(x, y).wall < 0 || grid.at(x, y).wall > 13;
    }
  }
  if (unknownWalls != wallsWithoutColour) __builtin_trap();

  // Filters chosen ahead, as the painter thread does, must give the very bytes
  // that libpng's own choice gives.
  std::ostringstream byLibpng, ahead;
  const PngWarningHandler ignore = [](const std::string&) {};
  writePng(byLibpng, image, ignore);
  writePng(
      ahead, image.width(), image.height(),
      [&image](uint32_t y) {
        return y == 0 ? EncoderRow{image.row(0)}
                      : EncoderRow{image.row(y), chooseFilter(image.row(y), image.row(y - 1),
                                                              image.width())};
      },
      ignore);
  if (byLibpng.str() != ahead.str()) __builtin_trap();
}

}  // namespace wldmap
