#include "render/render.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace wldmap {

namespace {

constexpr Color kRock{67, 61, 56, 255};
constexpr Color kUnderground{82, 58, 45, 255};
constexpr Color kSky{68, 130, 254, 255};

constexpr std::array<Color, kKnownWalls> kWallColors = {{
    {0, 0, 0, 0},       {47, 47, 47, 255}, {88, 61, 46, 255}, {55, 48, 67, 255},
    {69, 50, 37, 255},  {52, 52, 52, 255}, {67, 41, 38, 255}, {37, 39, 72, 255},
    {30, 58, 24, 255},  {56, 24, 44, 255}, {60, 53, 26, 255}, {48, 52, 54, 255},
    {60, 36, 26, 255},  {48, 31, 29, 255},
}};

constexpr Color kLava{255, 0, 0, 127};
constexpr Color kWater{0, 0, 255, 127};

inline bool isKnownWall(int8_t wall) { return static_cast<uint8_t>(wall) < kKnownWalls; }

// What lies under the tile: one of the three backgrounds or one of walls 1..13,
// each of which covers the background completely.
constexpr int kSkyUnder = 0, kUndergroundUnder = 1, kRockUnder = 2;
constexpr int kUnders = 3 + kKnownWalls - 1;

// The finished colour of every combination of what lies under the tile, the tile
// and the liquid, composited once each with blend; painting a cell is then one
// lookup. The index packs, from the top: under, active, the type byte, lava and
// "has liquid", so that it is built with shifts alone; combinations whose flags
// say there is no tile or no liquid repeat the colour without it, which is
// faster than blending the four layers cell by cell (docs/performance.md).
constexpr int kLiquidBits = 2;  // lava, has liquid
constexpr int kTypeBits = 8;
constexpr int kActiveBits = 1;
constexpr int kTypeShift = kLiquidBits;
constexpr int kActiveShift = kTypeShift + kTypeBits;
constexpr int kUnderShift = kActiveShift + kActiveBits;
static_assert(sizeof(Tile::type) * 8 == kTypeBits, "every type byte has its own entries");
static_assert(kUnders <= 16, "under fits in the index's top bits");

}  // namespace

class Composites {
 public:
  explicit Composites(const TileColorTable& colors) : table_(size_t(kUnders) << kUnderShift) {
    Color tileColors[256];
    for (int type = 0; type < 256; ++type) tileColors[type] = lookup(colors, int8_t(type));
    const Color backgrounds[3] = {kSky, kUnderground, kRock};
    for (int under = 0; under < kUnders; ++under) {
      const Color base = under < 3 ? backgrounds[under] : blend(kRock, kWallColors[static_cast<size_t>(under - 2)]);
      for (int active = 0; active < 2; ++active) {
        for (int type = 0; type < 256; ++type) {
          const Color withTile = active ? blend(base, tileColors[type]) : base;
          const size_t at = size_t(under) << kUnderShift | size_t(active) << kActiveShift |
                            size_t(type) << kTypeShift;
          table_[at] = withTile;                      // no liquid
          table_[at | 1] = blend(withTile, kWater);   // liquid, not lava
          table_[at | 2] = withTile;                  // lava flag without liquid
          table_[at | 3] = blend(withTile, kLava);    // liquid, lava
        }
      }
    }
    for (int background = 0; background < 3; ++background) {
      for (int wall = 0; wall < 256; ++wall) {
        const bool covers = wall >= 1 && wall < kKnownWalls;
        unders_[background][wall] = static_cast<uint8_t>(covers ? wall + 2 : background);
      }
    }
  }

  // What lies under tiles of each wall byte in rows of this background.
  const uint8_t* undersFor(int background) const { return unders_[background]; }

  Color of(const Tile& t, const uint8_t* unders) const {
    const size_t at = size_t(unders[static_cast<uint8_t>(t.wall)]) << kUnderShift |
                      size_t(t.active) << kActiveShift |
                      size_t(static_cast<uint8_t>(t.type)) << kTypeShift |
                      size_t(t.lava) << 1 | size_t(t.liquid != 0);
    return table_[at];
  }

 private:
  std::vector<Color> table_;
  uint8_t unders_[3][256];
};

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

