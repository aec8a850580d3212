#include "targets.h"

#include <algorithm>
#include <sstream>
#include <string>

#include "colors/colors.h"
#include "render/render.h"
#include "world/world.h"

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
  // A world that was accepted must have exactly the size its header declared.
  if (grid.width() != header.width || grid.height() != header.height) __builtin_trap();
  return true;
}

}  // namespace

void fuzzWorldReader(const uint8_t* data, size_t size) {
  WorldHeader header;
  TileGrid grid;
  if (readWorld(bytes(data, size), header, grid)) {
    // Touch every tile, so a cell left unwritten shows up under the sanitizers.
    unsigned sum = 0;
    for (int32_t x = 0; x < grid.width(); ++x) {
      for (int32_t y = 0; y < grid.height(); ++y) {
        const Tile& t = grid.at(x, y);
        sum += t.active + t.lava + t.auxFlag + t.liquid + uint8_t(t.type) + uint8_t(t.wall) +
               uint16_t(t.aux1) + uint16_t(t.aux2);
      }
    }
    if (sum == 0xFFFFFFFFu) __builtin_trap();  // keeps the loop from being optimised away
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
  if (unknownWalls > size_t(header.width) * size_t(header.height)) __builtin_trap();
}

}  // namespace wldmap
