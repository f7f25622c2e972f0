// The bias-adjusted LM, the weighted CD over R draws, its power-enhanced
// form and CD*, each against a straightforward implementation of its
// formula: explicit T-by-T projections, explicit pair loops, all
// eigenvectors of an explicitly formed Z Z' (LAPACK dsyev, another driver
// than the library's) and normal equations (dgesv).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/common/task_group.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/bias_adjusted_lm.h"
#include "analysis/stats/cd_star.h"
#include "analysis/stats/pair_sums.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/tail_probability.h"
#include "analysis/stats/unbalanced_cd.h"
#include "analysis/stats/weighted_cd.h"

extern "C" {
void dgesv_(const int *n, const int *nrhs, double *a, const int *lda, int *ipiv, double *b,
            const int *ldb, int *info);
void dsyev_(const char *jobz, const char *uplo, const int *n, double *a, const int *lda, double *w,
            double *work, const int *lwork, int *info, std::size_t, std::size_t);
}

namespace qvd::analysis {
namespace {

using Matrix = std::vector<double>;  // column-major

// A copy of residuals as the analysis hands them to CD*.
WorkVector<double> work(const std::vector<double> &e) { return {e.begin(), e.end()}; }

double &cell(PairTable &p, int i, int j) {
  return p.correlations[packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))];
}
double cell(const PairTable &p, int i, int j) {
  return p.correlations[packed_index(static_cast<std::size_t>(i), static_cast<std::size_t>(j))];
}

// x solving a x = b for a square a (n-by-n) and b n-by-m.
Matrix solve(Matrix a, Matrix b, int n) {
  const int m = static_cast<int>(b.size()) / n;
  std::vector<int> pivots(static_cast<std::size_t>(n));
  int info = 0;
  dgesv_(&n, &m, a.data(), &n, pivots.data(), b.data(), &n, &info);
  EXPECT_EQ(info, 0);
  return b;
}

// Residuals e_it = loading * g_i f_t + u_it with standard normal f, u and g
// from [0.5, 1.5]; N rows of T.
std::vector<double> random_residuals(std::mt19937_64 &rng, int n, int t, double loading) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> g(0.5, 1.5);
  std::vector<double> f(static_cast<std::size_t>(t)), e;
  for (double &v : f) v = normal(rng);
  for (int i = 0; i < n; ++i) {
    const double gi = g(rng);
    for (int s = 0; s < t; ++s) e.push_back(loading * gi * f[static_cast<std::size_t>(s)] + normal(rng));
  }
  return e;
}

// The module's pair table of a balanced residual matrix: uncentred rho_ij,
// with a table of common periods (all T) that a test may change.
PairTable balanced_pairs(const std::vector<double> &e, int n, int t) {
  PairTable p;
  p.sections = n;
  p.periods = t;
  p.correlations = host::OwnedArray<double>(packed_cells(static_cast<std::size_t>(n)));
  p.common_periods.assign(packed_cells(static_cast<std::size_t>(n)), t);
  auto dot = [&](int i, int j) {
    double s = 0;
    for (int u = 0; u < t; ++u) s += e[static_cast<std::size_t>(i * t + u)] * e[static_cast<std::size_t>(j * t + u)];
    return s;
  };
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j)
      cell(p, i, j) = i == j ? 1.0 : dot(i, j) / std::sqrt(dot(i, i) * dot(j, j));
  p.usable = n * (n - 1) / 2;
  return p;
}

// ---------------------------------------------------------------- LM_adj

struct Design {
  host::Panel panel;
  bool intercept;
};

Design random_design(std::mt19937_64 &rng, int n, int t, int kx, bool intercept) {
  std::normal_distribution<double> normal;
  Design d{{n, t, kx, {}}, intercept};
  for (int c = 0; c < n * t * (kx + 1); ++c) d.panel.values.push_back(normal(rng) + (c % 3 == 0 ? 1.0 : 0.0));
  return d;
}

