// Properties of the complete test that hold whatever the data: invariance
// under reversing the panel, the local statistic at and beyond the largest
// order, exact correlations of proportional residuals, pairs that add
// nothing, and the documented results of panels without any pair.
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline_reference.h"
#include "support/double_bits.h"

namespace qvd::e2e {
namespace {

constexpr std::uint64_t kMissingResultBits = 0xFFFFD10000000000ull;

using testing::bits;

host::TestResults run(const host::Panel &panel, const host::TestOptions &options) {
  host::TestResults r = host::run_dependence_test(module_host(), panel, options);
  EXPECT_TRUE(r.ok()) << r.error();
  EXPECT_TRUE(r.faults.empty());
  return r;
}

void expect_close(double a, double b, double scale, double tolerance,
                  const char *what) {
  EXPECT_LE(std::fabs(a - b), tolerance * std::max(std::fabs(b), scale))
      << what << ": " << a << " vs " << b;
}

// A panel in which every residual is the dependent value itself: no
// regressors, no intercept. Rows are cross-sections.
host::Panel raw_residual_panel(const std::vector<std::vector<double>> &rows) {
  host::Panel panel{static_cast<int>(rows.size()),
                    rows.empty() ? 0 : static_cast<int>(rows[0].size()), 0, {}};
  for (const auto &row : rows) panel.values.insert(panel.values.end(), row.begin(), row.end());
  return panel;
}

host::TestOptions raw_options(int order = 1) {
  host::TestOptions options;
  options.intercept = false;
  options.cdp_order = order;
  return options;
}

struct Shape {
  int n, t, k;
  bool intercept;
  double loading, missing;
};

const Shape kShapes[] = {
    {2, 10, 1, true, 0.0, 0.0},  {7, 30, 2, true, 0.5, 0.05},
    {12, 15, 0, true, 1.0, 0.1}, {25, 40, 3, false, 0.3, 0.0},
    {40, 8, 1, true, 0.0, 0.15}, {60, 50, 2, true, 2.0, 0.02},
};

host::Panel panel_of(const Shape &s, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  return random_panel(rng, {.sections = s.n, .periods = s.t, .regressors = s.k,
                            .intercept = s.intercept, .factor_loading = s.loading,
                            .scattered_missing = s.missing,
                            .blocks_missing = s.missing > 0,
                            .min_complete = s.k + 2});
}

TEST(EndToEndProperties, ReversingTheCrossSectionsChangesOnlyRounding) {
  std::uint64_t seed = 1;
  for (const Shape &s : kShapes) {
    for (int order : {1, 2, s.n / 2}) {
      SCOPED_TRACE(::testing::Message() << "N=" << s.n << " p=" << order);
      const host::Panel panel = panel_of(s, seed++);
      host::TestOptions options;
      options.intercept = s.intercept;
      options.cdp_order = order;
      const auto forward = run(panel, options);
      const auto backward = run(reversed(panel), options);
      const auto scale = reference_test(panel, options);
      expect_close(backward.lm, forward.lm, scale.lm_scale, 1e-13, "LM");
      expect_close(backward.scaled_lm, forward.scaled_lm, scale.scaled_lm_scale,
                   1e-13, "scaled LM");
      expect_close(backward.cd, forward.cd, scale.cd_scale, 1e-13, "CD");
      // Distances between cross-sections survive the reversal, so the local
      // statistic does too.
      expect_close(backward.cdp, forward.cdp, scale.cdp_scale, 1e-13, "CD(p)");
    }
  }
}

TEST(EndToEndProperties, LargestOrderGivesCd) {
  std::uint64_t seed = 100;
  for (const Shape &s : kShapes) {
    SCOPED_TRACE(::testing::Message() << "N=" << s.n);
    const host::Panel panel = panel_of(s, seed++);
    host::TestOptions options;
    options.intercept = s.intercept;
    options.cdp_order = s.n - 1;
    const auto r = run(panel, options);
    const auto scale = reference_test(panel, options);
    expect_close(r.cdp, r.cd, scale.cd_scale, 1e-13, "CD(N-1) against CD");
    EXPECT_NEAR(r.cdp_pvalue, r.cd_pvalue, 1e-12);
  }
}

// Every pair is already in CD(N - 1): larger orders, up to the largest
// 32-bit order, give exactly the same local statistic, with no fault.
TEST(EndToEndProperties, OrdersBeyondTheLargestGiveTheLargest) {
  std::uint64_t seed = 200;
  for (const Shape &s : kShapes) {
    const host::Panel panel = panel_of(s, seed++);
    host::TestOptions options;
    options.intercept = s.intercept;
    options.cdp_order = s.n - 1;
    const auto largest = run(panel, options);
    for (int order : {s.n, s.n + 1, 2 * s.n - 2, 2 * s.n - 1, 2 * s.n, 3 * s.n,
                      1 << 20, INT_MAX - 1, INT_MAX}) {
      SCOPED_TRACE(::testing::Message() << "N=" << s.n << " p=" << order);
      options.cdp_order = order;
      const auto r = run(panel, options);
      EXPECT_EQ(bits(r.cdp), bits(largest.cdp));
      EXPECT_EQ(bits(r.cdp_pvalue), bits(largest.cdp_pvalue));
      EXPECT_EQ(bits(r.cd), bits(largest.cd));
      EXPECT_EQ(bits(r.lm), bits(largest.lm));
    }
  }
}

TEST(EndToEndProperties, OrdersBelowOneSelectNoPair) {
  const host::Panel panel = panel_of(kShapes[1], 300);
  host::TestOptions options;
  for (int order : {0, -1, -7, INT_MIN}) {
    SCOPED_TRACE(order);
    options.cdp_order = order;
    const auto r = run(panel, options);
    EXPECT_EQ(bits(r.cdp), 0u);
    EXPECT_EQ(r.cdp_pvalue, 1.0);
    EXPECT_NE(r.cd, 0.0);
  }
}

// Residuals that are exact multiples of each other: the correlation is 1
// (or -1 for a negative factor) up to the two roundings of the divisions,
// and each such pair adds T to LM.
TEST(EndToEndProperties, ProportionalResidualsAreFullyCorrelated) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  const int t = 23;
  std::vector<double> base(t);
  for (double &v : base) v = normal(rng);
  std::vector<std::vector<double>> rows;
  for (double factor : {1.0, 2.0, 3.0, 0.001, -0.5}) {
    rows.emplace_back(base);
    for (double &v : rows.back()) v *= factor;
  }
  const auto r = run(raw_residual_panel(rows), raw_options());
  const double ulp = 0x1p-52;
  for (int i = 0; i < 5; ++i) {
    for (int j = i + 1; j < 5; ++j) {
      const double expected = (j == 4) ? -1.0 : 1.0;
      EXPECT_NEAR(r.correlations[packed(i, j)], expected, 4 * ulp) << i << "," << j;
    }
  }
  EXPECT_NEAR(r.lm, 10.0 * t, 10.0 * t * 16 * ulp);  // ten pairs, rho^2 = 1

