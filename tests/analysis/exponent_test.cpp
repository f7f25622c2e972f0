// The exponents of cross-sectional dependence against straightforward
// implementations of their steps: explicit pair loops for the residuals'
// alpha~; for the variable's alpha, the principal components by a singular
// value decomposition (LAPACK dgesvd, not the library's eigenvectors) and
// every regression by its normal equations (dgesv), with Boost's normal
// quantile; and the options each refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/residual_exponent.h"
#include "analysis/stats/variable_exponent.h"
#include "support/lapack.h"

namespace qvd::analysis {
namespace {

using Matrix = std::vector<double>;  // column-major

double upper_normal_quantile(double tail) {
  return boost::math::quantile(boost::math::complement(boost::math::normal(), tail));
}

// x_it = v_i f_t + u_it, v_i ~ U(0.5, 1.5) for the first round(N^a)
// cross-sections and 0 for the others; f, u ~ N(0, 1). N rows of T.
std::vector<double> factor_panel(std::mt19937_64 &rng, int n, int t, double a) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> loading(0.5, 1.5);
  std::vector<double> f(static_cast<std::size_t>(t)), x;
  for (double &v : f) v = normal(rng);
  const long strong = std::lround(std::pow(n, a));
  for (int i = 0; i < n; ++i) {
    const double v = i < strong ? loading(rng) : 0.0;
    for (int s = 0; s < t; ++s) x.push_back(v * f[static_cast<std::size_t>(s)] + normal(rng));
  }
  return x;
}

double mean(const std::vector<double> &x) {
  double s = 0;
  for (const double v : x) s += v;
  return s / static_cast<double>(x.size());
}

double variance(const std::vector<double> &x, double divisor) {
  const double m = mean(x);
  double s = 0;
  for (const double v : x) s += (v - m) * (v - m);
  return s / divisor;
}

// Least squares of y on the columns of x (T-by-k) by the normal equations:
// the coefficients, the residuals and (X'X)^-1.
struct Fit {
  std::vector<double> b, e;
  Matrix inverse;
};
Fit fit(const Matrix &x, const std::vector<double> &y) {
  const int t = static_cast<int>(y.size()), k = static_cast<int>(x.size() / y.size());
  const std::size_t ks = static_cast<std::size_t>(k);
  Matrix xtx(ks * ks, 0.0), rhs(ks * (ks + 1), 0.0);  // [X'y, I]
  for (std::size_t a = 0; a < ks; ++a) {
    for (int s = 0; s < t; ++s) rhs[a] += x[a * y.size() + s] * y[s];
    rhs[(a + 1) * ks + a] = 1.0;
    for (std::size_t b = 0; b < ks; ++b)
      for (int s = 0; s < t; ++s) xtx[b * ks + a] += x[a * y.size() + s] * x[b * y.size() + s];
  }
  std::vector<int> pivots(ks);
  int info = 0, nrhs = k + 1;
  dgesv_(&k, &nrhs, xtx.data(), &k, pivots.data(), rhs.data(), &k, &info);
  EXPECT_EQ(info, 0);
  Fit f{{rhs.begin(), rhs.begin() + k}, y, {rhs.begin() + k, rhs.end()}};
  for (int s = 0; s < t; ++s)
    for (std::size_t a = 0; a < ks; ++a) f.e[s] -= x[a * y.size() + s] * f.b[a];
  return f;
}

// [1, v], T-by-2.
Matrix with_intercept(const std::vector<double> &v) {
  Matrix x(v.size(), 1.0);
  x.insert(x.end(), v.begin(), v.end());
  return x;
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
    std::vector<double> e = factor_panel(rng, c.n, c.t, c.a);
    for (int g = 0; g < c.gaps; ++g) e[rng() % e.size()] = missing_value();
    const double dn = c.n, tail = c.size / 2 / std::pow(dn * (dn - 1) / 2, c.tuning);
    double count = 0;  // over i != j
    for (int i = 0; i < c.n; ++i)
      for (int j = 0; j < c.n; ++j) {
        if (i == j) continue;
        std::vector<double> a, b;
        for (int s = 0; s < c.t; ++s) {
          const double x = e[static_cast<std::size_t>(i * c.t + s)],
                       y = e[static_cast<std::size_t>(j * c.t + s)];
          if (!std::isnan(x) && !std::isnan(y)) a.push_back(x), b.push_back(y);
        }
        const double ma = mean(a), mb = mean(b);
        double sab = 0, saa = 0, sbb = 0;
        for (std::size_t k = 0; k < a.size(); ++k) {
          sab += (a[k] - ma) * (b[k] - mb);
          saa += (a[k] - ma) * (a[k] - ma);
          sbb += (b[k] - mb) * (b[k] - mb);
        }
        const double rho = sab / std::sqrt(saa * sbb);
        count += std::fabs(rho) > upper_normal_quantile(tail) / std::sqrt(a.size()) ? 1 : 0;
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
  const std::vector<double> e = factor_panel(rng, 30, 40, 0.8);
  const ResidualExponent one = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 50, 11});
  const ResidualExponent again = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 50, 11});
  const ResidualExponent other = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 50, 12});
  EXPECT_EQ(one.quantile_2_5, again.quantile_2_5);
  EXPECT_EQ(one.quantile_97_5, again.quantile_97_5);
  EXPECT_EQ(one.bootstrap_standard_error, again.bootstrap_standard_error);
  EXPECT_NE(one.bootstrap_standard_error, other.bootstrap_standard_error);
  const ResidualExponent single = residual_exponent(e.data(), 30, 40, {0.1, 0.5, 1, 11});
  EXPECT_EQ(single.quantile_2_5, single.quantile_97_5);
  EXPECT_TRUE(std::isnan(single.bootstrap_standard_error));

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
    const std::vector<double> raw = factor_panel(rng, c.n, c.t, c.a);
    const std::size_t n = static_cast<std::size_t>(c.n), t = static_cast<std::size_t>(c.t);
    const double dn = c.n, dt = c.t, log_n = std::log(dn);
    Matrix x(raw);  // T-by-N: the series centred, as columns
    std::vector<double> xbar(t, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const double m = mean({raw.begin() + i * t, raw.begin() + (i + 1) * t});
      for (std::size_t s = 0; s < t; ++s) xbar[s] += (x[i * t + s] -= m) / dn;
    }
    const double sigma2 = variance(xbar, dt - 1);
    const double alpha_hat = 1 + std::log(sigma2) / (2 * log_n);
    // Principal components: the leading left singular vectors of X.
    Matrix a(x), u(t * std::min(n, t)), vt(1), s(std::min(n, t));
    const int ti = c.t, ni = c.n, ldvt = 1;
    int lwork = -1, info = 0;
    double query = 0;
    dgesvd_("S", "N", &ti, &ni, a.data(), &ti, s.data(), u.data(), &ti, vt.data(), &ldvt, &query,
            &lwork, &info, 1, 1);
    lwork = static_cast<int>(query);
    std::vector<double> work(static_cast<std::size_t>(lwork));
    dgesvd_("S", "N", &ti, &ni, a.data(), &ti, s.data(), u.data(), &ti, vt.data(), &ldvt,
            work.data(), &lwork, &info, 1, 1);
    ASSERT_EQ(info, 0);
    const Matrix f(u.begin(), u.begin() + static_cast<std::ptrdiff_t>(t) * c.components);
    std::vector<double> ubar(t, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const Fit r = fit(f, {x.begin() + i * t, x.begin() + (i + 1) * t});
      for (std::size_t k = 0; k < t; ++k) ubar[k] += r.e[k] / dn;
    }
    const double c_n = dn * variance(ubar, dt - 1);
    const double alpha_tilde = alpha_hat - c_n / (2 * dn * log_n * sigma2);
    // The t-statistics of x_i on (1, xbar), the multiple test, mu^2.
    std::vector<std::pair<double, std::size_t>> ts;
    for (std::size_t i = 0; i < n; ++i) {
      const Fit r = fit(with_intercept(xbar), {x.begin() + i * t, x.begin() + (i + 1) * t});
      double rss = 0;
      for (const double e : r.e) rss += e * e;
      ts.push_back({std::fabs(r.b[1]) / std::sqrt(rss / (dt - 2) * r.inverse[3]), i});
    }
    std::stable_sort(ts.begin(), ts.end(), [](auto l, auto r) { return l.first > r.first; });
    std::vector<double> chosen(t, 0.0);
    int significant = 0;
    for (std::size_t j = 1; j <= n; ++j)
      if (ts[j - 1].first >= upper_normal_quantile(p / (2 * (dn - static_cast<double>(j) + 1)))) {
        ++significant;
        for (std::size_t k = 0; k < t; ++k) chosen[k] += x[ts[j - 1].second * t + k];
      }
    ASSERT_GT(significant, 0);
    for (double &v : chosen) v /= significant;
    const double alpha = alpha_tilde - std::log(variance(chosen, dt)) / (2 * log_n);
    // The standard error.
    std::vector<double> z(t), w(t);
    for (std::size_t k = 0; k < t; ++k) {
      z[k] = (xbar[k] - mean(xbar)) / std::sqrt(sigma2);
      w[k] = z[k] * z[k];
    }
    std::size_t q = 1;
    while (q * q * q < t) ++q;
    Matrix lags(t - q, 1.0);
    for (std::size_t l = 1; l <= q; ++l)
      for (std::size_t k = q; k < t; ++k) lags.push_back(w[k - l]);
    const Fit ar = fit(lags, {w.begin() + static_cast<std::ptrdiff_t>(q), w.end()});
    double rss = 0, phi = 0;
    for (const double e : ar.e) rss += e * e;
    for (std::size_t l = 1; l <= q; ++l) phi += ar.b[l];
    const double v = rss / static_cast<double>(t - 2 * q - 1) / ((1 - phi) * (1 - phi));
    std::vector<double> slopes;
    for (std::size_t i = 0; i < n; ++i)
      slopes.push_back(fit(with_intercept(z), {x.begin() + i * t, x.begin() + (i + 1) * t}).b[1]);
    std::stable_sort(slopes.begin(), slopes.end(),
                     [](double l, double r) { return std::fabs(l) > std::fabs(r); });
    const long m = std::min<long>(std::lround(std::pow(dn, alpha)), c.n);
    const double big_s = variance({slopes.begin(), slopes.begin() + m}, static_cast<double>(m - 1));
    const double se = std::sqrt(v / dt + 4 * std::pow(dn, -alpha) * big_s) / (2 * log_n);

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
  }
}