// X_i, T-by-k.
Matrix design_matrix(const Design &d, int i) {
  const int t = d.panel.periods, kx = d.panel.regressors, k = kx + (d.intercept ? 1 : 0);
  Matrix x(static_cast<std::size_t>(t * k), 1.0);
  for (int s = 0; s < t; ++s)
    for (int v = 0; v < kx; ++v)
      x[static_cast<std::size_t>((v + (d.intercept ? 1 : 0)) * t + s)] =
          d.panel.values[static_cast<std::size_t>((i * t + s) * (kx + 1) + v)];
  return x;
}

// M_i = I - X (X'X)^-1 X', T-by-T.
Matrix annihilator(const Matrix &x, int t) {
  const int k = static_cast<int>(x.size()) / t;
  Matrix xtx(static_cast<std::size_t>(k * k), 0.0), xt(static_cast<std::size_t>(k * t));
  for (int a = 0; a < k; ++a)
    for (int s = 0; s < t; ++s) {
      xt[static_cast<std::size_t>(s * k + a)] = x[static_cast<std::size_t>(a * t + s)];
      for (int b = 0; b < k; ++b) xtx[static_cast<std::size_t>(b * k + a)] += x[static_cast<std::size_t>(a * t + s)] * x[static_cast<std::size_t>(b * t + s)];
    }
  const Matrix coef = solve(xtx, xt, k);  // (X'X)^-1 X', k-by-T
  Matrix m(static_cast<std::size_t>(t * t));
  for (int r = 0; r < t; ++r)
    for (int c = 0; c < t; ++c) {
      double s = r == c ? 1.0 : 0.0;
      for (int a = 0; a < k; ++a) s -= x[static_cast<std::size_t>(a * t + r)] * coef[static_cast<std::size_t>(c * k + a)];
      m[static_cast<std::size_t>(c * t + r)] = s;
    }
  return m;
}

// LM_adj from explicit projections; `scale` gets the same sum of |terms|.
double reference_lm_adj(const Design &d, double &scale) {
  const int n = d.panel.sections, t = d.panel.periods, kx = d.panel.regressors;
  const int k = kx + (d.intercept ? 1 : 0);
  std::vector<Matrix> m;
  std::vector<double> e;
  for (int i = 0; i < n; ++i) {
    m.push_back(annihilator(design_matrix(d, i), t));
    for (int r = 0; r < t; ++r) {
      double s = 0;
      for (int c = 0; c < t; ++c)
        s += m.back()[static_cast<std::size_t>(c * t + r)] * d.panel.values[static_cast<std::size_t>((i * t + c) * (kx + 1) + kx)];
      e.push_back(s);
    }
  }
  const PairTable pairs = balanced_pairs(e, n, t);
  const double dof = t - k;
  const double a2 = 3 * std::pow(((dof - 8) * (dof + 2) + 24) / ((dof + 2) * (dof - 2) * (dof - 4)), 2);
  const double a1 = a2 - 1 / (dof * dof);
  double sum = 0;
  scale = 0;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      Matrix p(static_cast<std::size_t>(t * t), 0.0);  // M_i M_j
      for (int r = 0; r < t; ++r)
        for (int c = 0; c < t; ++c)
          for (int u = 0; u < t; ++u)
            p[static_cast<std::size_t>(c * t + r)] += m[static_cast<std::size_t>(i)][static_cast<std::size_t>(u * t + r)] * m[static_cast<std::size_t>(j)][static_cast<std::size_t>(c * t + u)];
      double tr1 = 0, tr2 = 0;
      for (int r = 0; r < t; ++r) {
        tr1 += p[static_cast<std::size_t>(r * t + r)];
        for (int c = 0; c < t; ++c) tr2 += p[static_cast<std::size_t>(c * t + r)] * p[static_cast<std::size_t>(r * t + c)];
      }
      const double rho = cell(pairs, i, j);
      const double term = (dof * rho * rho - tr1 / dof) / std::sqrt(tr1 * tr1 * a1 + 2 * tr2 * a2);
      sum += term;
      scale += std::fabs(term);
    }
  const double q = std::sqrt(2.0 / (n * (n - 1.0)));
  scale *= q;
  return q * sum;
}

