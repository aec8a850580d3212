// How an image is handed from the stage that paints it to the one that uses it:
// band by band, never whole.
#pragma once

#include <cstdint>
#include <functional>

#include "model/color.h"

namespace wldmap {

// Paints rows top..top+rows-1 of an image into `out`, one row of the image's
// width after another. The caller chooses the bands; the painter paints the
// rows it is given.
using PaintBand = std::function<void(uint32_t top, uint32_t rows, Color* out)>;

}  // namespace wldmap
