// Large blocks of memory straight from the system, a page at a time.
#pragma once

#include <cstddef>

namespace wldmap {
namespace platform {

// Reserves and commits `bytes` of zeroed pages; nullptr when that fails. The
// pages may not be present yet: the first touch of each can still fault.
void* allocatePages(size_t bytes);
// Makes pages from allocatePages present without writing to them, so it may run
// while other threads write there. Does nothing where faults are all there is.
void populatePages(void* pages, size_t bytes);
// Returns pages from allocatePages.
void freePages(void* pages, size_t bytes);

}  // namespace platform
}  // namespace wldmap
