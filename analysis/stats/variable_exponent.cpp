#include "analysis/stats/variable_exponent.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/stats/principal_components.h"
#include "analysis/stats/tail_probability.h"
#include "qvdep.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/linalg/lapack_routines.h"
#endif

namespace qvd::analysis {
namespace {

VariableExponent refused(std::string reason) {
  VariableExponent r;
  r.reason = std::move(reason);
  r.alpha = r.standard_error = r.alpha_hat = r.alpha_tilde = kNaN;
  r.variance_of_average = r.c_n = r.mu_squared = r.long_run_variance = r.slope_variance = kNaN;
  return r;
}

#ifdef QVDEP_HAVE_LAPACK
double mean_of(const double *x, std::size_t t) {
  double sum = 0;
  for (std::size_t s = 0; s < t; ++s) sum += x[s];
  return sum / static_cast<double>(t);
}

// sum (x - mean)^2 / divisor.
double variance_of(const double *x, std::size_t t, double divisor) {
  const double m = mean_of(x, t);
  double square = 0;
  for (std::size_t s = 0; s < t; ++s) square += (x[s] - m) * (x[s] - m);
  return square / divisor;
}

// The slope of y on (1, x) and its t-statistic, for x centred (`dx`) with
// sum dx^2 = `sxx`. The t-statistic is infinite for an exact fit.
struct Slope {
  double slope, t;
};
Slope slope_of(const double *y, const std::vector<double> &dx, double sxx) {
  const std::size_t t = dx.size();
  const double my = mean_of(y, t);
  double sxy = 0;
  for (std::size_t s = 0; s < t; ++s) sxy += dx[s] * (y[s] - my);
  const double b = sxy / sxx;
  double rss = 0;
  for (std::size_t s = 0; s < t; ++s) {
    const double e = y[s] - my - b * dx[s];
    rss += e * e;
  }
  const double se = std::sqrt(rss / static_cast<double>(t - 2) / sxx);
  return {b, b / se};
}

// The smallest q with q^3 >= T.
int cube_root_up(std::size_t t) {
  int q = 0;
  while (static_cast<std::size_t>(q) * static_cast<std::size_t>(q) * static_cast<std::size_t>(q) <
         t)
    ++q;
  return q;
}

// 2. c_N = N var(ubar), ubar = (I - F F') xbar: the average of the
// residuals on the orthonormal components F (T-by-p) is the residual of the
// average.
double c_n_of(const std::vector<double> &xbar, const WorkVector<double> &f, std::size_t n,
              std::size_t p) {
  const std::size_t t = xbar.size();
  std::vector<double> ubar(xbar);
  for (std::size_t l = 0; l < p; ++l) {
    const double *component = &f[l * t];
    double loading = 0;
    for (std::size_t s = 0; s < t; ++s) loading += component[s] * xbar[s];
    for (std::size_t s = 0; s < t; ++s) ubar[s] -= loading * component[s];
  }
  return static_cast<double>(n) * variance_of(ubar.data(), t, static_cast<double>(t - 1));
}

// 4. V of an AR(q) with intercept fitted to w by least squares (dgels), or
// NaN when T - q observations leave it no degree of freedom.
double long_run_variance(const std::vector<double> &w, int q) {
  const std::size_t t = w.size(), qs = static_cast<std::size_t>(q);
  if (t <= 2 * qs + 1) return kNaN;
  const std::size_t rows = t - qs, cols = qs + 1;
  WorkVector<double> x(rows * cols), y(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    x[r] = 1.0;
    for (std::size_t k = 1; k <= qs; ++k) x[k * rows + r] = w[qs + r - k];
    y[r] = w[qs + r];
  }
  const lapack_int m = static_cast<lapack_int>(rows), kx = static_cast<lapack_int>(cols), one = 1;
  lapack_int lwork = -1, info = 0;
  double query = 0;
  call_lapack<qvdep_dgels>("N", &m, &kx, &one, x.data(), &m, y.data(), &m, &query, &lwork, &info,
                           1);
  lwork = std::max<lapack_int>(1, static_cast<lapack_int>(query));
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  call_lapack<qvdep_dgels>("N", &m, &kx, &one, x.data(), &m, y.data(), &m, work.data(), &lwork,
                           &info, 1);
  if (info != 0) return kNaN;
  double coefficients = 0, rss = 0;
  for (std::size_t k = 1; k <= qs; ++k) coefficients += y[k];
  for (std::size_t r = cols; r < rows; ++r) rss += y[r] * y[r];  // dgels leaves Q'y's residual part
  const double s2 = rss / static_cast<double>(rows - cols);
  return s2 / ((1 - coefficients) * (1 - coefficients));
}
#endif

}  // namespace

VariableExponent variable_exponent(const double *series, int sections, int periods,
                                   const VariableExponentOptions &options) {
  if (!(options.size > 0 && options.size < 1))
    throw InputError("the size of the exponent's multiple test must be in (0, 1), not " +
                     std::to_string(options.size));
  if (options.components <= 0 || options.components >= std::min(sections, periods))
    throw InputError("the exponent needs between 1 and min(N, T) - 1 = " +
                     std::to_string(std::min(sections, periods) - 1) +
                     " principal components, not " + std::to_string(options.components));
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  for (std::size_t c = 0; c < n * t; ++c)
    if (qvdep_is_missing(series[c])) return refused("the panel is unbalanced");
  if (t < 3) return refused("the exponent needs 3 or more periods, for the slopes' t-statistics");
#ifndef QVDEP_HAVE_LAPACK
  return refused("built without LAPACK");
#else
  const double dn = static_cast<double>(n), dt = static_cast<double>(t), log_n = std::log(dn);
  WorkVector<double> x(series, series + n * t);
  std::vector<double> xbar(t, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    double *row = &x[i * t];
    const double m = mean_of(row, t);
    for (std::size_t s = 0; s < t; ++s) {
      row[s] -= m;
      xbar[s] += row[s];
    }
  }
  for (double &v : xbar) v /= dn;

  // 1.
  VariableExponent r;
  r.variance_of_average = variance_of(xbar.data(), t, dt - 1);
  if (!(r.variance_of_average > 0)) return refused("the cross-sectional average does not vary");
  r.alpha_hat = 1 + std::log(r.variance_of_average) / (2 * log_n);
  // 2.
  const std::size_t p = static_cast<std::size_t>(options.components);
  WorkVector<double> f;
  if (std::string why = leading_components(x, n, t, p, f); !why.empty())
    return refused(std::move(why));
  r.c_n = c_n_of(xbar, f, n, p);
  r.alpha_tilde = r.alpha_hat - r.c_n / (2 * dn * log_n * r.variance_of_average);
  // 3.
  const double m_bar = mean_of(xbar.data(), t);
  std::vector<double> dx(t);
  double sxx = 0;
  for (std::size_t s = 0; s < t; ++s) {
    dx[s] = xbar[s] - m_bar;
    sxx += dx[s] * dx[s];
  }
  std::vector<std::pair<double, std::size_t> > by_t(n);  // |t_i|, i
  for (std::size_t i = 0; i < n; ++i) by_t[i] = {std::fabs(slope_of(&x[i * t], dx, sxx).t), i};
  std::stable_sort(by_t.begin(), by_t.end(),
                   [](const auto &a, const auto &b) { return a.first > b.first; });
  std::vector<double> chosen(t, 0.0);
  for (std::size_t j = 1; j <= n; ++j) {
    const auto &[size, i] = by_t[j - 1];
    const double threshold =
        normal_upper_quantile(options.size / (2 * static_cast<double>(n - j + 1)));
    if (!(size >= threshold)) continue;
    ++r.significant;
    for (std::size_t s = 0; s < t; ++s) chosen[s] += x[i * t + s];
  }
  if (r.significant == 0)
    return refused("no series loads significantly on the cross-sectional average");
  for (double &v : chosen) v /= r.significant;
  r.mu_squared = variance_of(chosen.data(), t, dt);
  if (!(r.mu_squared > 0)) return refused("the average of the significant series does not vary");
  r.alpha = r.alpha_tilde - std::log(r.mu_squared) / (2 * log_n);
  r.available = true;
  // 4.
  const double sigma = std::sqrt(r.variance_of_average);
  std::vector<double> z(t), w(t);
  for (std::size_t s = 0; s < t; ++s) {
    z[s] = dx[s] / sigma;
    w[s] = z[s] * z[s];
  }
  r.ar_order = cube_root_up(t);
  r.long_run_variance = long_run_variance(w, r.ar_order);
  const double m_z = mean_of(z.data(), t);
  double szz = 0;
  for (double &v : z) {
    v -= m_z;
    szz += v * v;
  }
  std::vector<double> slopes(n);
  for (std::size_t i = 0; i < n; ++i) slopes[i] = slope_of(&x[i * t], z, szz).slope;
  std::stable_sort(slopes.begin(), slopes.end(),
                   [](double a, double b) { return std::fabs(a) > std::fabs(b); });
  r.largest_slopes = static_cast<int>(std::min<long>(std::lround(std::pow(dn, r.alpha)), sections));
  r.slope_variance = r.largest_slopes >= 2
                         ? variance_of(slopes.data(), static_cast<std::size_t>(r.largest_slopes),
                                       r.largest_slopes - 1.0)
                         : kNaN;
  if (std::isnan(r.long_run_variance)) {
    r.standard_error = kNaN;
    r.standard_error_reason = "T = " + std::to_string(t) + " is too short for an AR(" +
                              std::to_string(r.ar_order) + ") with an intercept";
  } else if (std::isnan(r.slope_variance)) {
    r.standard_error = kNaN;
    r.standard_error_reason = "round(N^alpha) = " + std::to_string(r.largest_slopes) +
                              " leaves fewer than 2 slopes for their variance";
  } else {
    r.standard_error =
        std::sqrt(r.long_run_variance / dt +
                  4 * std::pow(dn, -r.alpha) * r.slope_variance / r.mu_squared) /
        (2 * log_n);
  }
  return r;
#endif
}

}  // namespace qvd::analysis
