#include "analysis/models/period_dummies.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "analysis/common/errors.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/linalg/lapack_routines.h"
#endif

namespace qvd::analysis {

#ifdef QVDEP_HAVE_LAPACK
namespace {

// An eigenvalue of G below this fraction of the largest is a zero one.
constexpr double kNullEigenvalue = 1e-9;

struct SymmetricEigen {
  WorkVector<double> values;   // ascending
  WorkVector<double> vectors;  // n by n, column-major
};

// G over the periods in the model (their places in `at`, -1 for the rest).
WorkVector<double> period_cross_product(const Observations &obs, const std::vector<double> &theta,
                                        const std::vector<long> &at, std::size_t tp) {
  std::vector<std::size_t> row_of(obs.sections, 0);
  std::size_t np = 0;
  for (std::size_t i = 0; i < obs.sections; ++i)
    if (obs.per_section[i] > 0) row_of[i] = np++;
  WorkVector<double> indicators(np * tp, 0.0), g(tp * tp, 0.0);
  for (std::size_t o = 0; o < obs.size(); ++o) {
    const std::size_t i = obs.section[o];
    const double c = (2 * theta[i] - theta[i] * theta[i]) / static_cast<double>(obs.per_section[i]);
    indicators[static_cast<std::size_t>(at[obs.period[o]]) * np + row_of[i]] = std::sqrt(c);
  }
  for (std::size_t t = 0; t < obs.periods; ++t)
    if (at[t] >= 0)
      g[static_cast<std::size_t>(at[t]) * (tp + 1)] = static_cast<double>(obs.per_period[t]);
  const lapack_int n = static_cast<lapack_int>(tp), k = static_cast<lapack_int>(np);
  const double minus_one = -1, one = 1;
  call_lapack<qvdep_dsyrk>("L", "T", &n, &k, &minus_one, indicators.data(), &k, &one, g.data(), &n,
                           1, 1);
  return g;
}

SymmetricEigen eigen(WorkVector<double> g, std::size_t size) {
  const lapack_int n = static_cast<lapack_int>(size);
  SymmetricEigen e{WorkVector<double>(size), WorkVector<double>(size * size)};
  WorkVector<lapack_int> support(2 * size);
  lapack_int found = 0, lwork = -1, liwork = -1, iquery = 0, info = 0, unused_index = 0;
  const double unused = 0, abstol = 0;
  double query = 0;
  call_lapack<qvdep_dsyevr>("V", "A", "L", &n, g.data(), &n, &unused, &unused, &unused_index,
                            &unused_index, &abstol, &found, e.values.data(), e.vectors.data(), &n,
                            support.data(), &query, &lwork, &iquery, &liwork, &info, 1, 1, 1);
  lwork = static_cast<lapack_int>(query);
  liwork = iquery;
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  WorkVector<lapack_int> iwork(static_cast<std::size_t>(liwork));
  call_lapack<qvdep_dsyevr>("V", "A", "L", &n, g.data(), &n, &unused, &unused, &unused_index,
                            &unused_index, &abstol, &found, e.values.data(), e.vectors.data(), &n,
                            support.data(), work.data(), &lwork, iwork.data(), &liwork, &info, 1, 1,
                            1);
  if (info != 0)
    throw AnalysisError("the eigenvalues of the period effects' cross-product did not converge");
  return e;
}

}  // namespace

void remove_period_part(ColumnMatrix &m, const Observations &obs, const std::vector<double> &theta,
                        const std::function<double(double lambda)> &weight) {
  std::vector<long> at(obs.periods, -1);
  std::size_t tp = 0;
  for (std::size_t t = 0; t < obs.periods; ++t)
    if (obs.per_period[t] > 0) at[t] = static_cast<long>(tp++);
  if (tp == 0 || m.columns == 0) return;
  const SymmetricEigen e = eigen(period_cross_product(obs, theta, at, tp), tp);
  const std::size_t k = m.columns;

  // H = D_theta' m: for each period, the sum over its observations of
  // m - theta_i (the cross-section's mean of m).
  const ColumnMatrix means = group_means(m, obs, Grouping::section);
  WorkVector<double> h(tp * k, 0.0);
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t o = 0; o < obs.size(); ++o) {
      const std::size_t i = obs.section[o];
      h[j * tp + static_cast<std::size_t>(at[obs.period[o]])] +=
          m.column(j)[o] - theta[i] * means.column(j)[i];
    }
  // F = V w(Lambda) V' H.
  const lapack_int n = static_cast<lapack_int>(tp), nk = static_cast<lapack_int>(k);
  const double one = 1, zero = 0;
  WorkVector<double> c(tp * k), f(tp * k);
  call_lapack<qvdep_dgemm>("T", "N", &n, &nk, &n, &one, e.vectors.data(), &n, h.data(), &n, &zero,
                           c.data(), &n, 1, 1);
  const double largest = std::max(std::fabs(e.values.front()), std::fabs(e.values.back()));
  for (std::size_t r = 0; r < tp; ++r) {
    const double lambda = e.values[r];
    const double w = lambda > kNullEigenvalue * largest ? weight(lambda) : 0.0;
    for (std::size_t j = 0; j < k; ++j) c[j * tp + r] *= w;
  }
  call_lapack<qvdep_dgemm>("N", "N", &n, &nk, &n, &one, e.vectors.data(), &n, c.data(), &n, &zero,
                           f.data(), &n, 1, 1);
  // m -= D_theta F: at (i, t), F_t - theta_i (the mean of F over i's periods).
  ColumnMatrix spread_f(obs.size(), k);
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t o = 0; o < obs.size(); ++o)
      spread_f.column(j)[o] = f[j * tp + static_cast<std::size_t>(at[obs.period[o]])];
  const ColumnMatrix fbar = group_means(spread_f, obs, Grouping::section);
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t o = 0; o < obs.size(); ++o)
      m.column(j)[o] -=
          spread_f.column(j)[o] - theta[obs.section[o]] * fbar.column(j)[obs.section[o]];
}

#else

void remove_period_part(ColumnMatrix &, const Observations &, const std::vector<double> &,
                        const std::function<double(double)> &) {
  throw AnalysisError("panel models need LAPACK, and this build has none");
}

#endif

}  // namespace qvd::analysis
