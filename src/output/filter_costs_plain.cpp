// The portable build: no stretch is done fast, the caller's byte loop does all.
#include "output/filter_costs.h"

namespace wldmap {
namespace detail {

size_t addCostsFast(const uint8_t*, const uint8_t*, size_t from, size_t, uint64_t*) {
  return from;
}

}  // namespace detail
}  // namespace wldmap
