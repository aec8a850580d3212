#include "render/thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "support/image.h"

namespace wldmap {
namespace {

TEST(ThumbnailTest, LongerSideIsAtMostTheSizeAndTheOtherKeepsTheRatio) {
  const struct {
    uint32_t width, height, size, thumbWidth, thumbHeight;
  } cases[] = {
      {8400, 2400, 256, 256, 73},   // 73.14
      {100, 300, 128, 43, 128},     // 42.67, tall
      {4, 3, 2, 2, 2},              // 1.5: halves go up
      {4, 1, 2, 2, 1},              // 0.5 likewise
      {10000, 1, 100, 100, 1},      // never below one pixel
      {50, 40, 128, 50, 40},        // no larger than the size: as it is
      {1, 1, 256, 1, 1},
      {3, 5, 1, 1, 1},
      {4200, 4200, 4294967295u, 4200, 4200},
  };
  for (const auto& c : cases) {
    const ThumbnailSize size = thumbnailSize(c.width, c.height, c.size);
    EXPECT_EQ(std::make_pair(c.thumbWidth, c.thumbHeight), std::make_pair(size.width, size.height))
        << c.width << " x " << c.height << " at " << c.size;
  }
}

// A map whose pixel (x, y) has red x, green y and blue x * y.
Color ramp(uint32_t x, uint32_t y) { return Color{uint8_t(x), uint8_t(y), uint8_t(x * y), 255}; }

// The thumbnail of the ramp, its columns handed over in runs of at most `run`
// rows, as a reader hands over a world's cells.
std::vector<Color> thumbnailOfRamp(uint32_t width, uint32_t height, ThumbnailSize size,
                                   uint32_t run = UINT32_MAX) {
  BoxMeans means(width, height, size);
  std::vector<Color> column;
  for (uint32_t x = 0; x < width; ++x) {
    for (uint32_t top = 0; top < height; top += run) {
      const uint32_t count = std::min(run, height - top);
      column.clear();
      for (uint32_t y = top; y < top + count; ++y) column.push_back(ramp(x, y));
      means.add(x, top, column.data(), count);
    }
  }
  std::vector<Color> thumbnail(size_t(size.width) * size.height);
  means(0, size.height, thumbnail.data());
  return thumbnail;
}

TEST(ThumbnailTest, EachPixelIsTheRoundedMeanOfTheCellsItCovers) {
  // 5 x 3 to 2 x 2: columns 0-1 and 2-4, rows 0 and 1-2.
  // Red of columns 0-1 is 0.5 and green of rows 1-2 is 1.5: halves go up. Blue
  // of columns 2-4, rows 1-2:
  // (2 + 3 + 4 + 4 + 6 + 8) / 6 = 4.5, so 5.
  EXPECT_EQ((std::vector<Color>{{1, 0, 0, 255}, {3, 0, 0, 255}, {1, 2, 1, 255}, {3, 2, 5, 255}}),
            thumbnailOfRamp(5, 3, {2, 2}));
}

// Every shape against the rule as the checks compute it from the map's pixels:
// one column, one row, sides the thumbnail does not divide, columns handed over
// whole or in short runs.
TEST(ThumbnailTest, AnyShapeInRunsOfAnyLengthFollowsTheRule) {
  const struct {
    uint32_t width, height, size, run;
  } cases[] = {{1, 700, 64, 700}, {700, 1, 64, 1}, {300, 70, 128, 7}, {383, 97, 100, 13},
               {9, 500, 32, 64}, {7, 5, 7, 2}};
  for (const auto& c : cases) {
    std::vector<Color> map;
    for (uint32_t y = 0; y < c.height; ++y) {
      for (uint32_t x = 0; x < c.width; ++x) map.push_back(ramp(x, y));
    }
    const ThumbnailSize size = thumbnailSize(c.width, c.height, c.size);
    const Pixels thumbnail = rowsOf(thumbnailOfRamp(c.width, c.height, size, c.run), size.width);
    EXPECT_EQ(thumbnailOf(rowsOf(map, c.width), c.size), thumbnail)
        << c.width << " x " << c.height << " at " << c.size << " in runs of " << c.run;
  }
}

TEST(ThumbnailTest, MapNoLargerThanTheSizeIsItsOwnThumbnail) {
  std::vector<Color> map;
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 7; ++x) map.push_back(ramp(x, y));
  }
  EXPECT_EQ(map, thumbnailOfRamp(7, 5, thumbnailSize(7, 5, 7)));
}

}  // namespace
}  // namespace wldmap
