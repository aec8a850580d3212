#include "support/image.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include <png++/png.hpp>
#include <zlib.h>

#include "support/tempdir.h"

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

Pixels rowsOf(const std::vector<Color>& pixels, uint32_t width) {
  Pixels rows;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (i % width == 0) rows.emplace_back();
    const Color p = pixels[i];
    rows.back().push_back(uint32_t(p.red) << 24 | p.green << 16 | p.blue << 8 | p.alpha);
  }
  return rows;
}

Pixels pixels(const std::string& path) {
  const Image image = decodePng(readFile(path));
  return rowsOf(image.pixels, image.width);
}

Pixels thumbnailOf(const Pixels& map, size_t tw, size_t th) {
  const size_t w = map[0].size(), h = map.size();
  Pixels thumb(th, std::vector<uint32_t>(tw));
  for (size_t j = 0; j < th; ++j) {
    for (size_t i = 0; i < tw; ++i) {
      uint64_t sums[3] = {}, n = 0;
      for (size_t y = j * h / th; y < (j + 1) * h / th; ++y) {
        for (size_t x = i * w / tw; x < (i + 1) * w / tw; ++x, ++n) {
          for (int c = 0; c < 3; ++c) sums[c] += map[y][x] >> (24 - 8 * c) & 0xFF;
        }
      }
      for (int c = 0; c < 3; ++c) thumb[j][i] |= uint32_t((sums[c] + n / 2) / n) << (24 - 8 * c);
      thumb[j][i] |= 0xFF;
    }
  }
  return thumb;
}

Pixels thumbnailOf(const Pixels& map, size_t size) {
  const size_t w = map[0].size(), h = map.size();
  const size_t longer = std::max(w, h), shorter = std::min(w, h);
  const size_t side = std::min(size, longer);
  const size_t other = std::max<size_t>(1, (2 * shorter * side + longer) / (2 * longer));
  return w >= h ? thumbnailOf(map, side, other) : thumbnailOf(map, other, side);
}

}  // namespace wldmap
