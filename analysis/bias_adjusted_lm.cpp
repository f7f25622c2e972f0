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
#include "analysis/aligned_vector.h"
#include "analysis/lapack_routines.h"
#include "analysis/vector_clones.h"
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
// A band of Q'Q holds about this many doubles (8 MB), at least one
// cross-section's rows.
constexpr std::size_t kBandDoubles = std::size_t{1} << 20;

// Orthonormal bases of every X_i but its intercept, stacked: T rows, N K
// columns, column-major. With an intercept the regressors are demeaned
// first, which leaves each basis orthogonal to the constant; the distance
// of a column from the span of those before it is the same either way, and
// is judged against the column's own length. Returns the first
// rank-deficient cross-section, or -1.
long stacked_bases(const host::Panel &panel, bool intercept, WorkVector<double> &q) {
  const int t = panel.periods, k = panel.regressors;
  const std::size_t ts = static_cast<std::size_t>(t), ks = static_cast<std::size_t>(k);
  q.resize(ts * ks * static_cast<std::size_t>(panel.sections));
  if (k == 0) return -1;
  const std::lock_guard<std::mutex> lapack(lapack_lock());
  WorkVector<double> tau(ks);
  std::vector<double> norms(ks);
  int lwork = -1, info = 0;
  double query = 0;
  dgeqrf_(&t, &k, q.data(), &t, tau.data(), &query, &lwork, &info);
  double query2 = 0;
  dorgqr_(&t, &k, &k, q.data(), &t, tau.data(), &query2, &lwork, &info);
  lwork = std::max({static_cast<int>(query), static_cast<int>(query2), k, 1});
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  for (int i = 0; i < panel.sections; ++i) {
    double *a = q.data() + static_cast<std::size_t>(i) * ts * ks;
    const double *rows = panel.values.data() + static_cast<std::size_t>(i) * ts * (ks + 1);
    for (std::size_t c = 0; c < ks; ++c) {
      double *column = a + c * ts;
      double sum = 0, square = 0;
      for (std::size_t s = 0; s < ts; ++s) {
        column[s] = rows[s * (ks + 1) + c];
        sum += column[s];
        square += column[s] * column[s];
      }
      norms[c] = std::sqrt(square);
      if (intercept) {
        const double mean = sum / static_cast<double>(t);
        for (std::size_t s = 0; s < ts; ++s) column[s] -= mean;
      }
    }
    dgeqrf_(&t, &k, a, &t, tau.data(), work.data(), &lwork, &info);
    for (std::size_t c = 0; c < ks; ++c)
      if (!(std::fabs(a[c * ts + c]) > kRankTolerance * norms[c])) return i;
    dorgqr_(&t, &k, &k, a, &t, tau.data(), work.data(), &lwork, &info);
  }
  return -1;
}

// The bases of a band of cross-sections b0 .. b0 + nb - 1, reordered so
// that basis vector a of every member is adjacent to the same vector of the
// next: column a nb + m of `lhs` is column a of Q_{b0+m}. The products
// Q_band'Q_j then hold, for each entry of the blocks, the members one after
// another, and the norms below run down them as vectors.
void interleave_band(const double *q, std::size_t t, std::size_t k, std::size_t nb,
                     double *lhs) {
  for (std::size_t m = 0; m < nb; ++m)
    for (std::size_t a = 0; a < k; ++a)
      std::copy_n(q + (m * k + a) * t, t, lhs + (a * nb + m) * t);
}

// ||C||_F^2 and ||C'C||_F^2 of the K-by-K blocks C = Q_i'Q_j of `count`
// members of a band against one partner j: entry (a, c) of member m's block
// is g[c ld + a nb + m]. C'C is symmetric, so its upper triangle suffices;
// each (C'C)_uv sums over a in order, and the norms over (u, v) in order.
QVDEP_VECTOR_CLONES
void block_norms(const double *__restrict g, std::size_t k, std::size_t ld, std::size_t nb,
                 std::size_t count, double *__restrict f2, double *__restrict f4,
                 double *__restrict s) {
  std::fill_n(f2, count, 0.0);
  std::fill_n(f4, count, 0.0);
  for (std::size_t u = 0; u < k; ++u)
    for (std::size_t v = u; v < k; ++v) {
      std::fill_n(s, count, 0.0);  // (C'C)_uv: columns u and v of C
      for (std::size_t a = 0; a < k; ++a) {
        const double *cu = g + u * ld + a * nb, *cv = g + v * ld + a * nb;
        for (std::size_t m = 0; m < count; ++m) s[m] += cu[m] * cv[m];
      }
      if (u == v) {
        for (std::size_t m = 0; m < count; ++m) {
          f2[m] += s[m];
          f4[m] += s[m] * s[m];
        }
      } else {
        for (std::size_t m = 0; m < count; ++m) f4[m] += 2.0 * s[m] * s[m];
      }
    }
}

#endif

}  // namespace