namespace {

// The first row below `level`: the smallest row y with y > level as doubles
// compare them, so that every row from it on is below. Rows are below 2^32; a
// level that is not a number has no row below it.
uint64_t firstRowBelow(double level) {
  if (!(level < 4294967296.0)) return uint64_t(1) << 32;
  if (level < 0) return 0;
  return static_cast<uint64_t>(level) + 1;  // the whole part, then the next row
}

}  // namespace

CellColors::CellColors(const WorldHeader& header, const TileColorTable& colors)
    : groundStart_(firstRowBelow(header.surfaceLevel)),
      rockStart_(firstRowBelow(header.rockLevel)),
      composites_(std::make_unique<Composites>(colors)) {}

CellColors::~CellColors() = default;
CellColors::CellColors(CellColors&&) noexcept = default;

const uint8_t* CellColors::undersOfRow(uint64_t y) const {
  // A row exactly at a level belongs to the layer above it.
  return composites_->undersFor(y >= rockStart_     ? kRockUnder
                                : y >= groundStart_ ? kUndergroundUnder
                                                    : kSkyUnder);
}

LayerColors layerColors(const WorldHeader& header, const TileColorTable& colors) {
  LayerColors layers{};
  layers.sky = kSky;
  layers.underground = kUnderground;
  layers.rock = kRock;
  std::copy(std::begin(kWallColors), std::end(kWallColors), layers.walls.begin());
  layers.water = kWater;
  layers.lava = kLava;
  for (int type = 0; type < 256; ++type) {
    layers.tiles[static_cast<size_t>(type)] = lookup(colors, int8_t(type));
  }
  layers.groundStart = firstRowBelow(header.surfaceLevel);
  layers.rockStart = firstRowBelow(header.rockLevel);
  return layers;
}

void CellColors::paintRun(const Tile* cells, uint32_t top, uint32_t count, Color* out) const {
  // Rows share what lies under them from one level to the next, so the run is
  // painted a layer at a time.
  for (uint32_t i = 0; i < count;) {
    const uint64_t y = uint64_t(top) + i;
    const uint64_t layerEnd = y >= rockStart_     ? UINT64_MAX
                              : y >= groundStart_ ? rockStart_
                                                  : std::min(groundStart_, rockStart_);
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(count, layerEnd - top));
    const uint8_t* unders = undersOfRow(y);
    for (; i < end; ++i) out[i] = composites_->of(cells[i], unders);
  }
}

MapPainter::MapPainter(const WorldHeader& header, const TileGrid& grid,
                       const TileColorTable& colors)
    : grid_(grid), cells_(header, colors) {}

void MapPainter::operator()(uint32_t top, uint32_t rows, Color* out) const {
  // One sweep across the columns for all the rows asked for: the bands callers
  // ask for are short, so each column's run is short and the rows being written
  // stay in cache.
  const int32_t width = grid_.width();
  const size_t rowPixels = static_cast<size_t>(width);
  std::vector<Color*> line(rows);
  std::vector<const uint8_t*> unders(rows);
  for (uint32_t i = 0; i < rows; ++i) {
    line[i] = out + i * rowPixels;
    unders[i] = cells_.undersOfRow(uint64_t(top) + i);
  }
  const Composites& composites = *cells_.composites_;
  const size_t chunkBytes = static_cast<size_t>(rows) * sizeof(Tile);
  for (int32_t x = 0; x < width; ++x) {
    const Tile* cells = grid_.column(x) + top;
    // Each column's run starts a new stream the hardware has not seen yet, so
    // fetch the next column's run while this one is painted (docs/performance.md).
    if (x + 1 < width) {
      const char* next = reinterpret_cast<const char*>(grid_.column(x + 1) + top);
      for (size_t offset = 0; offset < chunkBytes; offset += 64) platform::prefetch(next + offset);
    }
    for (uint32_t i = 0; i < rows; ++i) line[i][x] = composites.of(cells[i], unders[i]);
  }
}

void MapPainter::reportUnknownWalls(const UnknownWallHandler& onUnknownWall) const {
  // The reader knows the largest wall byte it stored; most worlds have no
  // unknown walls and need no pass over the grid.
  if (grid_.largestWall() < kKnownWalls) return;
  for (int32_t x = 0; x < grid_.width(); ++x) {
    const Tile* cells = grid_.column(x);
    for (int32_t y = 0; y < grid_.height(); ++y) {
      if (!isKnownWall(cells[y].wall)) onUnknownWall(cells[y].wall);
    }
  }
}

}  // namespace wldmap
