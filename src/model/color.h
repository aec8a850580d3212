// One pixel of the map, shared by the colour table, the renderer and the output.
#pragma once

#include <cstdint>

namespace wldmap {

// One RGBA pixel; alpha 255 is opaque, 0 invisible.
struct Color {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t alpha;
  friend bool operator==(Color a, Color b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
  }
  friend bool operator!=(Color a, Color b) { return !(a == b); }
};

}  // namespace wldmap
