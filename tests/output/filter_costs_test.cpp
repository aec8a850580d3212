// The fast filter costs against the byte-by-byte reference: in a build with
// generic vectors these are two separate code paths that must agree exactly.
#include "output/filter_costs.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace wldmap {
namespace {

using Sums = std::array<uint64_t, detail::kFilters>;

void expectSameCosts(const std::vector<uint8_t>& row, const std::vector<uint8_t>& above,
                     const char* what) {
  Sums plain{}, fast{};
  detail::addCostsPlain(row.data(), above.data(), row.size(), plain.data());
  detail::addCosts(row.data(), above.data(), row.size(), fast.data());
  EXPECT_EQ(plain, fast) << what << ", " << row.size() << " bytes";
}

TEST(FilterCostsTest, FastPathGivesTheReferenceCostsForEveryLength) {
  std::mt19937 random(7);
  for (size_t bytes = 0; bytes <= 400; ++bytes) {
    std::vector<uint8_t> row(bytes), above(bytes);
    for (uint8_t& b : row) b = static_cast<uint8_t>(random());
    for (uint8_t& b : above) b = static_cast<uint8_t>(random());
    expectSameCosts(row, above, "random");
    // Near neighbours, where the Paeth predictor's ties and the signs of the
    // differences decide.
    for (size_t i = 0; i < bytes; ++i) above[i] = static_cast<uint8_t>(row[i] + random() % 3 - 1);
    expectSameCosts(row, above, "near");
  }
}

TEST(FilterCostsTest, CountersHoldTheLargestCostsOfALongRow) {
  // Every byte 128 over zeros costs the most each filter can charge, so the
  // vector path's 16-bit counters are at their fullest; the rows are long
  // enough to flush them several times, with and without a tail.
  for (size_t bytes : {size_t(16 * 255 + 4), size_t(16 * 255 * 3 + 4 + 7), size_t(1 << 16)}) {
    const std::vector<uint8_t> high(bytes, 128), zeros(bytes, 0);
    expectSameCosts(high, zeros, "128 over 0");
    std::vector<uint8_t> alternating(bytes);
    for (size_t i = 0; i < bytes; ++i) alternating[i] = (i / 4) % 2 ? 128 : 0;
    expectSameCosts(alternating, high, "alternating pixels over 128");
  }
}

}  // namespace
}  // namespace wldmap