  // After a regression the residuals are proportional up to rounding only.
  host::Panel fitted{2, t, 1, {}};
  for (int section = 0; section < 2; ++section)
    for (int p = 0; p < t; ++p) {
      const double x = p * 0.5 - 3.0;
      fitted.values.push_back(x);
      fitted.values.push_back((section ? 3.0 : 1.0) * (1.0 + 2.0 * x + base[p]));
    }
  const auto f = run(fitted, host::TestOptions{});
  EXPECT_NEAR(f.correlations[packed(0, 1)], 1.0, 1e-13);
  EXPECT_NEAR(f.lm, t, 1e-11);
}

// Cross-sections observed at alternating periods have no common period; a
// cross-section of zero residuals, or of residuals whose squares add up to
// no more than 1e-12, makes every pair containing it unusable. Such pairs
// add nothing to any statistic and leave their raw cross product in the
// correlations block.
TEST(EndToEndProperties, UnusablePairsAddNothing) {
  std::mt19937_64 rng(9);
  std::normal_distribution<double> normal;
  const int t = 12;
  std::vector<std::vector<double>> rows(5, std::vector<double>(t));
  for (int p = 0; p < t; ++p) {
    rows[0][p] = normal(rng);
    rows[1][p] = p % 2 == 0 ? missing_marker(p) : normal(rng);
    rows[2][p] = p % 2 == 1 ? missing_marker(~0ull - p) : normal(rng);
    rows[3][p] = 0.0;
    rows[4][p] = 2.5e-7 * normal(rng);  // sum of squares about 7.5e-13
  }
  double tiny_squares = 0;
  for (double v : rows[4]) tiny_squares += v * v;
  ASSERT_LE(tiny_squares, 1e-12);
  ASSERT_GT(tiny_squares, 1e-13);

  const auto all = run(raw_residual_panel(rows), raw_options(4));
  const auto usable_only = run(
      raw_residual_panel({rows[0], rows[1], rows[2]}), raw_options(4));

  // The unusable sections come last, so the usable pairs are added in the
  // same order: LM is the same to the bit; the normalised sums differ only
  // by their normalisation.
  EXPECT_EQ(bits(all.lm), bits(usable_only.lm));
  EXPECT_NEAR(all.scaled_lm * std::sqrt(20.0),
              usable_only.scaled_lm * std::sqrt(6.0), 1e-12);
  EXPECT_NEAR(all.cd * std::sqrt(20.0), usable_only.cd * std::sqrt(6.0), 1e-12);
  EXPECT_NEAR(all.cdp * std::sqrt(20.0), usable_only.cdp * std::sqrt(6.0), 1e-12);

  double raw = 0;
  for (int p = 0; p < t; ++p) raw += rows[0][p] * rows[4][p];
  ASSERT_NE(raw, 0.0);
  EXPECT_EQ(bits(all.correlations[packed(0, 4)]), bits(raw));
  EXPECT_EQ(bits(all.correlations[packed(1, 2)]), 0u);  // no common period
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bits(all.correlations[packed(i, 3)]), 0u);
  // Diagonal working sums: cross-sections 3 and 4 meet last in pair (3, 4).
  EXPECT_EQ(bits(all.correlations[packed(3, 3)]), 0u);
  EXPECT_EQ(bits(all.correlations[packed(4, 4)]), bits(tiny_squares));