// The residuals and pair table the module would leave for a design.
PairTable design_pairs(const Design &d) {
  const int n = d.panel.sections, t = d.panel.periods, kx = d.panel.regressors;
  std::vector<double> e;
  for (int i = 0; i < n; ++i) {
    const Matrix m = annihilator(design_matrix(d, i), t);
    for (int r = 0; r < t; ++r) {
      double s = 0;
      for (int c = 0; c < t; ++c) s += m[static_cast<std::size_t>(c * t + r)] * d.panel.values[static_cast<std::size_t>((i * t + c) * (kx + 1) + kx)];
      e.push_back(s);
    }
  }
  return balanced_pairs(e, n, t);
}

TEST(BiasAdjustedLm, EqualsExplicitProjections) {
  struct Case { int n, t, kx; bool intercept; };
  std::mt19937_64 rng(41);
  // N = 130 with four regressors meets its partners in three parts of 63.
  for (const Case c : {Case{5, 12, 2, true}, Case{7, 10, 1, false}, Case{4, 9, 0, true},
                       Case{6, 20, 3, true}, Case{70, 11, 1, true}, Case{130, 12, 4, true}}) {
    const Design d = random_design(rng, c.n, c.t, c.kx, c.intercept);
    double scale = 0;
    const double expected = reference_lm_adj(d, scale);
    const PairTable pairs = design_pairs(d);
    const BiasAdjustedLm r = bias_adjusted_lm(d.panel, d.intercept, 0, pairs);
    ASSERT_TRUE(r.available) << r.reason;
    EXPECT_LE(std::fabs(r.statistic - expected), 1e-12 * scale) << "N = " << c.n << ", T = " << c.t;
    EXPECT_NEAR(r.pvalue, 0.5 * std::erfc(expected / std::sqrt(2.0)), 1e-12);
    // Its weights in bands on the pool, the first rows' in the pass beside
    // the other sums over the pairs and the rest formed after it: the same
    // bits wherever the pass stops.
    for (const std::size_t early : {std::size_t{0}, std::size_t{8} * c.n, std::size_t{1} << 30}) {
      BiasAdjustedLmBands bands(d.panel, d.intercept, 0, early);
      {
        TaskGroup group;
        bands.start(group);
        group.wait();
      }
      const double pass = pair_sums(pairs, nullptr, bands.early_scales(), bands.early_rows()).scaled_squares;
      EXPECT_EQ(std::bit_cast<std::uint64_t>(bands.finish(pairs, pass).statistic),
                std::bit_cast<std::uint64_t>(r.statistic))
          << "N = " << c.n << ", " << bands.early_rows() << " early rows";
    }
  }
}

TEST(BiasAdjustedLm, RefusesWhereUndefined) {
  std::mt19937_64 rng(43);
  const Design d = random_design(rng, 5, 12, 2, true);
  const PairTable pairs = design_pairs(d);
  EXPECT_TRUE(bias_adjusted_lm(d.panel, true, 0, pairs).available);
  EXPECT_FALSE(bias_adjusted_lm(d.panel, true, 1, pairs).available);  // restrictions

  Design unbalanced = d;
  unbalanced.panel.values[17] = missing_value();
  EXPECT_FALSE(bias_adjusted_lm(unbalanced.panel, true, 0, pairs).available);

  const Design short_panel = random_design(rng, 5, 7, 2, true);  // T - k = 4
  const BiasAdjustedLm r = bias_adjusted_lm(short_panel.panel, true, 0, design_pairs(short_panel));
  EXPECT_FALSE(r.available);
  EXPECT_NE(r.reason.find("T - k"), std::string::npos);

  Design collinear = d;  // cross-section 3: second regressor twice the first
  for (int s = 0; s < 12; ++s) collinear.panel.values[static_cast<std::size_t>((2 * 12 + s) * 3 + 1)] = 2 * collinear.panel.values[static_cast<std::size_t>((2 * 12 + s) * 3)];
  const BiasAdjustedLm deficient = bias_adjusted_lm(collinear.panel, true, 0, pairs);
  EXPECT_FALSE(deficient.available);
  EXPECT_NE(deficient.reason.find("cross-section 3"), std::string::npos) << deficient.reason;

  PairTable unusable = pairs;
  cell(unusable, 0, 1) = NAN;
  EXPECT_FALSE(bias_adjusted_lm(d.panel, true, 0, unusable).available);
  EXPECT_TRUE(std::isnan(bias_adjusted_lm(d.panel, true, 0, unusable).statistic));
  BiasAdjustedLmBands bands(d.panel, true, 0);
  {
    TaskGroup group;
    bands.start(group);
  }
  const double pass = pair_sums(unusable, nullptr, bands.early_scales(), bands.early_rows()).scaled_squares;
  EXPECT_EQ(bands.finish(unusable, pass).reason, bias_adjusted_lm(d.panel, true, 0, unusable).reason);
}

