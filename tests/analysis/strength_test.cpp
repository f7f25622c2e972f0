// The rank tests and the exponents of cross-sectional dependence against
// their definitions: Spearman correlations by explicit pair loops and
// Friedman's statistic from the periods' rank sums; Frees' Q law against
// mpmath quadrature of its convolution and a large simulation; the
// residuals' alpha~ by explicit pair loops; the variable's alpha by its
// steps, with the principal components from a singular value
// decomposition (LAPACK dgesvd, not the library's eigenvectors), every
// regression by its normal equations (dgesv) and Boost's normal quantile.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/frees_q.h"
#include "analysis/stats/rank_tests.h"
#include "analysis/stats/residual_exponent.h"
#include "analysis/stats/tail_probability.h"
#include "analysis/stats/variable_exponent.h"
#include "support/lapack.h"

namespace qvd::analysis {
namespace {

using Vector = std::vector<double>;

double mean(const Vector &x) {
  double s = 0;
  for (const double v : x) s += v;
  return s / static_cast<double>(x.size());
}

double variance(const Vector &x, double divisor) {
  const double m = mean(x);
  double s = 0;
  for (const double v : x) s += (v - m) * (v - m);
  return s / divisor;
}

double pearson(const Vector &a, const Vector &b) {
  const double ma = mean(a), mb = mean(b);
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    sab += (a[k] - ma) * (b[k] - mb);
    saa += (a[k] - ma) * (a[k] - ma);
    sbb += (b[k] - mb) * (b[k] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Row i of N rows of T.
Vector row(const Vector &x, std::size_t i, std::size_t t) {
  return {x.begin() + static_cast<std::ptrdiff_t>(i * t),
          x.begin() + static_cast<std::ptrdiff_t>((i + 1) * t)};
}

double upper_normal_quantile(double tail) {
  return boost::math::quantile(boost::math::complement(boost::math::normal(), tail));
}

// x_it = v_i f_t + u_it, v_i ~ U(0.5, 1.5) for the first round(N^a)
// cross-sections and 0 for the others; f, u ~ N(0, 1). N rows of T.
Vector factor_panel(std::mt19937_64 &rng, int n, int t, double a) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> loading(0.5, 1.5);
  Vector f(static_cast<std::size_t>(t)), x;
  for (double &v : f) v = normal(rng);
  for (int i = 0; i < n; ++i) {
    const double v = i < std::lround(std::pow(n, a)) ? loading(rng) : 0.0;
    for (const double fs : f) x.push_back(v * fs + normal(rng));
  }
  return x;
}

// Least squares of y on the columns of x (T-by-k, column-major) by the
// normal equations: the coefficients, the residuals and (X'X)^-1.
struct Fit {
  Vector b, e, inverse;
};
Fit fit(const Vector &x, const Vector &y) {
  const std::size_t t = y.size(), k = x.size() / t;
  Vector xtx(k * k, 0.0), rhs(k * (k + 1), 0.0);  // [X'y, I]
  for (std::size_t a = 0; a < k; ++a) {
    rhs[(a + 1) * k + a] = 1.0;
    for (std::size_t s = 0; s < t; ++s) {
      rhs[a] += x[a * t + s] * y[s];
      for (std::size_t b = 0; b < k; ++b) xtx[b * k + a] += x[a * t + s] * x[b * t + s];
    }
  }
  std::vector<int> pivots(k);
  int ki = static_cast<int>(k), nrhs = ki + 1, info = 0;
  dgesv_(&ki, &nrhs, xtx.data(), &ki, pivots.data(), rhs.data(), &ki, &info);
  EXPECT_EQ(info, 0);
  Fit f{{rhs.begin(), rhs.begin() + ki}, y, {rhs.begin() + ki, rhs.end()}};
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t a = 0; a < k; ++a) f.e[s] -= x[a * t + s] * f.b[a];
  return f;
}

Vector with_intercept(const Vector &v) {
  Vector x(v.size(), 1.0);
  x.insert(x.end(), v.begin(), v.end());
  return x;
}

TEST(RankTests, EqualTheirDefinitions) {
  struct Case {
    int n, t;
    bool ties;  // residuals on a coarse grid
    int gaps;   // cells made missing
  };
  const Case cases[] = {{2, 3, false, 0}, {7, 5, false, 0},  {30, 10, false, 0}, {12, 40, false, 0},
                        {25, 8, true, 0}, {9, 12, false, 5}, {60, 5, true, 1}};
  std::mt19937_64 rng(1937);
  std::normal_distribution<double> normal;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "N = " << c.n << ", T = " << c.t);
    const std::size_t n = static_cast<std::size_t>(c.n), t = static_cast<std::size_t>(c.t);
    Vector e(n * t);
    for (double &v : e) v = c.ties ? std::round(2 * normal(rng)) : normal(rng);
    for (int g = 0; g < c.gaps; ++g) e[rng() % (n * t)] = missing_value();
    std::vector<std::size_t> common;
    for (std::size_t s = 0; s < t; ++s) {
      bool all = true;
      for (std::size_t i = 0; i < n; ++i) all = all && !std::isnan(e[i * t + s]);
      if (all) common.push_back(s);
    }
    // Average ranks by counting: those below + (those equal, itself included, + 1)/2.
    std::vector<Vector> ranks(n);
    for (std::size_t i = 0; i < n; ++i)
      for (const std::size_t s : common) {
        double below = 0, equal = 0;
        for (const std::size_t u : common) {
          below += e[i * t + u] < e[i * t + s] ? 1 : 0;
          equal += e[i * t + u] == e[i * t + s] ? 1 : 0;
        }
        ranks[i].push_back(below + (equal + 1) / 2);
      }
    double sum = 0, squares = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j) {
        const double r = pearson(ranks[i], ranks[j]);
        sum += r;
        squares += r * r;
      }
    const double dn = c.n, dt = static_cast<double>(common.size()), pairs = dn * (dn - 1) / 2;
    const double fr = (dt - 1) * ((dn - 1) * sum / pairs + 1);
    const double fre = dn * (squares / pairs - 1 / (dt - 1));

