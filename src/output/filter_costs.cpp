#include "output/filter_costs.h"

#include <algorithm>
#include <cstdlib>

namespace wldmap {
namespace detail {

namespace {

// What the heuristic charges for a filtered byte: its magnitude read as signed.
inline uint8_t cost(uint8_t v) { return std::min(v, uint8_t(-v)); }

// The PNG Paeth predictor, with libpng's order of preference on ties.
inline uint8_t paeth(uint8_t a, uint8_t b, uint8_t c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// floor((a + b) / 2) without leaving 8 bits.
inline uint8_t average(uint8_t a, uint8_t b) { return uint8_t((a & b) + ((a ^ b) >> 1)); }

// Adds the five filters' costs of byte v, with a to its left, b above it and c
// above a.
inline void addByte(uint8_t v, uint8_t a, uint8_t b, uint8_t c, uint64_t* sums) {
  sums[0] += cost(v);
  sums[1] += cost(uint8_t(v - a));
  sums[2] += cost(uint8_t(v - b));
  sums[3] += cost(uint8_t(v - average(a, b)));
  sums[4] += cost(uint8_t(v - paeth(a, b, c)));
}

// Adds the costs of bytes [from, bytes), each of which has a pixel to its left.
inline void addBytes(const uint8_t* x, const uint8_t* up, size_t from, size_t bytes,
                     uint64_t* sums) {
  for (size_t i = from; i < bytes; ++i) {
    addByte(x[i], x[i - kFilterBpp], up[i], up[i - kFilterBpp], sums);
  }
}

// Adds the costs of the row's first pixel, whose left the filters see as zeros.
inline void addFirstPixel(const uint8_t* x, const uint8_t* up, size_t bytes, uint64_t* sums) {
  for (size_t i = 0; i < std::min(bytes, kFilterBpp); ++i) addByte(x[i], 0, up[i], 0, sums);
}

}  // namespace

void addCostsPlain(const uint8_t* row, const uint8_t* above, size_t bytes, uint64_t* sums) {
  addFirstPixel(row, above, bytes, sums);
  addBytes(row, above, kFilterBpp, bytes, sums);
}

void addCosts(const uint8_t* row, const uint8_t* above, size_t bytes, uint64_t* sums) {
  addFirstPixel(row, above, bytes, sums);
  if (bytes <= kFilterBpp) return;
  addBytes(row, above, addCostsFast(row, above, kFilterBpp, bytes, sums), bytes, sums);
}

}  // namespace detail
}  // namespace wldmap
