// libpng's default choice of filter for a row, made ahead of the encoder.
#pragma once

#include <cstdint>

#include "model/color.h"

namespace wldmap {

// The filter libpng's default heuristic picks for `row` below `above` in an image
// `width` pixels wide: the type whose filtered bytes, read as signed, have the
// smallest sum of magnitudes, the lower type on a tie; libpng leaves out the
// filters that look left on an image one pixel wide. Choosing it on another
// thread spares the encoder trying all five; the file stays byte for byte what
// libpng writes on its own. Not for the first row, which libpng must choose.
int chooseFilter(const Color* row, const Color* above, uint32_t width);

}  // namespace wldmap
