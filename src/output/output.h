// PNG output of the map image.
#pragma once

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "model/image.h"

namespace wldmap {

// A map that could not be saved; what() says why.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Receives each of libpng's warnings.
using PngWarningHandler = std::function<void(const std::string& warning)>;

// A row for the encoder: its pixels and, when it was chosen ahead, its filter.
struct EncoderRow {
  static constexpr int kLibpngChooses = -1;
  const Color* pixels;
  int filter = kLibpngChooses;  // a PNG filter type, 0 (none) to 4 (Paeth)
};

// Hands the encoder the rows of a width x height image, top to bottom, each once;
// the row's pixels must stay readable until the next call.
using RowSource = std::function<EncoderRow(uint32_t y)>;

// The filter libpng's default heuristic picks for `row` below `above` in an image
// `width` pixels wide: the type whose filtered bytes, read as signed, have the
// smallest sum of magnitudes, the lower type on a tie. Choosing it on another
// thread spares the encoder trying all five; the file stays byte for byte what
// libpng writes on its own. Not for the first row, which libpng must choose.
int chooseFilter(const Color* row, const Color* above, uint32_t width);

// Encodes the image as an 8-bit RGBA PNG with libpng's default settings, rows
// top to bottom, at any size PNG allows. libpng's warnings go to `onWarning`,
// never to the console. Throws png::error when libpng or the stream fails.
void writePng(std::ostream& out, uint32_t width, uint32_t height, const RowSource& rows,
              const PngWarningHandler& onWarning);
void writePng(std::ostream& out, const Image& image, const PngWarningHandler& onWarning);

// Writes the PNG to a new temporary file beside `path`, through the handle that
// created it, and renames it over `path` once it is complete and synced, so `path`
// holds either its old content or the whole new image. Throws OutputError and
// removes the temporary file on failure.
void savePng(const std::string& path, uint32_t width, uint32_t height, const RowSource& rows,
             const PngWarningHandler& onWarning);
void savePng(const std::string& path, const Image& image, const PngWarningHandler& onWarning);

}  // namespace wldmap
