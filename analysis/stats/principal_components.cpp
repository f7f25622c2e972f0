#include "analysis/stats/principal_components.h"

#ifdef QVDEP_HAVE_LAPACK
#include <cmath>
#include <utility>

#include "analysis/linalg/lapack_routines.h"

namespace qvd::analysis {
namespace {

// The p eigenvectors of the symmetric m-by-m `gram` (its lower triangle)
// with the largest eigenvalues, m-by-p, in `vectors`; false when dsyevr
// does not find them. dsyevr numbers the eigenvalues upwards.
bool largest_eigenvectors(WorkVector<double> &gram, lapack_int m, lapack_int p,
                          WorkVector<double> &vectors) {
  const lapack_int first = m - p + 1, last = m;
  const double unused = 0, abstol = 0;
  lapack_int found = 0, lwork = -1, liwork = -1, iquery = 0, info = 0;
  double query = 0;
  const std::size_t ms = static_cast<std::size_t>(m), ps = static_cast<std::size_t>(p);
  WorkVector<double> values(ms);
  vectors.assign(ms * ps, 0.0);
  WorkVector<lapack_int> support(2 * ps);
  auto solve = [&](double *work, lapack_int *iwork) {
    call_lapack<qvdep_dsyevr>("V", "I", "L", &m, gram.data(), &m, &unused, &unused, &first, &last,
                              &abstol, &found, values.data(), vectors.data(), &m, support.data(),
                              work, &lwork, iwork, &liwork, &info, 1, 1, 1);
  };
  solve(&query, &iquery);  // the work arrays' sizes
  lwork = static_cast<lapack_int>(query);
  liwork = iquery;
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  WorkVector<lapack_int> iwork(static_cast<std::size_t>(liwork));
  solve(work.data(), iwork.data());
  return info == 0 && found == p;
}

}  // namespace

std::string leading_components(const WorkVector<double> &x, std::size_t n, std::size_t t,
                               std::size_t p, WorkVector<double> &f) {
  const lapack_int ti = static_cast<lapack_int>(t), ni = static_cast<lapack_int>(n),
                   pi = static_cast<lapack_int>(p);
  const bool through_series = t > n;
  const lapack_int m = through_series ? ni : ti;
  const std::size_t ms = static_cast<std::size_t>(m);
  WorkVector<double> gram(ms * ms, 0.0);
  const double one = 1.0, zero = 0.0;
  call_lapack<qvdep_dsyrk>("L", through_series ? "T" : "N", &m, through_series ? &ti : &ni, &one,
                           x.data(), &ti, &zero, gram.data(), &m, 1, 1);
  WorkVector<double> vectors;
  if (!largest_eigenvectors(gram, m, pi, vectors))
    return "the principal components did not converge";
  if (!through_series) {
    f = std::move(vectors);
    return "";
  }
  f.assign(t * p, 0.0);
  call_lapack<qvdep_dgemm>("N", "N", &ti, &pi, &ni, &one, x.data(), &ti, vectors.data(), &ni, &zero,
                           f.data(), &ti, 1, 1);
  for (std::size_t l = 0; l < p; ++l) {
    double *component = &f[l * t];
    double square = 0;
    for (std::size_t s = 0; s < t; ++s) square += component[s] * component[s];
    if (!(square > 0)) return "the series have fewer than p non-zero principal components";
    const double length = std::sqrt(square);
    for (std::size_t s = 0; s < t; ++s) component[s] /= length;
  }
  return "";
}

}  // namespace qvd::analysis
#endif
