// PNG output of the map image.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

#include "render/image.h"

namespace wldmap {

// A map that could not be saved; what() says why.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encodes the image as an 8-bit RGBA PNG with libpng's default settings, rows
// top to bottom. Throws png::error when libpng or the stream fails.
void writePng(std::ostream& out, const Image& image);

// Writes the PNG to a temporary file beside `path` and renames it over `path`, so
// `path` holds either its old content or the complete new image. Throws
// OutputError and removes the temporary file on failure.
void savePng(const std::string& path, const Image& image);

}  // namespace wldmap
