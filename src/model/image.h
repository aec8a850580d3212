// The map image: width x height RGBA pixels in one block, rows top to bottom.
#pragma once

#include <cstdint>

#include "model/color.h"
#include "model/large_array.h"

namespace wldmap {

class Image {
 public:
  Image() = default;
  // Allocates the pixels uninitialised: the renderer writes every one.
  Image(uint32_t width, uint32_t height)
      : width_(width),
        height_(height),
        pixels_(makeLargeArray<Color>(checkedProduct(width, height))) {}

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // The pixels of row y, left to right.
  Color* row(uint32_t y) { return pixels_.get() + static_cast<size_t>(y) * width_; }
  const Color* row(uint32_t y) const { return pixels_.get() + static_cast<size_t>(y) * width_; }

 private:
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  LargeArray<Color> pixels_;
};

}  // namespace wldmap