  const auto ref = reference_test(raw_residual_panel(rows), raw_options(4));
  EXPECT_NEAR(all.lm, ref.lm, 1e-12 * ref.lm_scale);
  EXPECT_NEAR(all.cd, ref.cd, 1e-12 * ref.cd_scale);
}

// With no pair at all the sums stay 0; the LM p-value is missing because
// there are no degrees of freedom.
TEST(EndToEndProperties, PanelsWithoutPairs) {
  for (int n : {0, 1}) {
    for (int order : {-1, 0, 1, INT_MAX}) {
      SCOPED_TRACE(::testing::Message() << "N=" << n << " p=" << order);
      std::mt19937_64 rng(n);
      host::Panel panel = random_panel(rng, {.sections = n, .periods = 6, .regressors = 1});
      host::TestOptions options;
      options.cdp_order = order;
      const auto r = run(panel, options);
      EXPECT_EQ(bits(r.lm), 0u);
      EXPECT_EQ(bits(r.scaled_lm), 0u);
      EXPECT_EQ(bits(r.cd), 0u);
      EXPECT_EQ(bits(r.cdp), 0u);
      EXPECT_EQ(bits(r.lm_pvalue), kMissingResultBits);
      EXPECT_EQ(r.scaled_lm_pvalue, 0.5);
      EXPECT_EQ(r.cd_pvalue, 1.0);
      EXPECT_EQ(r.cdp_pvalue, 1.0);
    }
  }
}

}  // namespace
}  // namespace qvd::e2e
