#include "render/render.h"

#include <algorithm>

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

inline Color shade(const Tile& t, Color background, const Color* tileColors) {
  Color p = background;
  if (isKnownWall(t.wall)) p = blend(p, kWallColors[static_cast<uint8_t>(t.wall)]);
  if (t.active) p = blend(p, tileColors[static_cast<uint8_t>(t.type)]);
  if (t.liquid != 0) p = blend(p, t.lava ? kLava : kWater);
  return p;
}

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

  // Tile types are signed bytes, so 256 entries cover every stored value.
  Color tileColors[256];
  for (int b = 0; b < 256; ++b) tileColors[b] = lookup(colors, static_cast<int8_t>(b));

  Image image(static_cast<png::uint_32>(width), static_cast<png::uint_32>(height));

  bool unknownWalls = false;
  for (int32_t top = 0; top < height; top += kBand) {
    const int32_t rows = std::min(kBand, height - top);
    png::rgba_pixel* out[kBand];
    Color background[kBand];
    for (int32_t i = 0; i < rows; ++i) {
      const int32_t y = top + i;
      out[i] = image.get_pixbuf().get_row(static_cast<size_t>(y)).data();
      const double depth = y;
      background[i] = depth > header.rockLevel      ? kRock
                      : depth > header.surfaceLevel ? kUnderground
                                                    : kSky;
    }
    for (int32_t x = 0; x < width; ++x) {
      const Tile* cells = grid.column(x) + top;
      for (int32_t i = 0; i < rows; ++i) {
        const Tile& t = cells[i];
        unknownWalls |= !isKnownWall(t.wall);
        const Color p = shade(t, background[i], tileColors);
        out[i][x] = png::rgba_pixel(p.red, p.green, p.blue, p.alpha);
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
