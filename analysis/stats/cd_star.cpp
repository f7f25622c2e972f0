#include "analysis/stats/cd_star.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/tail_probability.h"
#include "qvdep.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/common/not_a_number.h"
#include "analysis/linalg/lapack_routines.h"
#endif

namespace qvd::analysis {
namespace {

// sigma_i of a standardised series (whose mean square is 1) at or below
// this: the factors fit it exactly, up to rounding (as p = T - 1 always
// does, [1, f] then spanning every period).
constexpr double kExactFit = 1e-8;

CdStar refused(std::string reason) {
  CdStar r;
  r.reason = std::move(reason);
  r.statistic = r.pvalue = r.cd_eps = r.w = kNaN;
  return r;
}

}  // namespace

CdStar cd_star(WorkVector<double> residuals, int sections, int periods, int components) {
  if (components <= 0 || components >= std::min(sections, periods))
    throw InputError("CD* needs between 1 and min(N, T) - 1 = " +
                     std::to_string(std::min(sections, periods) - 1) +
                     " principal components, not " + std::to_string(components));
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  for (std::size_t c = 0; c < n * t; ++c)
    if (qvdep_is_missing(residuals[c])) return refused("the panel is unbalanced");

  // 1. Standardised series, column-major T-by-N (each cross-section a column).
  WorkVector<double> &z = residuals;
  for (std::size_t i = 0; i < n; ++i) {
    double *col = &z[i * t];
    double mean = 0;
    for (std::size_t s = 0; s < t; ++s) mean += col[s];
    mean /= static_cast<double>(t);
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) square += (col[s] - mean) * (col[s] - mean);
    const double sd = std::sqrt(square / static_cast<double>(t));
    if (!(sd > 0)) return refused("cross-section " + std::to_string(i + 1) + " has no variation");
    for (std::size_t s = 0; s < t; ++s) col[s] = (col[s] - mean) / sd;
  }
#ifndef QVDEP_HAVE_LAPACK
  return refused("built without LAPACK");
#else
  const std::size_t p = static_cast<std::size_t>(components);
  const lapack_int ti = periods, ni = sections, pi = components;
  lapack_int info = 0;

  // 2. The p leading eigenvectors of Z Z' (dsyevr orders eigenvalues
  // upwards). When T > N they come from the smaller Z'Z: Z'Z v = l v gives
  // Z Z' (Z v) = l (Z v), so f = Z v / ||Z v||.
  const bool through_sections = t > n;
  const lapack_int m = through_sections ? ni : ti;
  const std::size_t ms = static_cast<std::size_t>(m);
  WorkVector<double> gram(ms * ms, 0.0);
  const double one = 1.0, zero = 0.0;
  call_lapack<qvdep_dsyrk>("L", through_sections ? "T" : "N", &m, through_sections ? &ti : &ni, &one, z.data(), &ti,
         &zero, gram.data(), &m, 1, 1);
  const lapack_int first = m - pi + 1, last = m;
  const double unused = 0, abstol = 0;
  lapack_int found = 0, lwork = -1, liwork = -1, iquery = 0;
  double query = 0;
  WorkVector<double> eigenvalues(ms), vectors(ms * p);
  WorkVector<lapack_int> support(2 * p);
  call_lapack<qvdep_dsyevr>("V", "I", "L", &m, gram.data(), &m, &unused, &unused, &first, &last, &abstol, &found,
          eigenvalues.data(), vectors.data(), &m, support.data(), &query, &lwork, &iquery, &liwork,
          &info, 1, 1, 1);
  lwork = static_cast<lapack_int>(query);
  liwork = iquery;
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  WorkVector<lapack_int> iwork(static_cast<std::size_t>(liwork));
  call_lapack<qvdep_dsyevr>("V", "I", "L", &m, gram.data(), &m, &unused, &unused, &first, &last, &abstol, &found,
          eigenvalues.data(), vectors.data(), &m, support.data(), work.data(), &lwork,
          iwork.data(), &liwork, &info, 1, 1, 1);
  if (info != 0 || found != pi) return refused("the eigenvectors of Z Z' did not converge");
  WorkVector<double> f(through_sections ? t * p : 0);
  if (through_sections) {
    call_lapack<qvdep_dgemm>("N", "N", &ti, &pi, &ni, &one, z.data(), &ti, vectors.data(), &ni, &zero, f.data(),
           &ti, 1, 1);
    for (std::size_t l = 0; l < p; ++l) {
      double square = 0;
      for (std::size_t s = 0; s < t; ++s) square += f[l * t + s] * f[l * t + s];
      if (!(square > 0)) return refused("Z Z' has fewer than p non-zero eigenvalues");
      const double length = std::sqrt(square);
      for (std::size_t s = 0; s < t; ++s) f[l * t + s] /= length;
    }
  } else {
    f = std::move(vectors);
  }

