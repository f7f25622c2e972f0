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
#include "analysis/stats/principal_components.h"
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

CdStar refused(std::string reason) { return {not_available(std::move(reason)), kNaN, kNaN}; }

// 1. Each series standardised in place: z_it = (e_it - m_i)/s_i, s_i^2 its
// mean square deviation (divisor T). The reason when one has no variation.
std::string standardise(WorkVector<double> &z, std::size_t n, std::size_t t) {
  for (std::size_t i = 0; i < n; ++i) {
    double *col = &z[i * t];
    double mean = 0;
    for (std::size_t s = 0; s < t; ++s) mean += col[s];
    mean /= static_cast<double>(t);
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) square += (col[s] - mean) * (col[s] - mean);
    const double sd = std::sqrt(square / static_cast<double>(t));
    if (!(sd > 0)) return "cross-section " + std::to_string(i + 1) + " has no variation";
    for (std::size_t s = 0; s < t; ++s) col[s] = (col[s] - mean) / sd;
  }
  return "";
}

#ifdef QVDEP_HAVE_LAPACK
// 4-5. sigma_i, the loadings scaled to unit mean square, phi and w, from
// the residuals eps_i and the coefficients on [1, f] ((p + 1)-by-N). The
// reason when the factors fit a series exactly.
std::string scale_of_correction(const WorkVector<double> &eps, const WorkVector<double> &coef,
                                std::size_t n, std::size_t t, std::size_t p,
                                std::vector<double> &sigma, double &w) {
  const std::size_t ks = p + 1;
  std::vector<double> scale(p, 0.0), phi(p, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) square += eps[i * t + s] * eps[i * t + s];
    sigma[i] = std::sqrt(square / static_cast<double>(t));
    if (!(sigma[i] > kExactFit))
      return "the factors explain cross-section " + std::to_string(i + 1) + " exactly";
    for (std::size_t l = 0; l < p; ++l) scale[l] += coef[i * ks + 1 + l] * coef[i * ks + 1 + l];
  }
  for (std::size_t l = 0; l < p; ++l) scale[l] = std::sqrt(scale[l] / static_cast<double>(n));
  auto loading = [&](std::size_t i, std::size_t l) { return coef[i * ks + 1 + l] / scale[l]; };
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t l = 0; l < p; ++l) phi[l] += loading(i, l) / sigma[i];
  for (double &v : phi) v /= static_cast<double>(n);
  w = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double g_phi = 0;
    for (std::size_t l = 0; l < p; ++l) g_phi += loading(i, l) * phi[l];
    const double d = 1.0 - sigma[i] * g_phi;
    w += d * d;
  }
  w /= static_cast<double>(n);
  return "";
}

// 6. sqrt(2/(N(N-1))) sqrt(T) sum_{i<j} rho_ij of the eps_i through the sum
// of their unit vectors.
double cd_of_residuals(const WorkVector<double> &eps, const std::vector<double> &sigma,
                       std::size_t n, std::size_t t) {
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
  return std::sqrt(2.0 / (dn * (dn - 1))) * std::sqrt(dt) * pair_sum;
}

// 3. Every z_i on X = [1, f] at once (least squares): the coefficients,
// (p + 1)-by-N, in `coef`, and the residuals eps_i in place of z. The
// reason when the factors are linearly dependent.
std::string defactored(WorkVector<double> &z, const WorkVector<double> &f, std::size_t n,
                       std::size_t t, std::size_t p, WorkVector<double> &coef) {
  const lapack_int ti = static_cast<lapack_int>(t), ni = static_cast<lapack_int>(n),
                   kx = static_cast<lapack_int>(p) + 1;
  const std::size_t ks = p + 1;
  WorkVector<double> x(t * ks), a(t * ks), b(z);
  for (std::size_t s = 0; s < t; ++s) x[s] = 1.0;
  std::copy(f.begin(), f.end(), x.begin() + static_cast<std::ptrdiff_t>(t));
  a = x;
  lapack_int lwork = -1, info = 0;
  double query = 0;
  call_lapack<qvdep_dgels>("N", &ti, &kx, &ni, a.data(), &ti, b.data(), &ti, &query, &lwork,
                           &info, 1);
  lwork = std::max<lapack_int>(1, static_cast<lapack_int>(query));
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  call_lapack<qvdep_dgels>("N", &ti, &kx, &ni, a.data(), &ti, b.data(), &ti, work.data(), &lwork,
                           &info, 1);
  if (info != 0) return "the factors are linearly dependent";
  coef.assign(ks * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < ks; ++c) coef[i * ks + c] = b[i * t + c];
  b = WorkVector<double>();  // (= {} would keep the storage)
  const double one = 1.0, minus_one = -1.0;
  call_lapack<qvdep_dgemm>("N", "N", &ti, &ni, &kx, &minus_one, x.data(), &ti, coef.data(), &kx,
                           &one, z.data(), &ti, 1, 1);
  return "";
}
#endif

}  // namespace

CdStar cd_star(WorkVector<double> residuals, int sections, int periods, int components) {
  if (components <= 0 || components >= std::min(sections, periods))
    throw InputError("CD* needs between 1 and min(N, T) - 1 = " +
                     std::to_string(std::min(sections, periods) - 1) +
                     " principal components, not " + std::to_string(components));
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  for (std::size_t c = 0; c < n * t; ++c)
    if (qvdep_is_missing(residuals[c])) return refused("the panel is unbalanced");
  WorkVector<double> &z = residuals;  // standardised, then defactored, in place
  if (std::string why = standardise(z, n, t); !why.empty()) return refused(std::move(why));
#ifndef QVDEP_HAVE_LAPACK
  return refused("built without LAPACK");
#else
  const std::size_t p = static_cast<std::size_t>(components);
  WorkVector<double> f, coef;
  // 2. f: the p leading principal components of the z_i.
  if (std::string why = leading_components(z, n, t, p, f); !why.empty())
    return refused(std::move(why));
  if (std::string why = defactored(z, f, n, t, p, coef); !why.empty())
    return refused(std::move(why));
  std::vector<double> sigma(n);
  double w = 0;
  if (std::string why = scale_of_correction(z, coef, n, t, p, sigma, w); !why.empty())
    return refused(std::move(why));
  const double dt = static_cast<double>(t);
  CdStar r;
  r.available = true;
  r.cd_eps = cd_of_residuals(z, sigma, n, t);
  r.w = w;
  r.statistic = (r.cd_eps + std::sqrt(dt / 2.0) * (1.0 - w)) / w;
  r.pvalue = normal_two_sided(r.statistic);
  return r;
#endif
}

}  // namespace qvd::analysis
