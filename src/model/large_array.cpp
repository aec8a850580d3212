#include "model/large_array.h"

#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace wldmap {

namespace {

// Below this, malloc is as fast; above it, pages straight from the system, made
// present in one call, save the page faults of touching each one (measured in
// docs/performance.md, "Measured design choices").
constexpr size_t kPageThreshold = size_t(4) << 20;

}  // namespace

void* allocateLarge(size_t bytes, Populate populate) {
  void* p = bytes < kPageThreshold ? std::malloc(bytes == 0 ? 1 : bytes)
                                   : platform::allocatePages(bytes);
  if (!p) throw std::bad_alloc();
  if (populate == Populate::kNow) populateLarge(p, bytes);
  return p;
}

void populateLarge(void* p, size_t bytes) {
  // malloc's blocks are left to it.
  if (bytes >= kPageThreshold) platform::populatePages(p, bytes);
}

void LargeFree::operator()(void* p) const {
  if (bytes < kPageThreshold) {
    std::free(p);
  } else {
    platform::freePages(p, bytes);
  }
}

}  // namespace wldmap
