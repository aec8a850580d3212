#include "render/render.h"

#include <algorithm>
#include <vector>

namespace wldmap {

namespace {

constexpr Color kRock{67, 61, 56, 255};
constexpr Color kUnderground{82, 58, 45, 255};
constexpr Color kSky{68, 130, 254, 255};

constexpr int kKnownWalls = 14;
constexpr Color kWallColors[kKnownWalls] = {
    {0, 0, 0, 0},       {47, 47, 47, 255}, {88, 61, 46, 255}, {55, 48, 67, 255},
    {69, 50, 37, 255},  {52, 52, 52, 255}, {67, 41, 38, 255}, {37, 39, 72, 255},
    {30, 58, 24, 255},  {56, 24, 44, 255}, {60, 53, 26, 255}, {48, 52, 54, 255},
    {60, 36, 26, 255},  {48, 31, 29, 255},
};

constexpr Color kLava{255, 0, 0, 127};
constexpr Color kWater{0, 0, 255, 127};

// Rows painted together: each pass reads a short run of every column and writes
// whole stretches of a few image rows, so neither side is walked with a stride.
constexpr int32_t kBand = 64;

inline bool isKnownWall(int8_t wall) { return static_cast<uint8_t>(wall) < kKnownWalls; }

// What lies under the tile: one of the three backgrounds or one of walls 1..13,
// each of which covers the background completely.
constexpr int kSkyUnder = 0, kUndergroundUnder = 1, kRockUnder = 2;
constexpr int kUnders = 3 + kKnownWalls - 1;
constexpr int kTileStates = 1 + 256;  // no tile, or a tile of one of 256 type bytes
constexpr int kLiquids = 3;           // none, water, lava

// The finished colour of every combination of under, tile and liquid, composited
// once each with blend; painting a cell is then one lookup.
class Composites {
 public:
  explicit Composites(const TileColorTable& colors) : table_(kUnders * kTileStates * kLiquids) {
    const Color backgrounds[3] = {kSky, kUnderground, kRock};
    for (int under = 0; under < kUnders; ++under) {
      const Color base = under < 3 ? backgrounds[under] : blend(kRock, kWallColors[under - 2]);
      for (int tile = 0; tile < kTileStates; ++tile) {
        const Color withTile =
            tile == 0 ? base : blend(base, lookup(colors, static_cast<int8_t>(tile - 1)));
        table_[index(under, tile, 0)] = withTile;
        table_[index(under, tile, 1)] = blend(withTile, kWater);
        table_[index(under, tile, 2)] = blend(withTile, kLava);
      }
    }
  }

  Color of(const Tile& t, int background) const {
    const unsigned wall = static_cast<uint8_t>(t.wall);
    const int under = wall - 1 < kKnownWalls - 1 ? static_cast<int>(wall) + 2 : background;
    const int tile = t.active ? 1 + static_cast<uint8_t>(t.type) : 0;
    const int liquid = t.liquid != 0 ? 1 + t.lava : 0;
    return table_[index(under, tile, liquid)];
  }

 private:
  static size_t index(int under, int tile, int liquid) {
    return (static_cast<size_t>(under) * kTileStates + tile) * kLiquids + liquid;
  }
  std::vector<Color> table_;
};

}  // namespace

Color blend(Color under, Color layer) {
  const unsigned a = layer.alpha;
  if (a == 0) return under;
  if (a == 255) return Color{layer.red, layer.green, layer.blue, under.alpha};
  // Equal, for all byte values, to truncating
  // under*(255-a)/255.0 + layer*a/255.0 computed in double precision.
  const unsigned rest = 255 - a;
  return Color{static_cast<uint8_t>((under.red * rest + layer.red * a) / 255),
               static_cast<uint8_t>((under.green * rest + layer.green * a) / 255),
               static_cast<uint8_t>((under.blue * rest + layer.blue * a) / 255), under.alpha};
}

Image renderMap(const WorldHeader& header, const TileGrid& grid, const TileColorTable& colors,
                const UnknownWallHandler& onUnknownWall) {
  const int32_t width = grid.width();
  const int32_t height = grid.height();

  const Composites composites(colors);

  Image image(static_cast<uint32_t>(width), static_cast<uint32_t>(height));

  bool unknownWalls = false;
  for (int32_t top = 0; top < height; top += kBand) {
    const int32_t rows = std::min(kBand, height - top);
    Color* out[kBand];
    int background[kBand];
    for (int32_t i = 0; i < rows; ++i) {
      const int32_t y = top + i;
      out[i] = image.row(static_cast<uint32_t>(y));
      const double depth = y;
      background[i] = depth > header.rockLevel      ? kRockUnder
                      : depth > header.surfaceLevel ? kUndergroundUnder
                                                    : kSkyUnder;
    }
    const size_t chunkBytes = static_cast<size_t>(rows) * sizeof(Tile);
    for (int32_t x = 0; x < width; ++x) {
      const Tile* cells = grid.column(x) + top;
      // Each column's run starts a new stream the hardware has not seen yet, so
      // fetch the next column's run while this one is painted.
      if (x + 1 < width) {
        const char* next = reinterpret_cast<const char*>(grid.column(x + 1) + top);
        for (size_t offset = 0; offset < chunkBytes; offset += 64) __builtin_prefetch(next + offset);
      }
      for (int32_t i = 0; i < rows; ++i) {
        const Tile& t = cells[i];
        unknownWalls |= !isKnownWall(t.wall);
        out[i][x] = composites.of(t, background[i]);
      }
    }
  }

  // Warnings follow the grid's own order, which the banded pass above does not.
  if (unknownWalls) {
    for (int32_t x = 0; x < width; ++x) {
      const Tile* cells = grid.column(x);
      for (int32_t y = 0; y < height; ++y) {
        if (!isKnownWall(cells[y].wall)) onUnknownWall(cells[y].wall);
      }
    }
  }
  return image;
}

}  // namespace wldmap
