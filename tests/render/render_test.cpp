#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/image.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {
namespace {

const Color kSky{68, 130, 254, 255};
const Color kUnderground{82, 58, 45, 255};
const Color kRock{67, 61, 56, 255};

template <typename CellAt>
TileGrid makeGrid(int32_t width, int32_t height, CellAt cellAt) {
  TileGrid grid(width, height);
  for (int32_t x = 0; x < width; ++x) {
    Tile* column = grid.column(x);
    for (int32_t y = 0; y < height; ++y) column[y] = cellAt(x, y);
  }
  return grid;
}

WorldHeader levels(int32_t width, int32_t height, double surface, double rock) {
  return makeHeader("", width, height, surface, rock);
}

Color pixelAt(const Image& image, int x, int y) { return image.row(y)[x]; }

// The whole map in one call of the painter, and the walls it has no colour for.
Image renderMap(const WorldHeader& header, const TileGrid& grid, const TileColorTable& colors,
                std::vector<int>* unknownWalls = nullptr) {
  const MapPainter painter(header, grid, colors);
  Image image(uint32_t(grid.width()), uint32_t(grid.height()));
  painter(0, image.height, image.row(0));
  if (unknownWalls) painter.reportUnknownWalls([&](int wall) { unknownWalls->push_back(wall); });
  return image;
}

// Renders one cell at row `row` of a single-column world with surface 10, rock 20.
Color renderOne(const Tile& tile, int row, const TileColorTable& colors = {}) {
  const TileGrid grid = makeGrid(1, row + 1, [&](int32_t, int32_t) { return tile; });
  Image image = renderMap(levels(1, row + 1, 10.0, 20.0), grid, colors);
  return pixelAt(image, 0, row);
}

// The blend as the rendering rule states it, in double precision.
uint8_t blendChannelInDoubles(unsigned under, unsigned layer, unsigned alpha) {
  return static_cast<uint8_t>(static_cast<double>(under * (255 - alpha)) / 255.0 +
                              static_cast<double>(layer * alpha) / 255.0);
}

TEST(RenderTest, BlendMatchesTheDoublePrecisionRuleForEveryByte) {
  int mismatches = 0;
  for (unsigned alpha = 0; alpha < 256; ++alpha) {
    for (unsigned under = 0; under < 256; ++under) {
      for (unsigned layer = 0; layer < 256; ++layer) {
        const Color got = blend(Color{uint8_t(under), 0, 0, 255},
                                Color{uint8_t(layer), 0, 0, uint8_t(alpha)});
        if (got.red != blendChannelInDoubles(under, layer, alpha) && ++mismatches < 5) {
          ADD_FAILURE() << under << " under " << layer << " at alpha " << alpha;
        }
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}

TEST(RenderTest, BackgroundFollowsTheDepthLevels) {
  const TileGrid grid = makeGrid(1, 30, [](int32_t, int32_t) { return Tile{}; });
  Image image = renderMap(levels(1, 30, 10.0, 20.0), grid, {});
  for (int y = 0; y < 30; ++y) {
    const Color want = y <= 10 ? kSky : y <= 20 ? kUnderground : kRock;
    EXPECT_EQ(want, pixelAt(image, 0, y)) << "row " << y;
  }
  Image between = renderMap(levels(1, 30, 10.5, 19.99), grid, {});
  EXPECT_EQ(kSky, pixelAt(between, 0, 10));
  EXPECT_EQ(kUnderground, pixelAt(between, 0, 11));
  EXPECT_EQ(kUnderground, pixelAt(between, 0, 19));
  EXPECT_EQ(kRock, pixelAt(between, 0, 20));
  // Rock above the surface: every row below the rock level is rock, also where a
  // column is painted as one run.
  std::vector<Color> run(30);
  CellColors(levels(1, 30, 20.0, 10.0), {}).paintRun(grid.column(0), 0, 30, run.data());
  for (int y = 0; y < 30; ++y) EXPECT_EQ(y <= 10 ? kSky : kRock, run[y]) << "row " << y;
}

TEST(RenderTest, LayersCompositeAsDocumented) {
  TileColorTable colors{{1, Color{10, 20, 30, 255}}, {4, Color{200, 100, 0, 128}}};
  EXPECT_EQ(kSky, renderOne(Tile{}, 0));
  // An opaque tile shows exactly its colour, whatever lies beneath.
  EXPECT_EQ((Color{10, 20, 30, 255}), renderOne(makeTile(true, 1, 5, 0, false), 25, colors));
  EXPECT_EQ((Color{34, 65, 254, 255}), renderOne(makeTile(false, 0, 0, 1, false), 0));
  EXPECT_EQ((Color{150, 23, 23, 255}), renderOne(makeTile(false, 0, 1, 9, true), 0));
  EXPECT_EQ((Color{150, 23, 23, 255}), renderOne(makeTile(false, 0, 1, 9, true), 25));
  EXPECT_EQ((Color{141, 79, 22, 255}), renderOne(makeTile(true, 4, 0, 0, false), 15, colors));
  // A type missing from the table is opaque black.
  EXPECT_EQ((Color{0, 0, 0, 255}), renderOne(makeTile(true, 9, 0, 0, false), 0, colors));
  EXPECT_EQ((Color{127, 0, 0, 255}), renderOne(makeTile(true, 9, 0, 1, true), 0, colors));
  EXPECT_EQ((Color{0, 0, 127, 255}), renderOne(makeTile(true, 9, 0, 1, false), 0, colors));
  // A liquid byte of 0 is no liquid even with the lava flag set.
  EXPECT_EQ(kSky, renderOne(makeTile(false, 0, 0, 0, true), 0));
  // Negative tile types look up their own sign-extended keys.
  TileColorTable negative{{-56, Color{1, 2, 3, 255}}, {200, Color{9, 9, 9, 255}}};
  EXPECT_EQ((Color{1, 2, 3, 255}), renderOne(makeTile(true, -56, 0, 0, false), 0, negative));
}

TEST(RenderTest, UnknownWallsWarnInColumnMajorOrderAndShowNothing) {
  // Columns of three: x=0 holds walls 14 then -56, x=1 holds 127, others known.
  const int walls[2][3] = {{14, 0, -56}, {13, 127, 1}};
  const TileGrid grid = makeGrid(2, 3, [&](int32_t x, int32_t y) {
    return makeTile(false, 0, walls[x][y], 0, false);
  });
  std::vector<int> reported;
  Image image = renderMap(levels(2, 3, 10, 20), grid, {}, &reported);
  EXPECT_EQ((std::vector<int>{14, -56, 127}), reported);
  EXPECT_EQ(kSky, pixelAt(image, 0, 0));
  EXPECT_EQ(kSky, pixelAt(image, 0, 2));
  EXPECT_EQ((Color{48, 31, 29, 255}), pixelAt(image, 1, 0));
}

// Paints one pixel straight from the rules, in doubles; a check on the banded renderer.
Color referencePixel(const Tile& t, int y, const WorldHeader& h, const TileColorTable& colors) {
  static const Color walls[14] = {{0, 0, 0, 0},      {47, 47, 47, 255}, {88, 61, 46, 255},
                                  {55, 48, 67, 255}, {69, 50, 37, 255}, {52, 52, 52, 255},
                                  {67, 41, 38, 255}, {37, 39, 72, 255}, {30, 58, 24, 255},
                                  {56, 24, 44, 255}, {60, 53, 26, 255}, {48, 52, 54, 255},
                                  {60, 36, 26, 255}, {48, 31, 29, 255}};
  Color p = y > h.rockLevel ? kRock : y > h.surfaceLevel ? kUnderground : kSky;
  const Color wall = t.wall >= 0 && t.wall < 14 ? walls[t.wall] : Color{0, 0, 0, 0};
  const Color tile = t.active ? lookup(colors, t.type) : Color{0, 0, 0, 0};
  const Color liquid = t.liquid == 0 ? Color{0, 0, 0, 0}
                       : t.lava      ? Color{255, 0, 0, 127}
                                     : Color{0, 0, 255, 127};
  for (const Color& c : {wall, tile, liquid}) {
    p.red = blendChannelInDoubles(p.red, c.red, c.alpha);
    p.green = blendChannelInDoubles(p.green, c.green, c.alpha);
    p.blue = blendChannelInDoubles(p.blue, c.blue, c.alpha);
  }
  return p;
}

TEST(RenderTest, EveryPixelMatchesAStraightforwardReference) {
  // Sizes that are not multiples of any band or block the renderer may use.
  std::mt19937 random(11);
  TileColorTable colors;
  for (int type = -128; type < 128; type += 3) {
    const uint32_t r = random();
    colors.set(type, Color{uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24)});
  }
  const int32_t width = 157, height = 203;
  const TileGrid grid = makeGrid(width, height, [&](int32_t, int32_t) {
    const uint32_t r = random();
    return makeTile(r & 1, static_cast<int8_t>(r >> 8), (r & 2) ? int((r >> 16) % 16) : 0,
                    (r & 4) ? 1 + (r >> 24) % 255 : 0, r & 8);
  });
  const WorldHeader h = levels(width, height, 50.5, 120.0);
  Image image = renderMap(h, grid, colors);
  int mismatches = 0;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      const Color want = referencePixel(grid.at(x, y), y, h, colors);
      if (pixelAt(image, x, y) != want && ++mismatches < 5) {
        ADD_FAILURE() << "pixel " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(0, mismatches);

  // A band painted on its own, starting and ending inside the painter's own bands,
  // is the same stretch of the map.
  const MapPainter painter(h, grid, colors);
  const uint32_t top = 70, rows = 75;
  std::vector<Color> band(size_t(width) * rows);
  painter(top, rows, band.data());
  for (uint32_t i = 0; i < rows; ++i) {
    EXPECT_TRUE(std::equal(band.begin() + i * width, band.begin() + (i + 1) * width,
                           image.row(top + i)))
        << "row " << top + i;
  }
}

}  // namespace
}  // namespace wldmap