// ------------------------------------------------------- weighted CD draws

TEST(WeightedCdDraws, OneDrawIsTheWeightedCdAndDrawsContinueTheStream) {
  std::mt19937_64 rng(47);
  for (const int n : {2, 9, 40}) {
    PairTable pairs = balanced_pairs(random_residuals(rng, n, 15, 0.4), n, 15);
    if (n == 9) cell(pairs, 0, 3) = NAN;  // an unusable pair
    for (const std::uint64_t seed : {std::uint64_t{1}, std::uint64_t{20220101}, ~std::uint64_t{0}}) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(weighted_cd_draws(pairs, 1, seed)),
                std::bit_cast<std::uint64_t>(weighted_cd(pairs, random_signs(n, seed))));
      // Draw r uses the signs r N .. (r + 1) N - 1 of one stream.
      const std::vector<int> all = random_signs(3 * n, seed);
      double sum = 0;
      for (int r = 0; r < 3; ++r)
        sum += weighted_cd(pairs, std::vector<int>(all.begin() + r * n, all.begin() + (r + 1) * n));
      EXPECT_DOUBLE_EQ(weighted_cd_draws(pairs, 3, seed), sum / std::sqrt(3.0));
    }
  }
  EXPECT_THROW(weighted_cd_draws(PairTable{}, 0, 1), InputError);
}

// --------------------------------------------------------------- CDw+

// The screened sum alone, pair by pair in row order.
double screened_sum(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  const auto screen = screens(pairs);
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      sum += screened(pairs.correlations[packed_index(i, j)], screen(common_periods_of(pairs, i, j)));
  return sum;
}

TEST(PowerEnhancedCd, EqualsTheFormula) {
  std::mt19937_64 rng(53);
  for (const double loading : {0.0, 0.3, 1.5}) {
    const int n = 12, t = 25;
    PairTable pairs = balanced_pairs(random_residuals(rng, n, t, loading), n, t);
    pairs.common_periods[packed_index(0, 1)] = 9;  // a pair with fewer periods
    cell(pairs, 0, 2) = NAN;
    const std::vector<int> w = random_signs(n, 7);
    long double cd = 0, enhancement = 0;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        const double rho = cell(pairs, i, j);
        const int tij = common_periods_of(pairs, static_cast<std::size_t>(i), static_cast<std::size_t>(j));
        if (std::isnan(rho)) continue;
        cd += std::sqrt(static_cast<long double>(tij)) * w[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(j)] * rho;
        if (std::fabs(rho) > 2 * std::sqrt(std::log(n) / tij)) enhancement += std::fabs(rho);
      }
    cd *= std::sqrt(2.0L / (n * (n - 1)));
    const PairSums both = pair_sums(pairs, &w, nullptr, 0);
    EXPECT_NEAR(both.power_enhancement, static_cast<double>(enhancement), 1e-13);
    EXPECT_NEAR(weighted_cd(pairs, w) + both.power_enhancement, static_cast<double>(cd + enhancement), 1e-12);
    // Both sums in the one pass over the pairs: the bits of each alone.
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*both.weighted_cd),
              std::bit_cast<std::uint64_t>(weighted_cd(pairs, w)));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(both.power_enhancement),
              std::bit_cast<std::uint64_t>(screened_sum(pairs)));
    if (loading > 1) {
      EXPECT_GT(enhancement, 1.0L);  // strong dependence passes the screen
    }
  }
}

