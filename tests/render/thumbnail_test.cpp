#include "render/thumbnail.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

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
void paintRamp(uint32_t width, uint32_t top, uint32_t rows, Color* out) {
  for (uint32_t y = top; y < top + rows; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      *out++ = Color{uint8_t(x), uint8_t(y), uint8_t(x * y), 255};
    }
  }
}

TEST(ThumbnailTest, EachPixelIsTheRoundedMeanOfTheCellsItCovers) {
  // 5 x 3 to 2 x 2: columns 0-1 and 2-4, rows 0 and 1-2.
  ThumbnailPainter painter(5, 3, {2, 2}, [](uint32_t top, uint32_t rows, Color* out) {
    paintRamp(5, top, rows, out);
  });
  std::vector<Color> thumbnail(4);
  painter.paint(0, 2, thumbnail.data());
  // Red of columns 0-1 is 0.5 and green of rows 1-2 is 1.5: halves go up. Blue
  // of columns 2-4, rows 1-2:
  // (2 + 3 + 4 + 4 + 6 + 8) / 6 = 4.5, so 5.
  EXPECT_EQ((std::vector<Color>{{1, 0, 0, 255}, {3, 0, 0, 255}, {1, 2, 1, 255}, {3, 2, 5, 255}}),
            thumbnail);
}

TEST(ThumbnailTest, PaintsTheMapsRowsInOrderAndBandsAlike) {
  std::vector<std::pair<uint32_t, uint32_t>> asked;
  auto paint = [&asked](uint32_t top, uint32_t rows, Color* out) {
    asked.emplace_back(top, rows);
    paintRamp(300, top, rows, out);
  };
  const ThumbnailSize size = thumbnailSize(300, 200, 64);
  ThumbnailPainter whole(300, 200, size, paint);
  std::vector<Color> once(size_t(size.width) * size.height);
  whole.paint(0, size.height, once.data());
  // Every map row exactly once, in order, a thumbnail row's worth at a time.
  uint32_t next = 0;
  for (const auto& [top, rows] : asked) {
    EXPECT_EQ(next, top);
    next = top + rows;
  }
  EXPECT_EQ(200u, next);
  ThumbnailPainter banded(300, 200, size, paint);
  std::vector<Color> bands(once.size());
  for (uint32_t top = 0; top < size.height; top += 5) {
    banded.paint(top, std::min(5u, size.height - top), bands.data() + size_t(top) * size.width);
  }
  EXPECT_EQ(once, bands);
}

TEST(ThumbnailTest, MapNoLargerThanTheSizeIsItsOwnThumbnail) {
  ThumbnailPainter painter(7, 5, thumbnailSize(7, 5, 7), [](uint32_t top, uint32_t rows,
                                                            Color* out) {
    paintRamp(7, top, rows, out);
  });
  std::vector<Color> map(35), thumbnail(35);
  paintRamp(7, 0, 5, map.data());
  painter.paint(0, 5, thumbnail.data());
  EXPECT_EQ(map, thumbnail);
}

}  // namespace
}  // namespace wldmap