    const RankTests r = rank_tests(e.data(), c.n, c.t);
    ASSERT_TRUE(r.friedman.available) << r.friedman.reason;
    EXPECT_EQ(r.friedman.periods_used, static_cast<int>(common.size()));
    EXPECT_EQ(r.frees.periods_used, static_cast<int>(common.size()));
    EXPECT_EQ(r.common_periods_only, common.size() < t);
    EXPECT_NEAR(r.friedman.statistic, fr, 1e-12 * (1 + std::fabs(fr)));
    EXPECT_NEAR(r.frees.statistic, fre, 1e-12 * dn);
    EXPECT_NEAR(r.friedman.pvalue, chi2_upper_tail(fr, dt - 1), 1e-12);
    EXPECT_NEAR(r.frees.pvalue, frees_q_upper_tail(fre, static_cast<int>(dt)), 1e-12);
    if (c.ties) continue;
    // Friedman's statistic, the periods the treatments and the
    // cross-sections the blocks: 12/(N T (T+1)) sum_t R_t^2 - 3 N (T+1).
    double rank_sums = 0;
    for (std::size_t k = 0; k < common.size(); ++k) {
      double rt = 0;
      for (const Vector &ri : ranks) rt += ri[k];
      rank_sums += rt * rt;
    }
    const double friedman = 12 / (dn * dt * (dt + 1)) * rank_sums - 3 * dn * (dt + 1);
    EXPECT_NEAR(r.friedman.statistic, friedman, 1e-10 * (1 + friedman));
  }
}

// P(Q > q) by mpmath at 50 digits, quadrature of the convolution over X1:
//   a = 4*(T+2)/(5*(T-1)**2*(T+1)); b = 2*(5*T+6)/(5*T*(T-1)*(T+1))
//   n1 = T-1; n2 = T*(T-3)/2; s = q + a*n1 + b*n2; top = s/a
//   Q = lambda k, x: mp.gammainc(k, x, mp.inf, regularized=True)
//   f1 = lambda x: mp.exp((n1/2-1)*mp.log(x) - x/2 - (n1/2)*mp.log(2) - mp.loggamma(n1/2))
//   Q(n1/2, top/2) + mp.quad(lambda x: f1(x)*Q(n2/2, (s-a*x)/(2*b)),
//                            [top*k/16 for k in range(17)])
// (T = 3: Q(n1/2, s/(2a)) alone), every figure the same to 16 digits with 32 pieces.
TEST(FreesQ, TailEqualsQuadrature) {
  struct Case {
    int t;
    double q, tail;
  };
  const Case cases[] = {
      {3, 0.5, 0.13533528323661269},      {4, 0.2, 0.25935349275610089},
      {4, 1.0, 0.03178593487220502},      {5, 0.4889, 0.10000225383591249},
      {10, -0.1, 0.67690563977606411},    {10, 0.0, 0.47000262984083541},
      {10, 0.3433, 0.049983190763334595}, {10, 2.0, 1.2591204097389474e-11},
      {30, 0.1, 0.069137847429459976},    {60, 0.05, 0.068063562743850588},
      {60, 0.5, 2.9773924711105772e-39},
  };
  for (const Case &c : cases)
    EXPECT_NEAR(frees_q_upper_tail(c.q, c.t), c.tail, 1e-13 * c.tail)
        << "T = " << c.t << ", q = " << c.q;
  EXPECT_EQ(frees_q_upper_tail(-10, 10), 1.0);
}

