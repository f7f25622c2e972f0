// Tests of packed storage and of the rank-one accumulation of observation
// rows: the index rule, the refusals (which must leave S bit-identical), and
// the accumulated sums against an independent long-double X'WX.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "matrix/cross_products.h"
#include "matrix/packed_storage.h"
#include "platform/fp_control.h"
#include "numeric/missing_value.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/packed_index.h"

namespace qvd {
namespace {

using testing::bits;
double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

using testing::packed_cells;

TEST(PackedIndex, KnownCells) {
  struct Case {
    int i, j, index;
  };
  const Case cases[] = {{0, 0, 0}, {1, 0, 1}, {0, 1, 1}, {1, 1, 2},
                        {2, 0, 3}, {2, 2, 5}, {3, 3, 9}, {3, 1, 7},
                        {1, 3, 7}, {40, 39, 859}};
  for (const Case &c : cases) {
    EXPECT_EQ(packed_index(c.i, c.j), c.index) << c.i << "," << c.j;
  }
}

// Row after row without gaps: walking the lower triangle in row order
// visits 0, 1, 2, ... and the diagonal sits at i(i+3)/2.
TEST(PackedIndex, EnumeratesTheLowerTriangleInRowOrder) {
  int next = 0;
  for (int i = 0; i < 300; ++i) {
    for (int j = 0; j <= i; ++j) {
      ASSERT_EQ(packed_index(i, j), next);
      ASSERT_EQ(packed_index(j, i), next);
      ++next;
    }
    ASSERT_EQ(packed_index(i, i), i * (i + 3) / 2);
  }
  // The largest order whose index product fits 32-bit signed arithmetic.
  EXPECT_EQ(packed_index(46340, 46339), 46339 + 46340 * 46341 / 2);
}

TEST(AnyMissing, TopSixteenBitsDecide) {
  const double quiet_nan = std::numeric_limits<double>::quiet_NaN();
  const double other_missing = from_bits(0xFFFF123456789ABCull);
  const double almost = from_bits(0xFFFE000000000001ull);  // a NaN, not missing
  const double x[] = {1.0, quiet_nan, -quiet_nan, almost,
                      std::numeric_limits<double>::infinity()};
  EXPECT_EQ(any_missing(x, 0), 0);
  EXPECT_EQ(any_missing(x, 5), 0);
  const double with_missing[] = {1.0, 2.0, kMissingResult};
  EXPECT_EQ(any_missing(with_missing, 3), 1);
  EXPECT_EQ(any_missing(with_missing, 2), 0);
  const double first[] = {other_missing, 2.0};
  EXPECT_EQ(any_missing(first, 2), 1);
}

// A packed matrix of order n filled with distinct values, to check
// refusals bit for bit.
std::vector<double> filled(int n) {
  std::vector<double> S(packed_cells(n));
  for (std::size_t c = 0; c < packed_cells(n); ++c) S[c] = 0.1 * c - 3.7;
  return S;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t c = 0; c < a.size(); ++c) {
    if (bits(a[c]) != bits(b[c])) return false;
  }
  return true;
}

TEST(AccumulateCrossProducts, RefusalsLeaveTheMatrixBitIdentical) {
  const double other_missing = from_bits(0xFFFF000000000000ull);
  struct Case {
    std::vector<double> x;
    double w;
  };
  const Case cases[] = {
      {{1.0, 2.0, 3.0, 4.0, kMissingResult}, 1.0},  // missing last element
      {{kMissingResult, 2.0, 3.0, 4.0, 5.0}, 1.0},
      {{1.0, 2.0, other_missing, 4.0, 5.0}, 1.0},
      {{1.0, 2.0, 3.0, 4.0, 5.0}, kMissingResult},   // missing weight
      {{1.0, 2.0, 3.0, 4.0, 5.0}, other_missing},
      {{1.0, 2.0, 3.0, 4.0, 5.0}, 0.0},
      {{1.0, 2.0, 3.0, 4.0, 5.0}, -0.0},
      {{}, 0.0},
  };
  testing::TrapSetting traps;  // the refusals must not trip on the NaNs
  testing::FaultRecorder recorder;
  for (const Case &c : cases) {
    const int n = static_cast<int>(c.x.size());
    std::vector<double> S = filled(5);
    EXPECT_EQ(accumulate_cross_products(c.x.data(), n, c.w, S.data()), 0);
    EXPECT_TRUE(same_bits(S, filled(5)));
  }
  EXPECT_TRUE(recorder.codes().empty());
}

TEST(AccumulateCrossProducts, EmptyRowWithAWeightIsAccepted) {
  std::vector<double> S = filled(3);
  EXPECT_EQ(accumulate_cross_products(nullptr, 0, 2.5, S.data()), 1);
  EXPECT_TRUE(same_bits(S, filled(3)));
}

// The worked row x = (1, 0, 2): row 1 is skipped entirely because x[1] is
// zero, while the cell (2, 1) still receives 2 * 0.
TEST(AccumulateCrossProducts, ZeroElementSkipsOnlyItsOwnRow) {
  const double x[] = {1.0, 0.0, 2.0};
  std::vector<double> S = {10.0, -0.0, 20.0, 30.0, -0.0, 40.0};
  EXPECT_EQ(accumulate_cross_products(x, 3, 1.0, S.data()), 1);
  EXPECT_EQ(S[0], 11.0);
  EXPECT_EQ(bits(S[1]), bits(-0.0));  // untouched, so still -0
  EXPECT_EQ(S[2], 20.0);
  EXPECT_EQ(S[3], 32.0);
  EXPECT_EQ(bits(S[4]), bits(0.0));   // -0 + 2*0 = +0: the cell was updated
  EXPECT_EQ(S[5], 44.0);
}

// A NaN weight that is not the missing pattern passes every test and turns
// each updated cell into NaN; quiet NaNs raise nothing under the traps.
TEST(AccumulateCrossProducts, NanWeightIsAccepted) {
  const double x[] = {1.0, 0.0, 2.0, 3.0};
  std::vector<double> S = filled(4);
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  EXPECT_EQ(accumulate_cross_products(
                x, 4, std::numeric_limits<double>::quiet_NaN(), S.data()),
            1);
  EXPECT_TRUE(recorder.codes().empty());
  const std::vector<double> before = filled(4);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j <= i; ++j) {
      const double v = S[packed_index(i, j)];
      if (i == 1) {
        EXPECT_EQ(bits(v), bits(before[packed_index(i, j)]));
      } else {
        EXPECT_TRUE(std::isnan(v)) << i << "," << j;
      }
    }
  }
}