TEST(Exponents, RefuseBadOptions) {
  std::mt19937_64 rng(3);
  const std::vector<double> e = factor_panel(rng, 10, 12, 1.0);
  const double nan = std::nan("");
  const ResidualExponentOptions residual_cases[] = {
      {0.0, 0.5, 10, 1}, {1.0, 0.5, 10, 1},  {-0.1, 0.5, 10, 1}, {nan, 0.5, 10, 1},
      {0.1, 0.0, 10, 1}, {0.1, 1.01, 10, 1}, {0.1, nan, 10, 1},  {0.1, -0.5, 10, 1},
      {0.1, 0.5, 0, 1},  {0.1, 0.5, -3, 1}};
  for (const ResidualExponentOptions &o : residual_cases)
    EXPECT_THROW(residual_exponent(e.data(), 10, 12, o), InputError)
        << o.size << " " << o.tuning << " " << o.draws;
  EXPECT_TRUE(residual_exponent(e.data(), 10, 12, {0.1, 1.0, 1, 1}).available);
  const VariableExponentOptions variable_cases[] = {{0.0, 4}, {1.0, 4},  {nan, 4},
                                                    {0.1, 0}, {0.1, -1}, {0.1, 10}};
  for (const VariableExponentOptions &o : variable_cases)
    EXPECT_THROW(variable_exponent(e.data(), 10, 12, o), InputError)
        << o.size << " " << o.components;
}

}  // namespace
}  // namespace qvd::analysis
