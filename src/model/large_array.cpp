#include "model/large_array.h"

#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace wldmap {

namespace {

// Below this, malloc is as fast; above it, whole pages straight from the system
// avoid the allocator zeroing or copying anything.
constexpr size_t kPageThreshold = size_t(4) << 20;

}  // namespace

void* allocateLarge(size_t bytes) {
  void* p = bytes < kPageThreshold ? std::malloc(bytes == 0 ? 1 : bytes)
                                   : platform::allocatePages(bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

void LargeFree::operator()(void* p) const {
  if (bytes < kPageThreshold) {
    std::free(p);
  } else {
    platform::freePages(p, bytes);
  }
}

}  // namespace wldmap
