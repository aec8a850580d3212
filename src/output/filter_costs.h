// The five PNG filters' costs over a row: the byte-by-byte reference, and the
// same as fast as the compiler allows (filter_costs_vectors.cpp where it has
// generic vectors, filter_costs_without_vectors.cpp, which leaves every byte to
// the reference loop, where it has not or the build is portable).
#pragma once

#include <cstddef>
#include <cstdint>

namespace wldmap {
namespace detail {

constexpr size_t kFilterBpp = 4;  // bytes a pixel: red, green, blue, alpha
constexpr int kFilters = 5;       // none, sub, up, average, Paeth

// Adds to `sums` the five filters' costs of the `bytes` bytes of `row` below
// `above` (a whole row: its first pixel has nothing to its left), byte by byte.
void addCostsPlain(const uint8_t* row, const uint8_t* above, size_t bytes, uint64_t* sums);

// The same sums as addCostsPlain, through addCostsFast as far as it goes.
void addCosts(const uint8_t* row, const uint8_t* above, size_t bytes, uint64_t* sums);

// Adds the five filters' costs of bytes [from, to) of `row`, below `above`, to
// `sums`, where the byte kFilterBpp to the left is part of the row (from >=
// kFilterBpp), as far as it goes, and returns where it stopped: the bytes from
// there to `to` are left to the caller.
size_t addCostsFast(const uint8_t* row, const uint8_t* above, size_t from, size_t to,
                    uint64_t* sums);

}  // namespace detail
}  // namespace wldmap