// Critical values against 4,000,000 draws of Q (Python's random.gammavariate,
// seed 20240601: a (2 G(n1/2) - n1) + b (2 G(n2/2) - n2), the 90, 95 and 99 %
// order statistics), whose standard errors are below 0.2 %.
TEST(FreesQ, CriticalValuesMatchSimulation) {
  struct Case {
    int t;
    double c10, c5, c1;
  };
  const Case cases[] = {{5, 0.48816, 0.68681, 1.11262},
                        {10, 0.25713, 0.34346, 0.51677},
                        {30, 0.08590, 0.11167, 0.16105}};
  for (const Case &c : cases) {
    const double simulated[] = {c.c10, c.c5, c.c1}, levels[] = {0.10, 0.05, 0.01};
    for (int k = 0; k < 3; ++k) {
      const double q = frees_q_critical_value(levels[k], c.t);
      EXPECT_NEAR(q, simulated[k], 0.01 * simulated[k]) << "T = " << c.t << " at " << levels[k];
      EXPECT_NEAR(frees_q_upper_tail(q, c.t), levels[k], 1e-12);
    }
  }
}

TEST(ResidualExponent, EqualsPairLoop) {
  struct Case {
    int n, t;
    double a, size, tuning;
    int gaps;
  };
  const Case cases[] = {{10, 30, 0.5, 0.10, 0.5, 0},
                        {40, 50, 0.75, 0.10, 0.5, 0},
                        {25, 20, 1.0, 0.05, 1.0, 0},
                        {30, 40, 0.8, 0.10, 0.25, 40}};
  std::mt19937_64 rng(2019);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "N = " << c.n << ", T = " << c.t);
    Vector e = factor_panel(rng, c.n, c.t, c.a);
    for (int g = 0; g < c.gaps; ++g) e[rng() % e.size()] = missing_value();
    const double dn = c.n, tail = c.size / 2 / std::pow(dn * (dn - 1) / 2, c.tuning);
    const std::size_t t = static_cast<std::size_t>(c.t);
    double count = 0;  // over i != j
    for (std::size_t i = 0; i < e.size() / t; ++i)
      for (std::size_t j = 0; j < e.size() / t; ++j) {
        Vector a, b;
        for (std::size_t s = 0; s < t; ++s)
          if (!std::isnan(e[i * t + s]) && !std::isnan(e[j * t + s]))
            a.push_back(e[i * t + s]), b.push_back(e[j * t + s]);
        const double threshold = upper_normal_quantile(tail) / std::sqrt(a.size());
        count += i != j && std::fabs(pearson(a, b)) > threshold ? 1 : 0;
      }
    const ResidualExponent r = residual_exponent(e.data(), c.n, c.t, {c.size, c.tuning, 20, 7});
    ASSERT_TRUE(r.available) << r.reason;
    EXPECT_EQ(2 * r.nonzero_pairs, static_cast<long>(count));
    EXPECT_NEAR(r.alpha, std::log(dn + count) / (2 * std::log(dn)), 1e-14);
    EXPECT_LE(r.quantile_2_5, r.quantile_97_5);
  }
}

TEST(ResidualExponent, BootstrapIsSeededAndKeepsCopiesApart) {
  std::mt19937_64 rng(5);
  const Vector e = factor_panel(rng, 30, 40, 0.8);
  const ResidualExponent one = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 50, 11});
  const ResidualExponent again = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 50, 11});
  EXPECT_EQ(one.quantile_2_5, again.quantile_2_5);
  EXPECT_EQ(one.quantile_97_5, again.quantile_97_5);
  EXPECT_GT(one.bootstrap_standard_error, 0);
  // No correlation declared non-zero: every draw, copies or not, gives 1/2.
  PairTable none;
  none.sections = 8;
  none.periods = 10;
  none.correlations = host::OwnedArray<double>(packed_cells(8));
  for (std::size_t k = 0; k < packed_cells(8); ++k) none.correlations[k] = 0.01;
  const ResidualExponent half = residual_exponent(none, {0.1, 0.5, 30, 3});
  EXPECT_DOUBLE_EQ(half.alpha, 0.5);
  EXPECT_DOUBLE_EQ(half.quantile_2_5, 0.5);
  EXPECT_DOUBLE_EQ(half.quantile_97_5, 0.5);
}

