// Large arrays of trivial records, allocated without being initialised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

namespace wldmap {

// Frees memory from allocateLarge.
struct LargeFree {
  size_t bytes = 0;
  void operator()(void* p) const;
};

template <typename T>
using LargeArray = std::unique_ptr<T[], LargeFree>;

// When the pages of a large block are made present.
enum class Populate { kNow, kByCaller };

// Allocates `bytes` for records that the caller writes in full. Blocks of several
// megabytes are mapped directly and, unless the caller will do it with
// populateLarge, populated up front in one call rather than a page fault at a
// time. Throws std::bad_alloc.
void* allocateLarge(size_t bytes, Populate populate = Populate::kNow);

// Makes a block from allocateLarge present without writing to it: safe while
// other threads fill the block.
void populateLarge(void* p, size_t bytes);

// a * b, or std::bad_alloc when the product does not fit in size_t: a count of
// records that large can never be allocated.
inline size_t checkedProduct(size_t a, size_t b) {
  if (b != 0 && a > SIZE_MAX / b) throw std::bad_alloc();
  return a * b;
}

// An array of `count` uninitialised T (trivial types only).
template <typename T>
LargeArray<T> makeLargeArray(size_t count, Populate populate = Populate::kNow) {
  static_assert(std::is_trivial<T>::value, "the records are left uninitialised");
  const size_t bytes = checkedProduct(count, sizeof(T));
  return LargeArray<T>(static_cast<T*>(allocateLarge(bytes, populate)), LargeFree{bytes});
}

}  // namespace wldmap
