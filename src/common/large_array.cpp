#include "common/large_array.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace wldmap {

namespace {

constexpr size_t kMapThreshold = size_t(4) << 20;

}  // namespace

void* allocateLarge(size_t bytes) {
  if (bytes < kMapThreshold) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (!p) throw std::bad_alloc();
    return p;
  }
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void LargeFree::operator()(void* p) const {
  if (bytes < kMapThreshold) {
    std::free(p);
  } else {
    munmap(p, bytes);
  }
}

}  // namespace wldmap
