// A whole map in memory, which only the checks need: the tool paints and
// encodes its maps band by band and never holds one whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/color.h"

namespace wldmap {

struct Image {
  Image() = default;
  Image(uint32_t width, uint32_t height)
      : width(width), height(height), pixels(size_t(width) * height) {}

  Color* row(uint32_t y) { return pixels.data() + size_t(y) * width; }
  const Color* row(uint32_t y) const { return pixels.data() + size_t(y) * width; }
  // Copies rows top..top+rows-1 to `out`: this image as the encoder's painter.
  void paint(uint32_t top, uint32_t rows, Color* out) const;

  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<Color> pixels;
};

// The PNG that png++ writes of the image with libpng's default settings: what
// the tool's own bytes must equal.
std::string pngByPngPlusPlus(const Image& image);

// The image a PNG file holds, as png++ decodes it.
Image decodePng(const std::string& bytes);

// The filter type of each row of an 8-bit RGBA PNG without interlacing, read
// from its inflated image data.
std::vector<int> rowFilters(const std::string& png);

// An image's pixels row by row, each as 0xRRGGBBAA: the form the checks of
// whole files compare.
using Pixels = std::vector<std::vector<uint32_t>>;

// The pixels of an image `width` pixels wide, row after row.
Pixels rowsOf(const std::vector<Color>& pixels, uint32_t width);

// The pixels of the PNG file `path`, as png++ decodes them.
Pixels pixels(const std::string& path);

// The thumbnail of a map computed from its pixels, here and by the rule alone:
// pixel (i, j) is the mean of the map's columns i*w/tw up to (i+1)*w/tw and
// its rows likewise, halves rounded up, alpha 255.
Pixels thumbnailOf(const Pixels& map, size_t tw, size_t th);
// The same at most `size` a side: the longer side becomes the smaller of size
// and the map's, the other keeps the ratio, rounded to nearest, at least 1.
Pixels thumbnailOf(const Pixels& map, size_t size);

}  // namespace wldmap