TEST(VariableExponent, EqualsItsSteps) {
  struct Case {
    int n, t;
    double a;
    int components;
  };
  const Case cases[] = {{12, 30, 1.0, 4}, {25, 40, 0.75, 4}, {40, 20, 1.0, 3}, {15, 60, 0.9, 2}};
  std::mt19937_64 rng(2016);
  const double p = 0.10;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "N = " << c.n << ", T = " << c.t);
    const Vector raw = factor_panel(rng, c.n, c.t, c.a);
    const std::size_t n = static_cast<std::size_t>(c.n), t = static_cast<std::size_t>(c.t);
    const double dn = c.n, dt = c.t, log_n = std::log(dn);
    Vector x(raw), xbar(t, 0.0);  // x: T-by-N, the series centred as columns
    for (std::size_t i = 0; i < n; ++i) {
      const double m = mean(row(raw, i, t));
      for (std::size_t s = 0; s < t; ++s) xbar[s] += (x[i * t + s] -= m) / dn;
    }
    const double sigma2 = variance(xbar, dt - 1);
    const double alpha_hat = 1 + std::log(sigma2) / (2 * log_n);
    // The principal components: X's leading left singular vectors.
    Vector a(x), u(t * std::min(n, t)), vt(1), sv(std::min(n, t)), work(1);
    int ti = c.t, ni = c.n, one = 1, lwork = -1, info = 0;
    auto svd = [&] {
      dgesvd_("S", "N", &ti, &ni, a.data(), &ti, sv.data(), u.data(), &ti, vt.data(), &one,
              work.data(), &lwork, &info, 1, 1);
    };
    svd();  // the work array's size
    lwork = static_cast<int>(work[0]);
    work.resize(static_cast<std::size_t>(lwork));
    svd();
    ASSERT_EQ(info, 0);
    const Vector f(u.begin(), u.begin() + c.t * c.components);
    Vector ubar(t, 0.0);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t k = 0; k < t; ++k) ubar[k] += fit(f, row(x, i, t)).e[k] / dn;
    const double c_n = dn * variance(ubar, dt - 1);
    const double alpha_tilde = alpha_hat - c_n / (2 * dn * log_n * sigma2);
    // The slopes' t-statistics on (1, xbar), the multiple test, mu^2.
    std::vector<std::pair<double, std::size_t>> ts;
    for (std::size_t i = 0; i < n; ++i) {
      const Fit r = fit(with_intercept(xbar), row(x, i, t));
      ts.push_back({std::fabs(r.b[1]) / std::sqrt(variance(r.e, dt - 2) * r.inverse[3]), i});
    }
    std::stable_sort(ts.begin(), ts.end(), [](auto l, auto r) { return l.first > r.first; });
    Vector chosen(t, 0.0);
    int significant = 0;
    for (std::size_t j = 1; j <= n; ++j) {
      if (ts[j - 1].first < upper_normal_quantile(p / (2 * (dn - static_cast<double>(j) + 1))))
        continue;
      ++significant;
      for (std::size_t k = 0; k < t; ++k) chosen[k] += x[ts[j - 1].second * t + k];
    }
    ASSERT_GT(significant, 0);
    for (double &v : chosen) v /= significant;
    const double alpha = alpha_tilde - std::log(variance(chosen, dt)) / (2 * log_n);
    // The standard error: an AR(q) of z^2, the largest slopes on (1, z).
    Vector z(t), w(t);
    for (std::size_t k = 0; k < t; ++k) {
      z[k] = (xbar[k] - mean(xbar)) / std::sqrt(sigma2);
      w[k] = z[k] * z[k];
    }
    std::size_t q = 1;
    while (q * q * q < t) ++q;
    Vector lags(t - q, 1.0);
    for (std::size_t l = 1; l <= q; ++l)
      for (std::size_t k = q; k < t; ++k) lags.push_back(w[k - l]);
    const Fit ar = fit(lags, {w.begin() + static_cast<std::ptrdiff_t>(q), w.end()});
    double phi = 0;
    for (std::size_t l = 1; l <= q; ++l) phi += ar.b[l];
    const double v = variance(ar.e, static_cast<double>(t - 2 * q - 1)) / ((1 - phi) * (1 - phi));
    Vector slopes;
    for (std::size_t i = 0; i < n; ++i) slopes.push_back(fit(with_intercept(z), row(x, i, t)).b[1]);
    std::stable_sort(slopes.begin(), slopes.end(),
                     [](double l, double r) { return std::fabs(l) > std::fabs(r); });
    const long m = std::min<long>(std::lround(std::pow(dn, alpha)), c.n);
    const double big_s = variance({slopes.begin(), slopes.begin() + m}, static_cast<double>(m - 1));
    const double mu2 = variance(chosen, dt);
    const double se = std::sqrt(v / dt + 4 * std::pow(dn, -alpha) * big_s / mu2) / (2 * log_n);

    const VariableExponent r = variable_exponent(raw.data(), c.n, c.t, {p, c.components});
    ASSERT_TRUE(r.available) << r.reason;
    EXPECT_NEAR(r.alpha_hat, alpha_hat, 1e-10);
    EXPECT_NEAR(r.c_n, c_n, 1e-10 * c_n);
    EXPECT_NEAR(r.alpha_tilde, alpha_tilde, 1e-10);
    EXPECT_EQ(r.significant, significant);
    EXPECT_NEAR(r.alpha, alpha, 1e-10);
    EXPECT_EQ(r.ar_order, static_cast<int>(q));
    EXPECT_EQ(r.largest_slopes, m);
    EXPECT_NEAR(r.standard_error, se, 1e-10);
    // alpha and its standard error are free of the variable's units.
    Vector scaled(raw);
    for (double &value : scaled) value *= 1000;
    const VariableExponent in_thousandths =
        variable_exponent(scaled.data(), c.n, c.t, {p, c.components});
    EXPECT_NEAR(in_thousandths.alpha, r.alpha, 1e-10);
    EXPECT_NEAR(in_thousandths.standard_error, r.standard_error, 1e-10);
  }
}

