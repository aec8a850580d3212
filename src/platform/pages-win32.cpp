#include "platform/pages.h"

#include <windows.h>

namespace wldmap {
namespace platform {

void* allocatePages(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void populatePages(void*, size_t) {}

void freePages(void* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

}  // namespace platform
}  // namespace wldmap
