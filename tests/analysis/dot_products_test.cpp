// The dot-product kernel against its stated order of summation, written
// out in scalars: every bit must agree, over partial panels and registers,
// tile remainders and t = 0, with `b` met in two parts and the panels'
// storage reused from one shape to the next.
#include "analysis/linalg/dot_products.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace qvd::analysis {
namespace {

double stated_order(const double *a, const double *b, std::size_t t) {
  double p = 0.0;
  for (std::size_t s = 0; s < t; ++s) p = std::fma(a[s], b[s], p);
  return p;
}

TEST(DotProducts, FollowTheirStatedOrderBitForBit) {
  if (!dot_products_available()) GTEST_SKIP() << "no AVX-512F on this processor";
  struct Case { std::size_t rows, cols, t; };
  std::mt19937_64 rng(71);
  std::normal_distribution<double> normal;
  DotProductPanels panels;
  for (const Case c : {Case{1, 1, 1}, Case{3, 5, 7}, Case{4, 6, 8}, Case{5, 7, 9},
                       Case{9, 130, 250}, Case{8, 241, 31}, Case{2, 3, 0}, Case{7, 13, 64},
                       Case{32, 6, 5}, Case{33, 7, 3}, Case{71, 12, 17}}) {
    std::vector<double> a(c.rows * c.t), b(c.cols * c.t);
    for (double &v : a) v = normal(rng);
    for (double &v : b) v = normal(rng) * 1e3;
    const std::size_t ld = c.rows + 3;  // the padding rows stay as they were
    std::vector<double> out(ld * c.cols, -7.0);
    panels.pack(a.data(), c.rows, c.t);
    const std::size_t first = c.cols / 2;  // not always a whole number of tiles
    panels.multiply(b.data(), first, out.data(), ld);
    panels.multiply(b.data() + first * c.t, c.cols - first, out.data() + first * ld, ld);
    int differ = 0;
    for (std::size_t col = 0; col < c.cols; ++col)
      for (std::size_t r = 0; r < ld; ++r) {
        const double expected =
            r < c.rows ? stated_order(a.data() + r * c.t, b.data() + col * c.t, c.t) : -7.0;
        differ += std::bit_cast<std::uint64_t>(out[col * ld + r]) !=
                  std::bit_cast<std::uint64_t>(expected);
      }
    EXPECT_EQ(differ, 0) << c.rows << " x " << c.cols << ", t = " << c.t;
  }
}

}  // namespace
}  // namespace qvd::analysis