  // 3. Every z_i on X = [1, f] at once: coefficients in the first p + 1 rows.
  const lapack_int kx = pi + 1;
  const std::size_t ks = p + 1;
  WorkVector<double> x(t * ks), a(t * ks), b(z);
  for (std::size_t s = 0; s < t; ++s) x[s] = 1.0;
  std::copy(f.begin(), f.end(), x.begin() + static_cast<std::ptrdiff_t>(t));
  a = x;
  lwork = -1;
  call_lapack<qvdep_dgels>("N", &ti, &kx, &ni, a.data(), &ti, b.data(), &ti, &query, &lwork, &info, 1);
  lwork = std::max<lapack_int>(1, static_cast<lapack_int>(query));
  work.resize(static_cast<std::size_t>(lwork));
  call_lapack<qvdep_dgels>("N", &ti, &kx, &ni, a.data(), &ti, b.data(), &ti, work.data(), &lwork, &info, 1);
  if (info != 0) return refused("the factors are linearly dependent");
  WorkVector<double> coef(ks * n);  // (p + 1)-by-N
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < ks; ++c) coef[i * ks + c] = b[i * t + c];
  b = WorkVector<double>();  // (= {} would keep the storage)
  WorkVector<double> &eps = z;  // z is not needed again: its residuals are formed in place
  const double minus_one = -1.0;
  call_lapack<qvdep_dgemm>("N", "N", &ti, &ni, &kx, &minus_one, x.data(), &ti, coef.data(), &kx, &one, eps.data(),
         &ti, 1, 1);

  // 4-5. sigma_i, scaled loadings, phi and w.
  std::vector<double> sigma(n), scale(p, 0.0), phi(p, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) square += eps[i * t + s] * eps[i * t + s];
    sigma[i] = std::sqrt(square / static_cast<double>(t));
    if (!(sigma[i] > kExactFit)) return refused("the factors explain cross-section " + std::to_string(i + 1) + " exactly");
    for (std::size_t l = 0; l < p; ++l) scale[l] += coef[i * ks + 1 + l] * coef[i * ks + 1 + l];
  }
  for (std::size_t l = 0; l < p; ++l) scale[l] = std::sqrt(scale[l] / static_cast<double>(n));
  auto loading = [&](std::size_t i, std::size_t l) { return coef[i * ks + 1 + l] / scale[l]; };
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t l = 0; l < p; ++l) phi[l] += loading(i, l) / sigma[i];
  for (double &v : phi) v /= static_cast<double>(n);
  double w = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double g_phi = 0;
    for (std::size_t l = 0; l < p; ++l) g_phi += loading(i, l) * phi[l];
    const double d = 1.0 - sigma[i] * g_phi;
    w += d * d;
  }
  w /= static_cast<double>(n);

  // 6. CD of the eps_i through the sum of their unit vectors.
  std::vector<double> total(t, 0.0);
  double norms = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double length = sigma[i] * std::sqrt(static_cast<double>(t));
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) {
      const double u = eps[i * t + s] / length;
      total[s] += u;
      square += u * u;
    }
    norms += square;
  }
  double total_square = 0;
  for (const double v : total) total_square += v * v;
  const double pair_sum = 0.5 * (total_square - norms);
  const double dn = static_cast<double>(n), dt = static_cast<double>(t);
  CdStar r;
  r.available = true;
  r.cd_eps = std::sqrt(2.0 / (dn * (dn - 1))) * std::sqrt(dt) * pair_sum;
  r.w = w;
  r.statistic = (r.cd_eps + std::sqrt(dt / 2.0) * (1.0 - w)) / w;
  r.pvalue = normal_two_sided(r.statistic);
  return r;
#endif
}

}  // namespace qvd::analysis
