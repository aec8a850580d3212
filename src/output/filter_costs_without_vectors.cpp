// A build without generic vectors, or a portable one: no stretch is done fast,
// the reference byte loop does all.
#include "output/filter_costs.h"

namespace wldmap {
namespace detail {

size_t addCostsFast(const uint8_t*, const uint8_t*, size_t from, size_t, uint64_t*) {
  return from;
}

}  // namespace detail
}  // namespace wldmap
