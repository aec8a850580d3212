// PNG output of the map: painted band by band while libpng encodes it, and
// saved so that a map is either whole or not there.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "model/paint_band.h"

namespace wldmap {

// A PNG that could not be written; what() says why, in libpng's words or the
// file's own ("cannot write it: File too large").
class PngError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Receives each warning, libpng's and the save's: platform::WarningHandler's
// twin, so that this header needs none of the platform's.
using PngWarningHandler = std::function<void(const std::string& warning)>;

// Encodes the width x height map that `paintBand` paints as an 8-bit RGBA PNG,
// byte for byte what libpng writes with its default settings, at any size PNG
// allows. A second thread of the encoder's own calls paintBand a few bands
// ahead of the encoder, so the map is never held whole. libpng's warnings go to
// `onWarning`, never to the console. Throws PngError, or what paintBand
// threw.
void writePng(std::ostream& out, uint32_t width, uint32_t height, const PaintBand& paintBand,
              const PngWarningHandler& onWarning);

// Once platform::checkReplaceable has let `path` be replaced: writes the PNG as
// writePng does to a new temporary file beside `path`, through
// the handle that created it, and renames it over `path` once it is complete and
// synced, so `path` holds either its old content or the whole new map. Throws
// PngError, platform::SystemError, or what paintBand threw, and removes the
// temporary file then.
void savePng(const std::string& path, uint32_t width, uint32_t height,
             const PaintBand& paintBand, const PngWarningHandler& onWarning);

// Once platform::checkReplaceable has let `path` be replaced: saves what `write`
// writes to the stream it is given as savePng saves a map (a temporary file,
// synced and renamed over `path`), its warnings naming it `product` ("page").
// Throws platform::SystemError, or what `write` threw, and removes the
// temporary file then.
void saveFile(const std::string& path, const std::string& product,
              const std::function<void(std::ostream&)>& write, const PngWarningHandler& onWarning);

// Writes the PNG as writePng does to the output `path` a thumbnail service
// named (see platform::OutputFile): into that very file where it is missing or
// empty, else as savePng replaces a map; either way `path` holds its old
// content or the whole PNG, whatever fails. Throws PngError,
// platform::SystemError, or what paintBand threw. A file this call made and
// could not remove again is named to `onWarning`.
void writePngOutput(const std::string& path, uint32_t width, uint32_t height,
                    const PaintBand& paintBand, const PngWarningHandler& onWarning);

}  // namespace wldmap
