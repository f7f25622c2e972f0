// plm's block on a model's residuals: the statistics of R's plm 2.6-2
// pcdtest on the residuals of within models of Grunfeld's panel (balanced,
// and with rows taken out), over every pair, the pairs at most 2 apart and
// the pairs of a proximity matrix read from the fixture's CSV text; and the
// pair table's sums against those formed chunk by chunk, to the bit.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/input/proximity.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/unbalanced_cd.h"
#include "fixtures/plm_model_fixture.h"

namespace qvd::analysis {
namespace {

double relative(double ours, double plm) { return std::fabs(ours - plm) / std::fabs(plm); }

std::vector<double> with_missing_cells(std::span<const double> residuals) {
  std::vector<double> e(residuals.begin(), residuals.end());
  for (double &v : e)
    if (std::isnan(v)) v = missing_value();
  return e;
}

std::vector<std::uint64_t> bits_of(const UnbalancedDependence &d) {
  std::vector<std::uint64_t> bits{static_cast<std::uint64_t>(d.pairs),
                                  static_cast<std::uint64_t>(d.omitted_pairs)};
  for (double v : {d.lm, d.lm_pvalue, d.scaled_lm, d.scaled_lm_pvalue, d.scaled_lm_upper_pvalue,
                   d.cd, d.cd_pvalue, d.mean_correlation, d.mean_abs_correlation})
    bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

TEST(PlmBlock, EqualsPlmOnWithinResiduals) {
  using namespace qvd::fixtures;
  struct Model {
    std::span<const double> residuals;
    const char *proximity;
    const double (&figures)[3][11];
  };
  const Model models[] = {{kPlmModel1Residuals, kPlmModel1Proximity, kPlmModel1Figures},
                          {kPlmModel2Residuals, kPlmModel2Proximity, kPlmModel2Figures}};
  const char *names[] = {"LM",   "LM p", "scaled LM", "scaled LM p", "LM_BC", "LM_BC p",
                         "CD",   "CD p", "mean rho",  "mean |rho|"};
  std::vector<double> worst(std::size(names), 0.0);
  constexpr int n = 10, t = 20;
  std::vector<std::string> ids;
  for (int i = 1; i <= n; ++i) ids.push_back(std::to_string(i));
  for (const Model &m : models) {
    const std::vector<double> e = with_missing_cells(m.residuals);
    const PairTable table = centred_pair_table(e.data(), n, t);
    const Neighbours sets[] = {Neighbours::band(n, kAllPairs), Neighbours::band(n, 2),
                               parse_proximity_csv(m.proximity, "w.csv", ids)};
    for (int s = 0; s < 3; ++s) {
      const UnbalancedBlock block = plm_block(table, sets[s]);
      const UnbalancedDependence &d = block.local;
      const Statistic bc = bias_corrected_scaled_lm(d, table);
      const double *plm = m.figures[s];
      ASSERT_EQ(d.pairs, static_cast<long>(plm[0]));
      // plm's scaled LMs carry two-sided p-values; the upper tail is half of them here.
      ASSERT_GT(d.scaled_lm, 0);
      ASSERT_GT(bc.statistic, 0);
      const double ours[] = {d.lm, d.lm_pvalue, d.scaled_lm, 2 * d.scaled_lm_upper_pvalue,
                             bc.statistic, 2 * bc.pvalue, d.cd, d.cd_pvalue,
                             d.mean_correlation, d.mean_abs_correlation};
      for (std::size_t k = 0; k < std::size(ours); ++k) {
        EXPECT_LE(relative(ours[k], plm[k + 1]), 1e-10) << names[k] << ", set " << s;
        worst[k] = std::max(worst[k], relative(ours[k], plm[k + 1]));
      }
      // The same block formed chunk by chunk without a table, to the bit.
      const UnbalancedBlock streamed = unbalanced_block(e.data(), n, t, sets[s]);
      EXPECT_EQ(bits_of(streamed.local), bits_of(block.local));
    }
  }
  for (std::size_t k = 0; k < std::size(names); ++k)
    std::printf("largest relative difference from plm, %s: %.2e\n", names[k], worst[k]);
}

// The table's cells are each pair's rho~ and T_ij as formed chunk by chunk
// (the streamed block's sums over a single pair), and its sums those of the
// streamed block, to the bit: random gaps, constant stretches, pairs
// sharing 0 to T periods, random sets of neighbours; N up to 900, which
// spreads the columns over several chunks of the pool.
TEST(PlmBlock, TableEqualsStreamedBlockToTheBit) {
  std::mt19937_64 rng(2012);
  for (int round = 0; round < 30; ++round) {
    const int n = round == 0 ? 900 : 2 + static_cast<int>(rng() % 40);
    const int t = 1 + static_cast<int>(rng() % 12);
    const double fill = static_cast<double>(rng() % 100) / 100.0;
    std::vector<double> e(static_cast<std::size_t>(n) * t);
    for (double &v : e) {
      const std::uint64_t kind = rng() % 20;
      v = static_cast<double>(rng() % 1000) < fill * 1000 ? missing_value()
          : kind == 0                                     ? -0.0
          : kind == 1                                     ? 3.0
                      : std::ldexp(static_cast<double>(rng() % 2001) - 1000, -7);
    }
    Neighbours local(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
      const std::size_t a = rng() % n, b = (a + 1 + rng() % (n - 1)) % n;
      local.add(a, b);
    }
    if (round % 3 == 0) local = Neighbours::band(static_cast<std::size_t>(n), 1 + round % 4);
    const PairTable table = centred_pair_table(e.data(), n, t);
    const UnbalancedBlock block = plm_block(table, local);
    const UnbalancedBlock streamed = unbalanced_block(e.data(), n, t, local);
    ASSERT_EQ(bits_of(block.all), bits_of(streamed.all)) << "round " << round;
    ASSERT_EQ(bits_of(block.local), bits_of(streamed.local)) << "round " << round;
    EXPECT_EQ(table.usable, block.all.pairs);
    EXPECT_EQ(table.unusable, block.all.omitted_pairs);
    for (int k = 0; k < 20; ++k) {  // cells against a block of one pair
      const std::size_t i = rng() % n, j = rng() % n;
      if (i == j) continue;
      std::vector<double> two(e.begin() + static_cast<std::ptrdiff_t>(i * t),
                              e.begin() + static_cast<std::ptrdiff_t>((i + 1) * t));
      two.insert(two.end(), e.begin() + static_cast<std::ptrdiff_t>(j * t),
                 e.begin() + static_cast<std::ptrdiff_t>((j + 1) * t));
      const UnbalancedDependence one = unbalanced_dependence(two.data(), 2, t);
      const double rho = table.correlations[packed_index(i, j)];
      ASSERT_EQ(std::isnan(rho), one.pairs == 0);
      if (one.pairs == 1) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(rho),
                  std::bit_cast<std::uint64_t>(one.mean_correlation));
        EXPECT_EQ(one.lm, common_periods_of(table, i, j) * rho * rho);
      }
      EXPECT_EQ(table.correlations[packed_index(i, i)], 1.0);
    }
  }
}

TEST(PlmBlock, BiasCorrectionNeedsPairsAndTwoPeriods) {
  const double m = missing_value();
  const std::vector<double> e = {1.0, m, m, 2.0};  // two cross-sections sharing no period
  const PairTable table = centred_pair_table(e.data(), 2, 2);
  const UnbalancedBlock block = plm_block(table, Neighbours::band(2, 1));
  EXPECT_EQ(table.common_periods, (std::vector<int>{1, 0, 1}));
  EXPECT_FALSE(bias_corrected_scaled_lm(block.all, table).available);
  EXPECT_THROW(plm_block(table, Neighbours::band(3, 1)), InputError);
}

}  // namespace
}  // namespace qvd::analysis
