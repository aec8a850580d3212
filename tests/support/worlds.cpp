#include "support/worlds.h"

#include <vector>

namespace wldmap {

WorldHeader header(const std::string& name, int32_t width, int32_t height) {
  return makeHeader(name, width, height, 0.0, 1.0);
}

std::string smallWorld(const std::string& name) {
  return encodeWorld(header(name, 2, 3), {
                                             makeTile(false, 0, 0, 0, false),
                                             makeTile(true, 0, 0, 0, false),
                                             makeTile(false, 0, 1, 9, true),
                                             makeTile(false, 0, 0, 1, false),
                                             makeTile(true, 51, 2, 0, false),
                                             makeTile(true, 99, 0, 0, false),
                                         });
}

// Type 0 is (151,107,75), 51 is (192,202,203) at alpha 128, 99 is absent.
const Pixels kSmallWorldPixels = {
    {0x4482FEFF, 0x2241FEFF},  // sky; water on sky
    {0x976B4BFF, 0x8C837CFF},  // soil; translucent tile over wall 2
    {0x961717FF, 0x000000FF},  // lava over wall 1; a type with no colour
};

std::string noisyWorld(const std::string& name, int32_t width, int32_t height) {
  std::vector<Tile> cells;
  uint32_t seed = 1;
  for (int64_t i = 0; i < int64_t(width) * height; ++i) {
    seed = seed * 1664525u + 1013904223u;
    cells.push_back(makeTile(true, int(seed >> 24) % 86, 0, 0, false));
  }
  return encodeWorld(header(name, width, height), cells);
}

std::string mixedWorld(const std::string& name, int32_t width, int32_t height) {
  std::vector<Tile> cells;
  uint32_t seed = 16;
  for (int64_t i = 0; i < int64_t(width) * height; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t r = seed >> 8;
    cells.push_back(makeTile(r & 1, int(r >> 1 & 0x7F), int(r >> 8 & 0xFF) % 17,
                             int(r >> 16 & 3) * 50, r & 2));
  }
  return encodeWorld(makeHeader(name, width, height, height / 4.0, height / 2.0), cells);
}

}  // namespace wldmap
