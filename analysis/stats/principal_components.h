// The p leading principal components of N series of T periods: the
// eigenvectors, of unit length, of the T-by-T matrix X X' (X the series as
// its N columns) with the p largest eigenvalues, as time series.
//
// Method: X X' by BLAS dsyrk and its p leading eigenvectors by LAPACK
// dsyevr; when T > N through the N-by-N X'X instead (X'X v = l v gives
// X X' (X v) = l (X v), so a component is X v / ||X v||), so that memory
// grows with min(N, T)^2. Only in builds with the tools' LAPACK
// (QVDEP_HAVE_LAPACK).
#ifndef QVDEP_ANALYSIS_STATS_PRINCIPAL_COMPONENTS_H
#define QVDEP_ANALYSIS_STATS_PRINCIPAL_COMPONENTS_H

#include <cstddef>
#include <string>

#include "analysis/linalg/work_vector.h"

namespace qvd::analysis {

#ifdef QVDEP_HAVE_LAPACK
// `x`: N series of T, series after series (column-major T-by-N); 0 < p <
// min(N, T). The components, T-by-p column-major, in `f`; the reason when
// there are none (no convergence, fewer than p non-zero eigenvalues), else
// an empty string.
std::string leading_components(const WorkVector<double> &x, std::size_t n, std::size_t t,
                               std::size_t p, WorkVector<double> &f);
#endif

}  // namespace qvd::analysis

#endif
