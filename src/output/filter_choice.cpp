#include "output/filter_choice.h"

#include "output/filter_costs.h"

namespace wldmap {

using detail::kFilterBpp;
using detail::kFilters;

int chooseFilter(const Color* row, const Color* above, uint32_t width) {
  if (width == 0) return 0;  // no bytes: every filter costs nothing
  const auto* x = reinterpret_cast<const uint8_t*>(row);
  const auto* up = reinterpret_cast<const uint8_t*>(above);
  uint64_t sums[kFilters] = {};
  detail::addCosts(x, up, size_t(width) * kFilterBpp, sums);
  constexpr int kNone = 0, kUp = 2;
  int best = kNone;
  for (int filter = 1; filter < kFilters; ++filter) {
    if (width == 1 && filter != kUp) continue;
    if (sums[filter] < sums[best]) best = filter;
  }
  return best;
}

}  // namespace wldmap
