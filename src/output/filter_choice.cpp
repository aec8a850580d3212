#include "output/filter_choice.h"

#include <algorithm>
#include <cstdlib>

#include "output/filter_costs.h"

namespace wldmap {

namespace {

using detail::kFilterBpp;
using detail::kFilters;

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
inline void addCosts(uint8_t v, uint8_t a, uint8_t b, uint8_t c, uint64_t* sums) {
  sums[0] += cost(v);
  sums[1] += cost(uint8_t(v - a));
  sums[2] += cost(uint8_t(v - b));
  sums[3] += cost(uint8_t(v - average(a, b)));
  sums[4] += cost(uint8_t(v - paeth(a, b, c)));
}

}  // namespace

int chooseFilter(const Color* row, const Color* above, uint32_t width) {
  if (width == 0) return 0;  // no bytes: every filter costs nothing
  const auto* x = reinterpret_cast<const uint8_t*>(row);
  const auto* up = reinterpret_cast<const uint8_t*>(above);
  uint64_t sums[kFilters] = {};
  // The first pixel has nothing to its left: the filters see zeros there.
  for (size_t i = 0; i < kFilterBpp; ++i) addCosts(x[i], 0, up[i], 0, sums);
  const size_t bytes = size_t(width) * kFilterBpp;
  for (size_t i = detail::addCostsFast(x, up, kFilterBpp, bytes, sums); i < bytes; ++i) {
    addCosts(x[i], x[i - kFilterBpp], up[i], up[i - kFilterBpp], sums);
  }
  constexpr int kNone = 0, kUp = 2;
  int best = kNone;
  for (int filter = 1; filter < kFilters; ++filter) {
    if (width == 1 && filter != kUp) continue;
    if (sums[filter] < sums[best]) best = filter;
  }
  return best;
}

}  // namespace wldmap
