#include "analysis/models/least_squares.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/common/errors.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/linalg/lapack_routines.h"
#endif

namespace qvd::analysis {

std::size_t LeastSquares::rank() const {
  return static_cast<std::size_t>(std::count(kept.begin(), kept.end(), true));
}

WorkVector<double> residuals_of(const ColumnMatrix &data, const std::vector<double> &coefficients) {
  WorkVector<double> e(data.column(0), data.column(0) + data.rows);
  for (std::size_t j = 0; j < coefficients.size(); ++j)
    if (!std::isnan(coefficients[j])) {
      const double *x = data.column(j + 1);
      for (std::size_t o = 0; o < data.rows; ++o) e[o] -= x[o] * coefficients[j];
    }
  return e;
}

double euclidean_length(const double *x, std::size_t n) {
  double sum = 0;
  for (std::size_t r = 0; r < n; ++r) sum += x[r] * x[r];
  return std::sqrt(sum);
}

#ifdef QVDEP_HAVE_LAPACK
namespace {

// The QR factorisation of [X_kept y] in place (R above the diagonal, the
// reflectors below, their scales in tau).
void factorise(WorkVector<double> &a, WorkVector<double> &tau, lapack_int m, lapack_int n) {
  lapack_int lwork = -1, info = 0;
  double query = 0;
  call_lapack<qvdep_dgeqrf>(&m, &n, a.data(), &m, tau.data(), &query, &lwork, &info);
  lwork = std::max<lapack_int>(static_cast<lapack_int>(query), n);
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  call_lapack<qvdep_dgeqrf>(&m, &n, a.data(), &m, tau.data(), work.data(), &lwork, &info);
}

}  // namespace

LeastSquares least_squares(const ColumnMatrix &data, std::vector<bool> candidates,
                           bool want_basis) {
  const std::size_t m = data.rows, p = data.columns - 1;
  const double *y = data.column(0);
  if (candidates.empty()) candidates.assign(p, true);
  std::vector<double> lengths(p);
  for (std::size_t j = 0; j < p; ++j) {
    lengths[j] = euclidean_length(data.column(j + 1), m);
    if (lengths[j] == 0) lengths[j] = 1;  // as dqrdc2: an empty column is negligible
  }
  std::vector<std::size_t> in;
  WorkVector<double> a, tau;
  for (;;) {
    in.clear();
    for (std::size_t j = 0; j < p; ++j)
      if (candidates[j]) in.push_back(j);
    const std::size_t r = in.size();
    a.assign(m * (r + 1), 0.0);
    for (std::size_t c = 0; c < r; ++c) std::copy_n(data.column(in[c] + 1), m, a.data() + c * m);
    std::copy_n(y, m, a.data() + r * m);
    tau.assign(r + 1, 0.0);
    if (m > 0) factorise(a, tau, static_cast<lapack_int>(m), static_cast<lapack_int>(r + 1));
    std::size_t negligible = r;
    for (std::size_t c = 0; c < r && negligible == r; ++c)
      if (c >= m || !(std::fabs(a[c * m + c]) >= kAliasTolerance * lengths[in[c]])) negligible = c;
    if (negligible == r) break;
    candidates[in[negligible]] = false;
  }
  const std::size_t r = in.size();
  LeastSquares fit;
  fit.kept = candidates;
  fit.coefficients.assign(p, std::numeric_limits<double>::quiet_NaN());
  if (r > 0) {
    const lapack_int n = static_cast<lapack_int>(r), lda = static_cast<lapack_int>(m), one = 1;
    lapack_int info = 0;
    double *b = a.data() + r * m;  // Q'y, its first r entries
    call_lapack<qvdep_dtrtrs>("U", "N", "N", &n, &one, a.data(), &lda, b, &lda, &info, 1, 1, 1);
    for (std::size_t c = 0; c < r; ++c) fit.coefficients[in[c]] = b[c];
    if (want_basis) {
      lapack_int lwork = -1;
      double query = 0;
      call_lapack<qvdep_dorgqr>(&lda, &n, &n, a.data(), &lda, tau.data(), &query, &lwork, &info);
      lwork = std::max<lapack_int>(static_cast<lapack_int>(query), n);
      WorkVector<double> work(static_cast<std::size_t>(lwork));
      call_lapack<qvdep_dorgqr>(&lda, &n, &n, a.data(), &lda, tau.data(), work.data(), &lwork,
                                &info);
      fit.basis = ColumnMatrix(m, r);
      std::copy_n(a.data(), m * r, fit.basis.values.data());
    }
  }
  fit.residuals = residuals_of(data, fit.coefficients);
  for (double e : fit.residuals) fit.residual_sum_of_squares += e * e;
  return fit;
}

#else

LeastSquares least_squares(const ColumnMatrix &, std::vector<bool>, bool) {
  throw AnalysisError("panel models need LAPACK, and this build has none");
}

#endif

}  // namespace qvd::analysis
