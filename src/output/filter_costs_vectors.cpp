// The filters' costs sixteen bytes at a time in the compiler's generic vectors,
// all in 8-bit lanes, so no per-architecture code is needed: the plain loop
// vectorised poorly and took 5.7 ns a pixel, about as long as the painting
// itself; this takes 2.5 (build-bench/wldmap_stages). Built only where the
// compiler has such vectors (a feature test in CMakeLists.txt).
#include <cstring>

#include "output/filter_costs.h"

namespace wldmap {
namespace detail {

namespace {

using Bytes = uint8_t __attribute__((vector_size(16)));
using Pairs = uint16_t __attribute__((vector_size(16)));  // the same bytes, two by two

// The same sixteen bytes seen as another vector type.
template <typename To, typename From>
inline To bitCast(From from) {
  static_assert(sizeof(To) == sizeof(From), "a vector of sixteen bytes");
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

inline Bytes load(const uint8_t* p) {
  Bytes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A comparison's lanes, all ones or all zeros, as bytes.
template <typename Comparison>
inline Bytes mask(Comparison comparison) {
  return bitCast<Bytes>(comparison);
}

inline Bytes select(Bytes mask, Bytes yes, Bytes no) { return (yes & mask) | (no & ~mask); }

// Each filtered byte's magnitude read as signed: what the heuristic charges.
inline Bytes costs(Bytes v) { return select(mask(v < -v), v, -v); }

// floor((a + b) / 2) without leaving 8 bits.
inline Bytes average(Bytes a, Bytes b) { return (a & b) + ((a ^ b) >> 1); }

inline Bytes distance(Bytes a, Bytes b) {
  const Bytes larger = mask(a > b);
  return select(larger, a, b) - select(larger, b, a);
}

// The Paeth predictor on each byte, with libpng's order of preference on ties.
// pa = |b - c| and pb = |a - c| fit in a byte; so does pc = |(a - c) + (b - c)|,
// which is pa + pb when both differences have the same sign (kept at 255 when
// larger: it then exceeds both anyway) and |pa - pb| when not.
inline Bytes paeth(Bytes a, Bytes b, Bytes c) {
  const Bytes pa = distance(b, c), pb = distance(a, c);
  const Bytes sum = pa + pb;
  const Bytes capped = sum | mask(sum < pa);
  const Bytes pc = select(mask(a >= c) ^ mask(b < c), capped, distance(pa, pb));
  const Bytes takeA = mask(pa <= pb) & mask(pa <= pc);
  return select(takeA, a, select(mask(pb <= pc), b, c));
}

}  // namespace

size_t addCostsFast(const uint8_t* x, const uint8_t* up, size_t from, size_t to,
                    uint64_t* sums) {
  // Each 16-bit lane takes two costs of at most 128 a step: 255 steps fit.
  constexpr int kStepsPerFlush = 255;
  Pairs counts[kFilters] = {};
  int steps = 0;
  auto flush = [&] {
    for (int f = 0; f < kFilters; ++f) {
      for (int lane = 0; lane < 8; ++lane) sums[f] += counts[f][lane];
      counts[f] = Pairs{};
    }
    steps = 0;
  };
  size_t i = from;
  for (; i + 16 <= to; i += 16) {
    const Bytes v = load(x + i), a = load(x + i - kFilterBpp), b = load(up + i),
                c = load(up + i - kFilterBpp);
    const Bytes filtered[kFilters] = {v, v - a, v - b, v - average(a, b), v - paeth(a, b, c)};
    for (int f = 0; f < kFilters; ++f) {
      const Pairs two = bitCast<Pairs>(costs(filtered[f]));
      counts[f] += (two & 0xFF) + (two >> 8);
    }
    if (++steps == kStepsPerFlush) flush();
  }
  flush();
  return i;
}

}  // namespace detail
}  // namespace wldmap