// ----------------------------------------------------------------- CD*

// CD* written out: explicit Z Z', all its eigenvectors, normal equations.
CdStar reference_cd_star(const std::vector<double> &e, int n, int t, int p) {
  Matrix z(e);
  for (int i = 0; i < n; ++i) {
    double mean = 0, square = 0;
    for (int s = 0; s < t; ++s) mean += z[static_cast<std::size_t>(i * t + s)] / t;
    for (int s = 0; s < t; ++s) square += std::pow(z[static_cast<std::size_t>(i * t + s)] - mean, 2) / t;
    for (int s = 0; s < t; ++s) z[static_cast<std::size_t>(i * t + s)] = (z[static_cast<std::size_t>(i * t + s)] - mean) / std::sqrt(square);
  }
  Matrix zz(static_cast<std::size_t>(t * t), 0.0);
  for (int r = 0; r < t; ++r)
    for (int c = 0; c < t; ++c)
      for (int i = 0; i < n; ++i) zz[static_cast<std::size_t>(c * t + r)] += z[static_cast<std::size_t>(i * t + r)] * z[static_cast<std::size_t>(i * t + c)];
  std::vector<double> values(static_cast<std::size_t>(t)), work(static_cast<std::size_t>(10 * t));
  int lwork = 10 * t, info = 0;
  dsyev_("V", "U", &t, zz.data(), &t, values.data(), work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
  const int k = p + 1;
  Matrix x(static_cast<std::size_t>(t * k), 1.0);  // [1, f]: the last p eigenvectors
  std::copy(zz.end() - p * t, zz.end(), x.begin() + t);
  Matrix xtx(static_cast<std::size_t>(k * k), 0.0), xtz(static_cast<std::size_t>(k * n), 0.0);
  for (int a = 0; a < k; ++a)
    for (int s = 0; s < t; ++s) {
      for (int b = 0; b < k; ++b) xtx[static_cast<std::size_t>(b * k + a)] += x[static_cast<std::size_t>(a * t + s)] * x[static_cast<std::size_t>(b * t + s)];
      for (int i = 0; i < n; ++i) xtz[static_cast<std::size_t>(i * k + a)] += x[static_cast<std::size_t>(a * t + s)] * z[static_cast<std::size_t>(i * t + s)];
    }
  const Matrix coef = solve(xtx, xtz, k);
  Matrix eps(z);
  std::vector<double> sigma(static_cast<std::size_t>(n), 0.0), mean_square(static_cast<std::size_t>(p), 0.0), phi(static_cast<std::size_t>(p), 0.0);
  for (int i = 0; i < n; ++i) {
    for (int s = 0; s < t; ++s) {
      for (int a = 0; a < k; ++a) eps[static_cast<std::size_t>(i * t + s)] -= x[static_cast<std::size_t>(a * t + s)] * coef[static_cast<std::size_t>(i * k + a)];
      sigma[static_cast<std::size_t>(i)] += std::pow(eps[static_cast<std::size_t>(i * t + s)], 2) / t;
    }
    sigma[static_cast<std::size_t>(i)] = std::sqrt(sigma[static_cast<std::size_t>(i)]);
    for (int l = 0; l < p; ++l) mean_square[static_cast<std::size_t>(l)] += std::pow(coef[static_cast<std::size_t>(i * k + 1 + l)], 2) / n;
  }
  auto gamma = [&](int i, int l) { return coef[static_cast<std::size_t>(i * k + 1 + l)] / std::sqrt(mean_square[static_cast<std::size_t>(l)]); };
  for (int i = 0; i < n; ++i)
    for (int l = 0; l < p; ++l) phi[static_cast<std::size_t>(l)] += gamma(i, l) / sigma[static_cast<std::size_t>(i)] / n;
  CdStar r;
  for (int i = 0; i < n; ++i) {
    double g = 0;
    for (int l = 0; l < p; ++l) g += gamma(i, l) * phi[static_cast<std::size_t>(l)];
    r.w += std::pow(1 - sigma[static_cast<std::size_t>(i)] * g, 2) / n;
  }
  for (int i = 0; i < n; ++i)  // Pearson correlations of the eps_i
    for (int j = i + 1; j < n; ++j) {
      double mi = 0, mj = 0, sij = 0, sii = 0, sjj = 0;
      for (int s = 0; s < t; ++s) mi += eps[static_cast<std::size_t>(i * t + s)] / t, mj += eps[static_cast<std::size_t>(j * t + s)] / t;
      for (int s = 0; s < t; ++s) {
        const double a = eps[static_cast<std::size_t>(i * t + s)] - mi, b = eps[static_cast<std::size_t>(j * t + s)] - mj;
        sij += a * b, sii += a * a, sjj += b * b;
      }
      r.cd_eps += std::sqrt(static_cast<double>(t)) * sij / std::sqrt(sii * sjj);
    }
  r.cd_eps *= std::sqrt(2.0 / (n * (n - 1.0)));
  r.statistic = (r.cd_eps + std::sqrt(t / 2.0) * (1 - r.w)) / r.w;
  return r;
}

TEST(CdStar, EqualsTheFormulaWrittenOut) {
  struct Case { int n, t, p; double loading; };
  std::mt19937_64 rng(59);
  for (const Case c : {Case{6, 15, 1, 0.0}, Case{10, 30, 2, 1.0}, Case{20, 12, 4, 2.0},
                       Case{30, 8, 6, 0.5}, Case{5, 40, 4, 1.0}}) {
    const std::vector<double> e = random_residuals(rng, c.n, c.t, c.loading);
    const CdStar expected = reference_cd_star(e, c.n, c.t, c.p);
    const CdStar r = cd_star(work(e), c.n, c.t, c.p);
    ASSERT_TRUE(r.available) << r.reason;
    EXPECT_NEAR(r.w, expected.w, 1e-10 * expected.w) << "N = " << c.n << ", p = " << c.p;
    EXPECT_NEAR(r.cd_eps, expected.cd_eps, 1e-10 * std::max(1.0, std::fabs(expected.cd_eps)));
    EXPECT_NEAR(r.statistic, expected.statistic, 1e-9 * std::max(1.0, std::fabs(expected.statistic)));
    EXPECT_NEAR(r.pvalue, normal_two_sided(expected.statistic), 1e-9);
  }
}

TEST(CdStar, RefusesBadComponentCountsAndUnbalancedPanels) {
  std::mt19937_64 rng(61);
  std::vector<double> e = random_residuals(rng, 6, 10, 1.0);
  for (const int p : {0, -1, 6, 7, 100}) EXPECT_THROW(cd_star(work(e), 6, 10, p), InputError) << p;
  EXPECT_THROW(cd_star(work(random_residuals(rng, 12, 5, 1.0)), 12, 5, 5), InputError);  // p >= T
  EXPECT_TRUE(cd_star(work(e), 6, 10, 5).available);
  // p = T - 1: [1, f] spans every period and leaves no residual.
  EXPECT_FALSE(cd_star(work(random_residuals(rng, 30, 8, 0.5)), 30, 8, 7).available);
  e[13] = missing_value();
  const CdStar r = cd_star(work(e), 6, 10, 4);
  EXPECT_FALSE(r.available);
  EXPECT_TRUE(std::isnan(r.statistic));
}

// Bands formed on the pool, some before the pass over the pairs and some
// after it, give the bits of every weight formed on one thread; and the
// dot-product kernel agrees with the system's BLAS.
TEST(BiasAdjustedLm, BandsOnThePoolGiveTheBitsOfOneThread) {
  std::mt19937_64 rng(73);
  const Design d = random_design(rng, 200, 30, 8, true);  // three bands of pairs
  const PairTable pairs = balanced_pairs(random_residuals(rng, 200, 30, 0.5), 200, 30);
  const BiasAdjustedLm alone = bias_adjusted_lm(d.panel, true, 0, pairs);
  ASSERT_TRUE(alone.available) << alone.reason;
  for (int round = 0; round < 20; ++round) {
    BiasAdjustedLmBands bands(d.panel, true, 0, std::size_t{8} * 81 * 199);  // the first band early
    TaskGroup group;
    bands.start(group);
    group.wait();
    ASSERT_EQ(bands.early_rows(), 81u);
    const double pass = pair_sums(pairs, nullptr, bands.early_scales(), bands.early_rows()).scaled_squares;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(bands.finish(pairs, pass).statistic),
              std::bit_cast<std::uint64_t>(alone.statistic));
  }
  const BiasAdjustedLmWeights kernel = bias_adjusted_lm_weights(d.panel, true, 0);
  const BiasAdjustedLmWeights blas = bias_adjusted_lm_weights(d.panel, true, 0, true);
  ASSERT_TRUE(kernel.available) << kernel.reason;
  double worst = 0;
  for (std::size_t p = 0; p < kernel.scale.size(); ++p)
    worst = std::max(worst, std::fabs(blas.scale[p] / kernel.scale[p] - 1));
  EXPECT_LT(worst, 1e-14);
  EXPECT_NEAR(blas.centre, kernel.centre, 1e-13 * kernel.centre);
}

