// The bias-corrected CD* of Pesaran and Xie (2021), "A bias-corrected CD
// test for error cross-sectional dependence in panel data models with
// latent factors" (Cambridge Working Papers in Economics 2158), for
// residuals that may still contain strong common factors.
//
// On a balanced panel of residuals e_it:
//  1. standardise each cross-section: z_it = (e_it - m_i)/s_i, m_i its mean
//     and s_i^2 its mean square deviation (divisor T);
//  2. f = the p eigenvectors of the T-by-T matrix Z Z' (Z: the z_i as
//     columns) with the largest eigenvalues: the principal-component
//     estimates of p factors;
//  3. regress each z_i on [1, f]: loadings gamma_i (p values) and residuals
//     eps_i, sigma_i^2 = T^-1 sum_t eps_it^2;
//  4. scale each factor's loadings to unit mean square across
//     cross-sections, gamma~_il = gamma_il / sqrt(N^-1 sum_i gamma_il^2);
//  5. phi = N^-1 sum_i gamma~_i / sigma_i,
//     w   = N^-1 sum_i (1 - sigma_i gamma~_i' phi)^2;
//  6. CD_eps = sqrt(2/(N(N-1))) sum_{i<j} sqrt(T) rho_ij over the
//     correlations of the eps_i, and
//        CD* = (CD_eps + sqrt(T/2) (1 - w)) / w,
//     two-sided N(0,1).
// Removing estimated factors biases CD_eps downwards by about
// sqrt(T/2)(1 - w) and shrinks its spread by w; CD* undoes both.
//
// Method: the principal components of principal_components.h (Z Z' by
// BLAS dsyrk, its leading eigenvectors by LAPACK dsyevr, through the N-by-N
// Z'Z when T > N, so memory grows with min(N, T)^2), the N regressions at
// once by dgels with N right-hand sides. The sum over
// pairs uses sum_{i<j} u_i'u_j = (||sum_i u_i||^2 - sum_i ||u_i||^2)/2 for
// the unit vectors u_i = eps_i/||eps_i||, O(NT) in place of O(N^2 T) (eps_i
// has mean zero, being residuals of a regression with an intercept).
#ifndef QVDEP_ANALYSIS_STATS_CD_STAR_H
#define QVDEP_ANALYSIS_STATS_CD_STAR_H

#include <string>
#include <vector>

#include "analysis/linalg/work_vector.h"
#include "analysis/stats/statistic.h"

namespace qvd::analysis {

// CD* and its two-sided p-value, or why there is none; and its parts.
struct CdStar : Statistic {
  double cd_eps = 0;  // CD of the defactored residuals; NaN when not available
  double w = 0;       // the correction's scale, in (0, 1]; NaN when not available
};

// `residuals`: N rows of T values (missing: qvdep_is_missing), which CD*
// standardises and defactors in place. Not
// available: a missing value (unbalanced panel), a cross-section without
// variation, one the factors fit exactly (sigma_i <= 1e-8, always so when
// p = T - 1), a build without LAPACK. Throws InputError unless 0 < components < min(N, T).
CdStar cd_star(WorkVector<double> residuals, int sections, int periods,
               int components);

}  // namespace qvd::analysis

#endif