BiasAdjustedLmWeights bias_adjusted_lm_weights(const host::Panel &panel, bool intercept,
                                               int restrictions) {
  BiasAdjustedLmWeights w;
  const int n = panel.sections, t = panel.periods;
  const int shared = intercept ? 1 : 0, k = panel.regressors + shared;
  w.sections = n;
  auto refuse = [&](std::string reason) {
    w.reason = std::move(reason);
    return w;
  };
  if (n < 2) return refuse("fewer than two cross-sections");
  if (restrictions > 0) return refuse("restrictions change the residual projections");
  if (t - k <= 4) return refuse("T - k = " + std::to_string(t - k) + " (needs more than 4)");
  for (const double v : panel.values)
    if (qvdep_is_missing(v)) return refuse("the panel is unbalanced");
#ifndef QVDEP_HAVE_LAPACK
  return refuse("built without LAPACK");
#else
  WorkVector<double> q;
  const long deficient = stacked_bases(panel, intercept, q);
  if (deficient >= 0)
    return refuse("the regressors of cross-section " + std::to_string(deficient + 1) +
                  " are linearly dependent");

  const double dof = t - k;
  const double ratio = ((dof - 8) * (dof + 2) + 24) / ((dof + 2) * (dof - 2) * (dof - 4));
  const double a2 = 3.0 * ratio * ratio;
  const double a1 = a2 - 1.0 / (dof * dof);
  // The shared intercept contributes 1 to both norms.
  const double base = t - 2.0 * k + shared;

  const std::size_t ns = static_cast<std::size_t>(n), ts = static_cast<std::size_t>(t);
  const int kq = panel.regressors, cols = n * kq;
  const std::size_t ks = static_cast<std::size_t>(kq);
  w.scale.resize(ns * (ns - 1) / 2);
  // Pair (i, j), i < j, sits at i (2N - i - 1)/2 + j - i - 1 of `scale`.
  auto scale_at = [ns](std::size_t i, std::size_t j) { return i * (2 * ns - i - 1) / 2 + j - i - 1; };
  if (kq == 0) {  // the intercept alone: every M_i is the same centring
    const double v = std::sqrt(base * base * a1 + 2.0 * base * a2);
    std::fill(w.scale.begin(), w.scale.end(), dof / v);
    for (std::size_t p = 0; p < w.scale.size(); ++p) w.centre += base / dof / v;
    w.available = true;
    return w;
  }
  const std::size_t band_sections =
      std::clamp<std::size_t>(kBandDoubles / (ks * static_cast<std::size_t>(cols)), 1, ns);
  WorkVector<double> lhs(band_sections * ks * ts), band;
  std::vector<double> f2(band_sections), f4(band_sections), s(band_sections), scales(band_sections),
      terms(band_sections);
  for (std::size_t b0 = 0; b0 < ns; b0 += band_sections) {
    const std::size_t b1 = std::min(ns, b0 + band_sections), nb = b1 - b0;
    // G = Q_band' Q_{b0..N-1}, the band interleaved: rows a nb + (i - b0),
    // columns (j - b0) K + c.
    const int rows = static_cast<int>(nb * ks);
    const int width = cols - static_cast<int>(b0 * ks);
    band.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(width));
    interleave_band(q.data() + b0 * ks * ts, ts, ks, nb, lhs.data());
    const double one = 1.0, zero = 0.0;
    {
      const std::lock_guard<std::mutex> lapack(lapack_lock());
      dgemm_("T", "N", &rows, &width, &t, &one, lhs.data(), &t, q.data() + b0 * ks * ts, &t,
             &zero, band.data(), &rows, 1, 1);
    }
    // Partner by partner, every member i < j of the band at once.
    const std::size_t ld = static_cast<std::size_t>(rows);
    for (std::size_t j = b0 + 1; j < ns; ++j) {
      const std::size_t count = std::min(b1, j) - b0;
      block_norms(band.data() + (j - b0) * ks * ld, ks, ld, nb, count, f2.data(), f4.data(),
                  s.data());
      for (std::size_t m = 0; m < count; ++m) {
        const double tr1 = base + f2[m], tr2 = base + f4[m];
        const double v = std::sqrt(tr1 * tr1 * a1 + 2.0 * tr2 * a2);
        scales[m] = dof / v;
        terms[m] = tr1 / dof / v;
      }
      double centre = 0;  // this partner's mu/v, summed apart from the rest
      for (std::size_t m = 0; m < count; ++m) {
        w.scale[scale_at(b0 + m, j)] = scales[m];
        centre += terms[m];
      }
      w.centre += centre;
    }
  }
  w.available = true;
  return w;
#endif
}

BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, const PairTable &pairs) {
  if (!weights.available) return refused(weights.reason);
  const int n = weights.sections;
  if (pairs.sections != n) return refused("the pair table is of another panel");
  const std::size_t ns = static_cast<std::size_t>(n);
  double sum = 0;
  const double *scale = weights.scale.data();
  for (std::size_t i = 0; i < ns; ++i) {
    const double *row = pairs.correlations.data() + i * ns;
    for (std::size_t j = i + 1; j < ns; ++j) {
      const double rho = row[j];
      if (std::isnan(rho)) return refused("a pair of cross-sections could not be correlated");
      sum += *scale++ * rho * rho;
    }
  }
  const double statistic =
      std::sqrt(2.0 / (static_cast<double>(n) * (n - 1))) * (sum - weights.centre);
  return {true, "", statistic, 0.5 * std::erfc(statistic / std::sqrt(2.0))};
}

BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs) {
  return bias_adjusted_lm(bias_adjusted_lm_weights(panel, intercept, restrictions), pairs);
}

}  // namespace qvd::analysis