// X'WX accumulated row by row against a direct long-double sum of
// w x_i x_j over the rows, on random rows with zeros mixed in.
TEST(AccumulateCrossProducts, MatchesDirectCrossProductSums) {
  std::mt19937_64 rng(2718);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  double worst = 0.0;
  for (int trial = 0; trial < 100; ++trial) {
    const int n = 1 + trial % 25;
    const int rows = 1 + trial % 37;
    std::vector<std::vector<double>> X(rows, std::vector<double>(n));
    std::vector<double> w(rows);
    for (int r = 0; r < rows; ++r) {
      for (double &v : X[r]) v = rng() % 7 == 0 ? 0.0 : u(rng);
      w[r] = rng() % 5 == 0 ? 1.0 : std::fabs(u(rng)) + 0.1;
    }
    std::vector<double> S(packed_cells(n), 0.0);
    for (int r = 0; r < rows; ++r) {
      ASSERT_EQ(accumulate_cross_products(X[r].data(), n, w[r], S.data()), 1);
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j <= i; ++j) {
        long double sum = 0, magnitude = 0;
        for (int r = 0; r < rows; ++r) {
          const long double term =
              static_cast<long double>(w[r]) * X[r][i] * X[r][j];
          sum += term;
          magnitude += std::fabs(term);
        }
        const double error =
            magnitude == 0 ? std::fabs(S[packed_index(i, j)])
                           : static_cast<double>(
                                 std::fabs(S[packed_index(i, j)] - sum) /
                                 magnitude);
        worst = std::fmax(worst, error);
      }
    }
  }
  // Each cell is a sum of `rows` rounded terms: a few units of 2^-53 per term.
  EXPECT_LT(worst, 40 * std::ldexp(1.0, -53));
  std::printf("worst |S - X'WX| / sum|terms| = %.3g\n", worst);
}

