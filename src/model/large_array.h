// Large arrays of trivial records, allocated without being initialised.
#pragma once

#include <cstddef>
#include <memory>

namespace wldmap {

// Frees memory from allocateLarge.
struct LargeFree {
  size_t bytes = 0;
  void operator()(void* p) const;
};

template <typename T>
using LargeArray = std::unique_ptr<T[], LargeFree>;

// Allocates `bytes` for records that the caller writes in full. Blocks of several
// megabytes are mapped directly and populated up front, in one call rather than one
// page fault per 4 KiB. Throws std::bad_alloc.
void* allocateLarge(size_t bytes);

// An array of `count` uninitialised T (trivial types only).
template <typename T>
LargeArray<T> makeLargeArray(size_t count) {
  const size_t bytes = count * sizeof(T);
  return LargeArray<T>(static_cast<T*>(allocateLarge(bytes)), LargeFree{bytes});
}

}  // namespace wldmap
