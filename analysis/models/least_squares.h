// Least squares as R's lm.fit computes it, through LAPACK's Householder QR
// (dgeqrf, then dtrtrs for the coefficients). The columns are taken in
// order, and one whose remainder, once the columns kept before it are
// projected out, is shorter than 1e-7 of its own length is aliased and
// dropped (LINPACK's dqrdc2 with lm's tolerance): of collinear columns the
// later go, as plm drops them. The fit is then redone without it, so the
// columns after it are judged against the kept ones only, as dqrdc2's
// cycling of a negligible column to the end does.
//
// Accuracy: backward stable, as lm.fit; residuals are y - X b, formed from
// the data, with an error of a few ulps of |y| + |X||b| each.
#ifndef QVDEP_ANALYSIS_MODELS_LEAST_SQUARES_H
#define QVDEP_ANALYSIS_MODELS_LEAST_SQUARES_H

#include <cstddef>
#include <vector>

#include "analysis/linalg/work_vector.h"
#include "analysis/models/observations.h"

namespace qvd::analysis {

// lm's tolerance of a column's remainder, relative to its length.
inline constexpr double kAliasTolerance = 1e-7;

struct LeastSquares {
  std::vector<double> coefficients;  // one per column of the design; NaN when dropped
  std::vector<bool> kept;            // the columns that entered
  WorkVector<double> residuals;      // y - X b, one per row
  double residual_sum_of_squares = 0;
  ColumnMatrix basis;  // with want_basis: orthonormal basis of the kept columns

  std::size_t rank() const;
};

// `data`: y in column 0, the design in the columns after it. `candidates`
// (one per design column; empty: all) names those that may enter. Throws
// AnalysisError in a build without LAPACK.
LeastSquares least_squares(const ColumnMatrix &data, std::vector<bool> candidates = {},
                           bool want_basis = false);

// y - X b over the columns whose coefficient is a number (`data` as above).
WorkVector<double> residuals_of(const ColumnMatrix &data, const std::vector<double> &coefficients);

// The Euclidean length of x[0 .. n).
double euclidean_length(const double *x, std::size_t n);

}  // namespace qvd::analysis

#endif