// The rows may come in any order, and a row counted twice equals the same
// row counted once with twice the weight, to rounding.
TEST(AccumulateCrossProducts, OrderAndWeightInvariance) {
  std::mt19937_64 rng(161803);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int trial = 0; trial < 50; ++trial) {
    const int n = 1 + trial % 19;
    const int rows = 2 + trial % 11;
    std::vector<std::vector<double>> X(rows, std::vector<double>(n));
    for (auto &row : X) {
      for (double &v : row) v = u(rng);
    }
    std::vector<double> forward(packed_cells(n), 0.0);
    std::vector<double> shuffled = forward, twice = forward, doubled = forward;
    std::vector<int> order(rows);
    for (int r = 0; r < rows; ++r) order[r] = r;
    std::shuffle(order.begin(), order.end(), rng);
    for (int r = 0; r < rows; ++r) {
      accumulate_cross_products(X[r].data(), n, 1.0, forward.data());
      accumulate_cross_products(X[order[r]].data(), n, 1.0, shuffled.data());
      accumulate_cross_products(X[r].data(), n, 1.0, twice.data());
      accumulate_cross_products(X[r].data(), n, 1.0, twice.data());
      accumulate_cross_products(X[r].data(), n, 2.0, doubled.data());
    }
    for (std::size_t c = 0; c < packed_cells(n); ++c) {
      const double tolerance = 1e-14 * rows * 4.0;
      EXPECT_NEAR(forward[c], shuffled[c], tolerance);
      EXPECT_NEAR(twice[c], doubled[c], 2 * tolerance);
    }
  }
}

// Lengths 1 and 2 round the product and the sum separately. With
// a = x = 1 + 2^-30 the exact product 1 + 2^-29 + 2^-60 rounds to
// 1 + 2^-29, so y = -(1 + 2^-29) ends at exactly 0 (a fused update would
// leave 2^-60).
TEST(ScaledAdd, ShortLengthsRoundTwice) {
  const double a = 1.0 + std::ldexp(1.0, -30);
  const double x[2] = {a, a};
  double y[2] = {-(1.0 + std::ldexp(1.0, -29)), -(1.0 + std::ldexp(1.0, -29))};
  scaled_add(y, x, 2, a);
  EXPECT_EQ(bits(y[0]), bits(0.0));
  EXPECT_EQ(bits(y[1]), bits(0.0));
  double z[1] = {-(1.0 + std::ldexp(1.0, -29))};
  scaled_add(z, x, 1, a);
  EXPECT_EQ(bits(z[0]), bits(0.0));
}

// Nothing happens for n <= 0 or a zero factor, even where a * x would be a
// NaN.
TEST(ScaledAdd, ZeroFactorOrLengthIsANoOp) {
  const double inf = std::numeric_limits<double>::infinity();
  const double x[4] = {inf, -inf, inf, 1.0};
  for (const double a : {0.0, -0.0}) {
    for (int n = 0; n <= 4; ++n) {
      double y[4] = {1.0, 2.0, 3.0, 4.0};
      scaled_add(y, x, n, a);
      EXPECT_EQ(y[0], 1.0);
      EXPECT_EQ(y[3], 4.0);
    }
  }
  double y[4] = {1.0, 2.0, 3.0, 4.0};
  scaled_add(y, x, -3, 2.0);
  EXPECT_EQ(y[0], 1.0);
}

// Library lengths agree with a two-rounding update to within one rounding
// of the product, whether or not the library fuses; the trap setting is
// back afterwards.
TEST(ScaledAdd, LibraryLengthsMatchTheUpdate) {
  std::mt19937_64 rng(1414);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  for (int n = 3; n <= 70; ++n) {
    std::vector<double> x(n), y(n), expected(n);
    const double a = u(rng);
    for (int j = 0; j < n; ++j) {
      x[j] = u(rng);
      y[j] = u(rng);
      expected[j] = a * x[j] + y[j];
    }
    scaled_add(y.data(), x.data(), n, a);
    for (int j = 0; j < n; ++j) {
      EXPECT_NEAR(y[j], expected[j],
                  std::ldexp(std::fabs(a * x[j]) + std::fabs(expected[j]), -52));
    }
    EXPECT_EQ(read_mxcsr() & kMxcsrMaskField, kMxcsrTrapMasks);
  }
  EXPECT_TRUE(recorder.codes().empty());
}

}  // namespace
}  // namespace qvd
