#include "analysis/bias_adjusted_lm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "qvdep.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/lapack_routines.h"
#endif

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

BiasAdjustedLm refused(std::string reason) {
  return {false, std::move(reason), kNaN, kNaN};
}

#ifdef QVDEP_HAVE_LAPACK

// A column of X_i whose distance from the span of the columns before it is
// below this fraction of its length makes X_i rank-deficient.
constexpr double kRankTolerance = 1e-10;
// A band of Q'Q holds about this many doubles (32 MB), at least one
// cross-section's rows.
constexpr std::size_t kBandDoubles = std::size_t{1} << 22;

// Orthonormal bases of every X_i, stacked: T rows, N k columns, column-major.
// Returns the first rank-deficient cross-section, or -1.
long stacked_bases(const host::Panel &panel, bool intercept, std::vector<double> &q) {
  const int t = panel.periods, kx = panel.regressors, k = kx + (intercept ? 1 : 0);
  const std::size_t ts = static_cast<std::size_t>(t), ks = static_cast<std::size_t>(k);
  q.assign(ts * ks * static_cast<std::size_t>(panel.sections), 0.0);
  std::vector<double> tau(ks), norms(ks);
  int lwork = -1, info = 0;
  double query = 0;
  dgeqrf_(&t, &k, q.data(), &t, tau.data(), &query, &lwork, &info);
  double query2 = 0;
  dorgqr_(&t, &k, &k, q.data(), &t, tau.data(), &query2, &lwork, &info);
  lwork = std::max({static_cast<int>(query), static_cast<int>(query2), k, 1});
  std::vector<double> work(static_cast<std::size_t>(lwork));
  for (int i = 0; i < panel.sections; ++i) {
    double *a = q.data() + static_cast<std::size_t>(i) * ts * ks;
    const double *rows = panel.values.data() + static_cast<std::size_t>(i) * ts * (kx + 1);
    for (std::size_t s = 0; s < ts; ++s) {
      std::size_t c = 0;
      if (intercept) a[c++ * ts + s] = 1.0;
      for (int v = 0; v < kx; ++v) a[c++ * ts + s] = rows[s * (kx + 1) + v];
    }
    for (std::size_t c = 0; c < ks; ++c) {
      double sum = 0;
      for (std::size_t s = 0; s < ts; ++s) sum += a[c * ts + s] * a[c * ts + s];
      norms[c] = std::sqrt(sum);
    }
    dgeqrf_(&t, &k, a, &t, tau.data(), work.data(), &lwork, &info);
    for (std::size_t c = 0; c < ks; ++c)
      if (!(std::fabs(a[c * ts + c]) > kRankTolerance * norms[c])) return i;
    dorgqr_(&t, &k, &k, a, &t, tau.data(), work.data(), &lwork, &info);
  }
  return -1;
}

#endif

}  // namespace

BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs) {
  const int n = panel.sections, t = panel.periods;
  const int k = panel.regressors + (intercept ? 1 : 0);
  if (n < 2) return refused("fewer than two cross-sections");
  if (restrictions > 0) return refused("restrictions change the residual projections");
  if (t - k <= 4) return refused("T - k = " + std::to_string(t - k) + " (needs more than 4)");
  for (const double v : panel.values)
    if (qvdep_is_missing(v)) return refused("the panel is unbalanced");
  const std::size_t ns = static_cast<std::size_t>(n);
  if (pairs.sections != n) return refused("the pair table is of another panel");
  for (std::size_t i = 0; i < ns; ++i)
    for (std::size_t j = i + 1; j < ns; ++j)
      if (std::isnan(pairs.correlations[i * ns + j]))
        return refused("a pair of cross-sections could not be correlated");
#ifndef QVDEP_HAVE_LAPACK
  return refused("built without LAPACK");
#else
  std::vector<double> q;
  const long deficient = stacked_bases(panel, intercept, q);
  if (deficient >= 0)
    return refused("the regressors of cross-section " + std::to_string(deficient + 1) +
                   " are linearly dependent");

  const double dof = t - k;
  const double ratio = ((dof - 8) * (dof + 2) + 24) / ((dof + 2) * (dof - 2) * (dof - 4));
  const double a2 = 3.0 * ratio * ratio;
  const double a1 = a2 - 1.0 / (dof * dof);
  const double base = t - 2.0 * k;

  const std::size_t ts = static_cast<std::size_t>(t), ks = static_cast<std::size_t>(k);
  const int cols = n * k;
  const std::size_t band_sections =
      std::max<std::size_t>(1, kBandDoubles / (ks * static_cast<std::size_t>(cols)));
  std::vector<double> band;
  double sum = 0;
  for (std::size_t b0 = 0; b0 < ns; b0 += band_sections) {
    const std::size_t b1 = std::min(ns, b0 + band_sections);
    // G = Q_band' Q_{b0..N-1}: rows (i - b0) k + a, columns (j - b0) k + c.
    const int rows = static_cast<int>((b1 - b0) * ks);
    const int width = cols - static_cast<int>(b0 * ks);
    band.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(width));
    const double one = 1.0, zero = 0.0;
    const double *qb = q.data() + b0 * ks * ts;
    dgemm_("T", "N", &rows, &width, &t, &one, qb, &t, qb, &t, &zero, band.data(), &rows, 1, 1);
    for (std::size_t i = b0; i < b1; ++i)
      for (std::size_t j = i + 1; j < ns; ++j) {
        // C = Q_i'Q_j; ||C||_F^2 and ||C'C||_F^2.
        const double *c = band.data() + (j - b0) * ks * static_cast<std::size_t>(rows) + (i - b0) * ks;
        const std::size_t ld = static_cast<std::size_t>(rows);
        double f2 = 0, f4 = 0;
        for (std::size_t u = 0; u < ks; ++u)
          for (std::size_t v = 0; v < ks; ++v) {
            double s = 0;  // (C'C)_uv
            for (std::size_t r = 0; r < ks; ++r) s += c[u * ld + r] * c[v * ld + r];
            f4 += s * s;
            if (u == v) f2 += s;
          }
        const double tr1 = base + f2, tr2 = base + f4;
        const double mu = tr1 / dof;
        const double v = std::sqrt(tr1 * tr1 * a1 + 2.0 * tr2 * a2);
        const double rho = pairs.correlations[i * ns + j];
        sum += (dof * rho * rho - mu) / v;
      }
  }
  const double statistic = std::sqrt(2.0 / (static_cast<double>(n) * (n - 1))) * sum;
  return {true, "", statistic, 0.5 * std::erfc(statistic / std::sqrt(2.0))};
#endif
}

}  // namespace qvd::analysis
