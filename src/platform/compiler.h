// Speed helpers that only some compilers have, each with a plain fallback. The
// build's feature tests decide which is compiled; WLDMAP_PORTABLE always takes
// the plain one.
#pragma once

namespace wldmap {
namespace platform {

// Asks for the cache line at p to be fetched ahead of its first use.
inline void prefetch(const void* p) {
#if WLDMAP_USE_PREFETCH
  __builtin_prefetch(p);
#else
  static_cast<void>(p);
#endif
}

}  // namespace platform
}  // namespace wldmap
