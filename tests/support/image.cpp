#include "support/image.h"

#include <algorithm>
#include <sstream>

#include <png++/png.hpp>
#include <stdexcept>
#include <zlib.h>

namespace wldmap {

void Image::paint(uint32_t top, uint32_t rows, Color* out) const {
  std::copy(row(top), row(top) + size_t(rows) * width, out);
}

std::string pngByPngPlusPlus(const Image& image) {
  png::image<png::rgba_pixel> reference(image.width, image.height);
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      const Color c = image.row(y)[x];
      reference.set_pixel(x, y, png::rgba_pixel(c.red, c.green, c.blue, c.alpha));
    }
  }
  std::ostringstream bytes;
  reference.write_stream(bytes);
  return bytes.str();
}

Image decodePng(const std::string& bytes) {
  std::istringstream in(bytes);
  png::image<png::rgba_pixel> decoded;
  decoded.read_stream(in);
  Image image(decoded.get_width(), decoded.get_height());
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      const png::rgba_pixel p = decoded.get_pixel(x, y);
      image.row(y)[x] = Color{p.red, p.green, p.blue, p.alpha};
    }
  }
  return image;
}

namespace {

uint32_t bigEndian(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
         uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

}  // namespace

std::vector<int> rowFilters(const std::string& png) {
  const uint32_t width = bigEndian(png, 16), height = bigEndian(png, 20);
  std::string compressed;
  for (size_t at = 8; at + 8 <= png.size(); at += 12 + bigEndian(png, at)) {
    if (png.compare(at + 4, 4, "IDAT") == 0) compressed += png.substr(at + 8, bigEndian(png, at));
  }
  const size_t stride = 1 + size_t(width) * 4;
  std::string raw(stride * height, '\0');
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(reinterpret_cast<Bytef*>(&raw[0]), &size,
                 reinterpret_cast<const Bytef*>(compressed.data()),
                 static_cast<uLong>(compressed.size())) != Z_OK ||
      size != raw.size()) {
    throw std::runtime_error("the image data does not inflate to the image's size");
  }
  std::vector<int> filters;
  for (uint32_t y = 0; y < height; ++y) filters.push_back(uint8_t(raw[y * stride]));
  return filters;
}

}  // namespace wldmap
