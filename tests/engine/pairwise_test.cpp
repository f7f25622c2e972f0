// The pairwise statistics on residual matrices small enough to work by
// hand: the values of a worked example, the working sums left on the
// diagonal, missing and NaN residuals, and the local order at and beyond
// the number of cross-sections. Called directly under the host's trap
// setting, so any invalid operation or division by zero would end the test.
#include <bit>
#include <csignal>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "engine/pairwise.h"
#include "numeric/missing_value.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/packed_index.h"

namespace qvd {
namespace {

using testing::bits;
using testing::packed;

const double M = std::bit_cast<double>(0xFFFF123456789ABCull);  // missing

struct Outcome {
  DependenceRequest request{};
  std::vector<double> correlations;
  std::vector<std::uint32_t> faults;
};

// rows: N rows of T residuals.
Outcome statistics_of(const std::vector<std::vector<double>> &rows, int order,
                      double fill = 0.0) {
  Outcome out;
  const int n = static_cast<int>(rows.size());
  const int t = n == 0 ? 0 : static_cast<int>(rows[0].size());
  // The statistics read the residuals period-major: T rows of N.
  std::vector<double> residuals(static_cast<std::size_t>(n) * t);
  for (int k = 0; k < n; ++k)
    for (int p = 0; p < t; ++p) residuals[static_cast<std::size_t>(p) * n + k] = rows[k][p];
  out.correlations.assign(testing::packed_cells(n) + 1, fill);
  out.request.n_sections = n;
  out.request.n_periods = t;
  out.request.cdp_order = order;
  out.request.correlations = out.correlations.data();
  testing::FaultRecorder recorder;
  {
    testing::TrapSetting traps;
    pairwise_statistics(out.request, residuals.data());
  }
  out.faults = recorder.codes();
  return out;
}

// e1 = (1, 2, 3), e2 = (1, 0, -1): S11 = 14, S22 = 2, S12 = -2, so
// rho = -2/sqrt(28) = -1/sqrt(7), LM = 3/7, scaled LM = (3/7 - 1)/sqrt(2),
// CD = sqrt(3) rho = -sqrt(3/7), and CD(1) = CD.
TEST(PairwiseStatistics, WorkedExample) {
  const Outcome o = statistics_of({{1, 2, 3}, {1, 0, -1}}, 1);
  const DependenceRequest &r = o.request;
  const double u = 0x1p-52;
  EXPECT_TRUE(o.faults.empty());
  EXPECT_NEAR(o.correlations[packed(0, 1)], -1 / std::sqrt(7.0), 2 * u);
  EXPECT_EQ(o.correlations[packed(0, 0)], 14.0);
  EXPECT_EQ(o.correlations[packed(1, 1)], 2.0);
  EXPECT_NEAR(r.lm, 3.0 / 7.0, 4 * u);
  EXPECT_NEAR(r.scaled_lm, (3.0 / 7.0 - 1.0) / std::sqrt(2.0), 4 * u);
  EXPECT_NEAR(r.cd, -std::sqrt(3.0 / 7.0), 4 * u);
  EXPECT_NEAR(r.cdp, r.cd, 4 * u);
  // Upper tail of chi2(1) at 3/7 is erfc(sqrt(3/14)); the normal p-values
  // follow from erfc as well.
  EXPECT_NEAR(r.lm_pvalue, std::erfc(std::sqrt(3.0 / 14.0)), 1e-14);
  EXPECT_NEAR(r.scaled_lm_pvalue, 0.5 * std::erfc(r.scaled_lm / std::sqrt(2.0)), 1e-15);
  EXPECT_NEAR(r.cd_pvalue, std::erfc(std::fabs(r.cd) / std::sqrt(2.0)), 1e-15);
  EXPECT_NEAR(r.cdp_pvalue, r.cd_pvalue, 1e-15);
}

// The diagonal keeps the sums of squares of the last pair that contains
// each cross-section, over that pair's common periods.
TEST(PairwiseStatistics, DiagonalHoldsTheLastPairsWorkingSums) {
  const Outcome o = statistics_of({{1, 2, 3, 4}, {1, M, 1, 1}, {M, 1, 1, 2}}, 1);
  EXPECT_EQ(o.correlations[packed(0, 0)], 4.0 + 9.0 + 16.0);  // pair (1, 3)
  EXPECT_EQ(o.correlations[packed(1, 1)], 1.0 + 1.0);         // pair (2, 3)
  EXPECT_EQ(o.correlations[packed(2, 2)], 1.0 + 4.0);         // pair (2, 3)
  // Pair (2, 3) has common periods 3 and 4 only: rho = 3/sqrt(10).
  EXPECT_NEAR(o.correlations[packed(1, 2)], 3.0 / std::sqrt(10.0), 1e-15);
  EXPECT_EQ(o.correlations.back(), 0.0);  // nothing written past the block
}

// A single cross-section: no pair, and its diagonal element is not touched.
TEST(PairwiseStatistics, SingleCrossSection) {
  const Outcome o = statistics_of({{1, 2, 3}}, 1, 7.0);
  EXPECT_EQ(o.correlations[0], 7.0);
  EXPECT_EQ(o.request.lm, 0.0);
  EXPECT_EQ(o.request.cd, 0.0);
  EXPECT_EQ(bits(o.request.lm_pvalue), bits(kMissingResult));
  EXPECT_EQ(o.request.scaled_lm_pvalue, 0.5);
  EXPECT_EQ(o.request.cd_pvalue, 1.0);
  EXPECT_EQ(o.request.cdp_pvalue, 1.0);
}

// A residual that is NaN without the missing mark is not data the
// statistics can use: deciding whether its pairs are usable traps, so the
// host sees a fault rather than statistics quietly computed without them.
// (On Windows the same trap is a structured exception; the Windows suite
// checks it through the host.)
#if !defined(_WIN32)
TEST(PairwiseStatisticsDeathTest, NanResidualTrapsUnderTheHostSetting) {
  const double nan = std::bit_cast<double>(0x7FF8000000000000ull);
  const std::vector<std::vector<double>> rows = {
      {1, 2, 3, 4}, {2, 1, 4, 3}, {1, nan, 2, 1}};
  EXPECT_EXIT(statistics_of(rows, 2), ::testing::KilledBySignal(SIGFPE), "");
}
#endif

// Every order from N - 1 on selects all pairs with the normalisation of
// N - 1, to the bit, and raises nothing; orders below 1 select no pair.
TEST(PairwiseStatistics, LocalOrderIsCappedAtTheLargestDistance) {
  const std::vector<std::vector<double>> rows = {
      {0.3, -1.2, 0.8, 2.0, -0.1}, {1.1, 0.4, -0.7, 0.9, 0.2},
      {-0.5, 0.6, 1.3, -1.8, 0.7}, {0.2, 0.1, -0.4, 1.5, -1.0}};
  const Outcome largest = statistics_of(rows, 3);
  EXPECT_NEAR(largest.request.cdp, largest.request.cd, 1e-15);
  for (int order : {4, 5, 6, 7, 8, 1000, INT_MAX}) {
    SCOPED_TRACE(order);
    const Outcome o = statistics_of(rows, order);
    EXPECT_TRUE(o.faults.empty());
    EXPECT_EQ(bits(o.request.cdp), bits(largest.request.cdp));
    EXPECT_EQ(bits(o.request.cdp_pvalue), bits(largest.request.cdp_pvalue));
  }
  // Order 2 uses the five pairs at distance 1 or 2: D = (2*4 - 2 - 1)*2 = 10.
  const Outcome two = statistics_of(rows, 2);
  double sum = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4 && j - i <= 2; ++j)
      sum += std::sqrt(10.0) * two.correlations[packed(i, j)];
  EXPECT_NEAR(two.request.cdp, sum / std::sqrt(10.0), 1e-14);
  for (int order : {0, -1, INT_MIN}) {
    const Outcome o = statistics_of(rows, order);
    EXPECT_EQ(bits(o.request.cdp), 0u);
    EXPECT_EQ(o.request.cdp_pvalue, 1.0);
  }
}

}  // namespace
}  // namespace qvd
