// The LM p-value of a large panel whose statistic lies just below its mean.
// The chi-square upper tail at N(N-1)/2 degrees of freedom is the
// incomplete gamma function at shape N(N-1)/4, whose power series runs out
// of its 2000 terms when the limit lies at or a few hundred below the shape
// once the shape reaches the tens of thousands. The module then reports the
// LM p-value as missing, and every other result is computed as usual.
//
// Construction with an exactly known LM: N = 600 cross-sections observed in
// T = 2 periods, residuals (cos a_i, sin a_i) with a_i = i pi / N (no
// regressors and no intercept, so the residuals are the data). Then
// rho_ij = cos(a_i - a_j) and, the angles 2 a_i being equally spaced round
// the circle,
//   LM = sum_{i<j} 2 cos^2(a_i - a_j) = N(N-1)/2 + sum_{i<j} cos 2(a_i - a_j)
//      = N(N-1)/2 - N/2 = 179400,
// against 179700 degrees of freedom: the incomplete gamma limit 89700 lies
// 150 below its shape 89850, inside the band where the series fails.
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include <gtest/gtest.h>

#include "pipeline_reference.h"

namespace qvd::e2e {
namespace {

constexpr std::uint64_t kMissingResultBits = 0xFFFFD10000000000ull;

host::Panel angle_panel(int n, double spread) {
  host::Panel panel{n, 2, 0, {}};
  for (int i = 0; i < n; ++i) {
    const double a = i * spread / n;
    panel.values.push_back(std::cos(a));
    panel.values.push_back(std::sin(a));
  }
  return panel;
}

host::TestOptions no_fit() {
  host::TestOptions options;
  options.intercept = false;
  options.cdp_order = 3;
  return options;
}

TEST(EndToEndLargePanel, LmJustBelowItsMeanHasAMissingPValue) {
  const int n = 600;
  const host::Panel panel = angle_panel(n, std::numbers::pi);
  const host::TestResults r = host::run_dependence_test(module_host(), panel, no_fit());
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_TRUE(r.faults.empty());

  const double df = n * (n - 1) / 2.0;
  EXPECT_NEAR(r.lm, df - n / 2.0, 1e-7 * df);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(r.lm_pvalue), kMissingResultBits);

  // The other results are there: scaled LM = (LM - df)/sqrt(N(N-1)).
  EXPECT_NEAR(r.scaled_lm, -(n / 2.0) / std::sqrt(n * (n - 1.0)), 1e-9);
  EXPECT_GT(r.scaled_lm_pvalue, 0.5);
  EXPECT_LT(r.scaled_lm_pvalue, 1.0);
  const ReferenceResults ref = reference_statistics(
      reference_residuals(panel, no_fit()), n, 2, no_fit().cdp_order);
  EXPECT_NEAR(r.cd, ref.cd, 1e-10 * ref.cd_scale);
  EXPECT_NEAR(r.cdp, ref.cdp, 1e-10 * ref.cdp_scale);
  for (double v : {r.lm, r.scaled_lm, r.cd, r.cdp, r.scaled_lm_pvalue,
                   r.cd_pvalue, r.cdp_pvalue})
    EXPECT_TRUE(std::isfinite(v)) << v;
}

// The same size with the angles spread over a quarter turn only: LM lies
// far above its mean, the upper tail comes from the continued fraction and
// the p-value is there (it underflows to 0).
TEST(EndToEndLargePanel, LmFarAboveItsMeanHasAPValue) {
  const int n = 600;
  const host::TestResults r = host::run_dependence_test(
      module_host(), angle_panel(n, std::numbers::pi / 2), no_fit());
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_GT(r.lm, 1.3 * n * (n - 1) / 2.0);
  EXPECT_FALSE(std::isnan(r.lm_pvalue));
  EXPECT_EQ(r.lm_pvalue, 0.0);
}

}  // namespace
}  // namespace qvd::e2e
