// Pesaran's tests on unbalanced panels against R's plm 2.6-2 (pcdtest with
// per-cross-section OLS and an intercept), on the three panels of the
// fixture: each cross-section is fitted here by QR least squares (LAPACK
// dgels) over the periods it observes, as plm's lm.fit does, and the
// residuals go to unbalanced_dependence.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/unbalanced_cd.h"
#include "fixtures/plm_unbalanced_fixture.h"
#include "qvdep.h"
#include "support/lapack.h"

namespace qvd::analysis {
namespace {

struct FixturePanel {
  int sections, periods, regressors, rows;
  std::span<const double> data;     // rows of id, time, y, x1..xK
  std::span<const double> figures;  // as the fixture lists them
  long omitted;                     // pairs sharing fewer than two periods
};

std::vector<FixturePanel> fixture_panels() {
  using namespace qvd::fixtures;
  auto panel = [](const int (&shape)[4], std::span<const double> data,
                  std::span<const double> figures, long omitted) {
    return FixturePanel{shape[0], shape[1], shape[2], shape[3], data, figures, omitted};
  };
  return {panel(kPlmPanel1Shape, kPlmPanel1Rows, kPlmPanel1Figures, 1),
          panel(kPlmPanel2Shape, kPlmPanel2Rows, kPlmPanel2Figures, 1),
          panel(kPlmPanel3Shape, kPlmPanel3Rows, kPlmPanel3Figures, 2)};
}

// N rows of T residuals of y on [1, x] per cross-section, missing where the
// cross-section has no row.
std::vector<double> ols_residuals(const FixturePanel &p) {
  const int width = 3 + p.regressors, k = 1 + p.regressors;
  std::vector<double> residuals(static_cast<std::size_t>(p.sections) * p.periods, missing_value());
  for (int i = 1; i <= p.sections; ++i) {
    std::vector<double> x, y;
    std::vector<int> times;
    for (int r = 0; r < p.rows; ++r) {
      const double *row = &p.data[static_cast<std::size_t>(r * width)];
      if (row[0] != i) continue;
      times.push_back(static_cast<int>(row[1]));
      y.push_back(row[2]);
    }
    const int m = static_cast<int>(y.size());
    x.assign(static_cast<std::size_t>(m * k), 1.0);
    for (int r = 0, o = 0; r < p.rows; ++r) {
      const double *row = &p.data[static_cast<std::size_t>(r * width)];
      if (row[0] != i) continue;
      for (int v = 0; v < p.regressors; ++v) x[static_cast<std::size_t>((v + 1) * m + o)] = row[3 + v];
      ++o;
    }
    std::vector<double> a = x, b = y, work(256);
    int one = 1, lwork = 256, info = 0;
    dgels_("N", &m, &k, &one, a.data(), &m, b.data(), &m, work.data(), &lwork, &info, 1);
    EXPECT_EQ(info, 0);
    for (int o = 0; o < m; ++o) {
      double fit = 0;
      for (int c = 0; c < k; ++c) fit += x[static_cast<std::size_t>(c * m + o)] * b[static_cast<std::size_t>(c)];
      residuals[static_cast<std::size_t>((i - 1) * p.periods + times[static_cast<std::size_t>(o)] - 1)] = y[static_cast<std::size_t>(o)] - fit;
    }
  }
  return residuals;
}

double relative(double ours, double plm) { return std::fabs(ours - plm) / std::fabs(plm); }

TEST(UnbalancedDependence, EqualsPlmOnUnbalancedPanels) {
  const char *names[] = {"LM", "LM p", "scaled LM", "scaled LM p", "CD", "CD p", "mean rho",
                         "mean |rho|", "local LM", "local scaled LM", "local CD", "local mean rho"};
  std::vector<double> worst(std::size(names), 0.0);
  for (const FixturePanel &p : fixture_panels()) {
    const std::vector<double> e = ols_residuals(p);
    const UnbalancedDependence all = unbalanced_dependence(e.data(), p.sections, p.periods);
    const UnbalancedDependence local = unbalanced_dependence(e.data(), p.sections, p.periods, 2);
    const std::span<const double> f = p.figures;
    EXPECT_EQ(all.pairs, static_cast<long>(f[0]));
    EXPECT_EQ(all.omitted_pairs, p.omitted);
    EXPECT_EQ(local.pairs, static_cast<long>(f[9]));
    const double ours[] = {all.lm, all.lm_pvalue, all.scaled_lm, all.scaled_lm_pvalue, all.cd,
                           all.cd_pvalue, all.mean_correlation, all.mean_abs_correlation,
                           local.lm, local.scaled_lm, local.cd, local.mean_correlation};
    const double plm[] = {f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[10], f[11], f[12], f[13]};
    for (std::size_t s = 0; s < std::size(ours); ++s) {
      EXPECT_LE(relative(ours[s], plm[s]), 1e-10) << names[s] << " of panel N = " << p.sections;
      worst[s] = std::max(worst[s], relative(ours[s], plm[s]));
    }
    // The upper tail is half plm's two-sided p-value on the side of the statistic.
    EXPECT_NEAR(all.scaled_lm_upper_pvalue,
                all.scaled_lm > 0 ? 0.5 * all.scaled_lm_pvalue : 1 - 0.5 * all.scaled_lm_pvalue, 1e-15);
    // Every pair within N - 1 of each other: the whole panel.
    const UnbalancedDependence widest = unbalanced_dependence(e.data(), p.sections, p.periods, p.sections - 1);
    EXPECT_EQ(widest.cd, all.cd);
    EXPECT_EQ(widest.pairs, all.pairs);
  }
  for (std::size_t s = 0; s < std::size(names); ++s)
    std::printf("largest relative difference from plm, %s: %.2e\n", names[s], worst[s]);
}

// rho~ of one pair, period by period as the definition reads; NaN when it
// does not exist.
double straightforward_rho(const double *a, const double *b, int periods, int &common) {
  double sa = 0, sb = 0;
  common = 0;
  for (int t = 0; t < periods; ++t)
    if (!qvdep_is_missing(a[t]) && !qvdep_is_missing(b[t])) sa += a[t], sb += b[t], ++common;
  if (common < 2) return std::nan("");
  const double ma = sa / common, mb = sb / common;
  double saa = 0, sbb = 0, sab = 0, raa = 0, rbb = 0;
  for (int t = 0; t < periods; ++t) {
    if (qvdep_is_missing(a[t]) || qvdep_is_missing(b[t])) continue;
    saa += (a[t] - ma) * (a[t] - ma), sbb += (b[t] - mb) * (b[t] - mb);
    sab += (a[t] - ma) * (b[t] - mb), raa += a[t] * a[t], rbb += b[t] * b[t];
  }
  if (saa <= 1e-24 * raa || sbb <= 1e-24 * rbb) return std::nan("");
  return sab / std::sqrt(saa * sbb);
}

// Formed across all partners at once, the sums are those of the pair by
// pair definition bit for bit: random missing patterns, series constant
// over their common periods, signed zeros, pairs sharing 0 to T periods.
TEST(UnbalancedDependence, AcrossPartnersEqualsPairByPairToTheBit) {
  std::mt19937_64 rng(31);
  for (int round = 0; round < 40; ++round) {
    const int n = 2 + static_cast<int>(rng() % 30), t = 1 + static_cast<int>(rng() % 12);
    const int p = 1 + static_cast<int>(rng() % 4);
    const double fill = (rng() % 100) / 100.0;
    std::vector<double> e(static_cast<std::size_t>(n) * t);
    for (double &v : e) {
      const std::uint64_t kind = rng() % 20;
      v = rng() % 1000 < fill * 1000 ? missing_value() : kind == 0 ? -0.0 : kind == 1 ? 3.0
                                                        : std::ldexp(static_cast<double>(rng() % 2001) - 1000, -7);
    }
    double lm = 0, cd = 0, local_cd = 0;
    long pairs = 0, local_pairs = 0;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        int common = 0;
        const double rho = straightforward_rho(&e[static_cast<std::size_t>(i) * t],
                                               &e[static_cast<std::size_t>(j) * t], t, common);
        if (std::isnan(rho)) continue;
        lm += common * rho * rho, cd += std::sqrt(static_cast<double>(common)) * rho, ++pairs;
        if (j - i <= p) local_cd += std::sqrt(static_cast<double>(common)) * rho, ++local_pairs;
      }
    const UnbalancedBlock b = unbalanced_block(e.data(), n, t, p);
    ASSERT_EQ(b.all.pairs, pairs);
    ASSERT_EQ(b.local.pairs, local_pairs);
    if (pairs == 0) continue;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(b.all.lm), std::bit_cast<std::uint64_t>(lm));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(b.all.cd), std::bit_cast<std::uint64_t>(std::sqrt(1.0 / pairs) * cd));
    if (local_pairs > 0) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(b.local.cd),
                std::bit_cast<std::uint64_t>(std::sqrt(1.0 / local_pairs) * local_cd));
    }
  }
}

TEST(UnbalancedDependence, PairsWithoutACorrelation) {
  const double m = missing_value();
  // Section 0 and 1 share periods 2 and 3 only, where section 1 is constant;
  // section 2 meets section 0 at period 0 only and shares nothing with 1.
  const std::vector<double> e = {1.0, -2.0, 0.5, 1.5, m,   m,
                                 m,   m,    0.7, 0.7, 2.0, -1.0,
                                 3.0, m,    m,   m,   m,   m};
  const UnbalancedDependence r = unbalanced_dependence(e.data(), 3, 6);
  EXPECT_EQ(r.pairs, 0);
  EXPECT_EQ(r.omitted_pairs, 3);
  EXPECT_TRUE(std::isnan(r.cd) && std::isnan(r.lm_pvalue) && std::isnan(r.mean_correlation));
  EXPECT_THROW(unbalanced_dependence(e.data(), 3, 6, 0), InputError);
}

}  // namespace
}  // namespace qvd::analysis