// The tools' serial OpenBLAS shares its work buffers between threads (small products
// suffer most); two analyses at once must still give each the figures of
// one alone.
// A set stop flag ends each long loop of pairs, from the caller's thread
// or from a task on the pool, and the whole analysis before the module.
TEST(StopFlag, EndsEveryLongLoop) {
  std::mt19937_64 rng(71);
  const std::atomic<bool> set{true};
  const StopFlag stop(&set);
  const Design d = random_design(rng, 60, 20, 2, true);
  std::vector<double> e = random_residuals(rng, 60, 20, 0.3);
  const PairTable pairs = balanced_pairs(e, 60, 20);
  BiasAdjustedLmBands bands(d.panel, true, 0, 0);  // every band after the pass
  {
    TaskGroup group;
    bands.start(group);
  }
  EXPECT_THROW(bands.finish(pairs, 0.0, stop), Interrupted);
  EXPECT_THROW(weighted_cd_draws(pairs, 3, 1, stop), Interrupted);
  e[5] = missing_value();  // a gap: the pair table sums over shared periods
  EXPECT_THROW(unbalanced_block(e.data(), 60, 20, 1, stop), Interrupted);
  EXPECT_THROW(pair_table(e.data(), 60, 20, host::OwnedArray<double>(packed_cells(60)), stop),
               Interrupted);
  EXPECT_THROW(parallel_for(4, [&](std::size_t) { unbalanced_block(e.data(), 60, 20, 1, stop); }),
               Interrupted);
}

TEST(LapackCalls, TwoThreadsGiveTheFiguresOfOne) {
  std::mt19937_64 rng(67);
  const Design d = random_design(rng, 12, 30, 2, true);
  const std::vector<double> e = random_residuals(rng, 12, 30, 1.0);
  const std::vector<double> scale = bias_adjusted_lm_weights(d.panel, true, 0).scale;
  const double star = cd_star(work(e), 12, 30, 2).statistic;
  std::atomic<int> differ{0};
  auto repeat = [&] {
    for (int r = 0; r < 4000; ++r) {
      differ += bias_adjusted_lm_weights(d.panel, true, 0).scale != scale;
      differ += std::bit_cast<std::uint64_t>(cd_star(work(e), 12, 30, 2).statistic) !=
                std::bit_cast<std::uint64_t>(star);
    }
  };
  std::thread other(repeat);
  repeat();
  other.join();
  EXPECT_EQ(differ, 0);
}

}  // namespace
}  // namespace qvd::analysis
