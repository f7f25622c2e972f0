// Period effects on an unbalanced panel, exactly and without N-by-T
// dummies. D is the matrix of period dummies at the observations and
// D_theta = D - theta_i B(D), each cross-section's rows less theta_i times
// their mean over its periods (theta_i = 1: demeaned by cross-section, as
// the two-way within transformation takes them; theta_i of the random
// effects: quasi-demeaned). Its cross-product is the T-by-T
//
//   G = D_theta'D_theta = diag(N_t) - sum_i (2 theta_i - theta_i^2)/T_i o_i o_i'
//
// (o_i: which periods cross-section i has), formed by one BLAS dsyrk over
// an N-by-T indicator matrix and split into eigenvalues lambda and vectors
// V by LAPACK's dsyevr. Then, for a weight w(lambda),
//
//   m <- m - D_theta V w(Lambda) V' D_theta' m,
//
// where D_theta' m (T rows) and D_theta F (one value per observation) are
// sums and means over each period's and each cross-section's observations:
// O(N T K) beside the O(N T^2 + T^3) of G. With w = 1/lambda this is the
// residual of m on D_theta, the projection plm's Within makes by lm.fit on
// the section-demeaned dummies (a pseudo-inverse: an eigenvalue below 1e-9
// of the largest, as the one every panel has, counts as zero, so a panel in
// several unconnected blocks is projected exactly too); with the weights
// of random_effects.h it is the GLS whitening of the two-way random effects
// model.
#ifndef QVDEP_ANALYSIS_MODELS_PERIOD_DUMMIES_H
#define QVDEP_ANALYSIS_MODELS_PERIOD_DUMMIES_H

#include <functional>
#include <vector>

#include "analysis/models/observations.h"

namespace qvd::analysis {

// `theta`: one weight per cross-section of the layout (N). Throws
// AnalysisError in a build without LAPACK.
void remove_period_part(ColumnMatrix &m, const Observations &obs, const std::vector<double> &theta,
                        const std::function<double(double lambda)> &weight);

}  // namespace qvd::analysis

#endif