TEST(Strength, NotAvailable) {
  const double m = missing_value();
  std::mt19937_64 rng(4);
  Vector gap = factor_panel(rng, 6, 8, 1.0);
  gap[13] = m;
  const Vector flat(6 * 8, 1.0), short_panel = factor_panel(rng, 3, 2, 1.0);
  const Vector few = {1, 2, m, 4, 5, m, 7, 8}, tied = {1, 2, 3, 5, 5, 5};
  struct Case {
    const Vector *x;
    int n, t;
  };
  for (const Case &c : {Case{&flat, 1, 8}, Case{&few, 2, 4}, Case{&tied, 2, 3}}) {
    const RankTests r = rank_tests(c.x->data(), c.n, c.t);
    EXPECT_FALSE(r.friedman.available || r.frees.available) << r.friedman.reason;
    EXPECT_TRUE(std::isnan(r.frees.statistic));
  }
  for (const Case &c : {Case{&gap, 6, 8}, Case{&flat, 6, 8}, Case{&short_panel, 3, 2}}) {
    const VariableExponent r = variable_exponent(c.x->data(), c.n, c.t, {0.1, 1});
    EXPECT_FALSE(r.available || r.reason.empty());
    EXPECT_TRUE(std::isnan(r.alpha));
  }
  EXPECT_FALSE(residual_exponent(flat.data(), 1, 8).available);
}

TEST(Strength, RefusesBadOptions) {
  std::mt19937_64 rng(3);
  const Vector e = factor_panel(rng, 10, 12, 1.0);
  const double nan = std::nan("");
  const ResidualExponentOptions residual_cases[] = {
      {0.0, 0.5, 10, 1}, {1.0, 0.5, 10, 1},  {-0.1, 0.5, 10, 1}, {nan, 0.5, 10, 1},
      {0.1, 0.0, 10, 1}, {0.1, 1.01, 10, 1}, {0.1, nan, 10, 1},  {0.1, -0.5, 10, 1},
      {0.1, 0.5, -3, 1}};
  for (const ResidualExponentOptions &o : residual_cases)
    EXPECT_THROW(residual_exponent(e.data(), 10, 12, o), InputError)
        << o.size << " " << o.tuning << " " << o.draws;
  EXPECT_TRUE(residual_exponent(e.data(), 10, 12, {0.1, 1.0, 1, 1}).available);
  const VariableExponentOptions variable_cases[] = {{0.0, 4}, {1.0, 4},  {nan, 4},
                                                    {0.1, 0}, {0.1, -1}, {0.1, 10}};
  for (const VariableExponentOptions &o : variable_cases)
    EXPECT_THROW(variable_exponent(e.data(), 10, 12, o), InputError)
        << o.size << " " << o.components;
  EXPECT_THROW(frees_q_upper_tail(0.1, 2), InputError);
  for (const double level : {0.0, 1.0, -0.5, nan})
    EXPECT_THROW(frees_q_critical_value(level, 10), InputError) << level;
}

}  // namespace
}  // namespace qvd::analysis
