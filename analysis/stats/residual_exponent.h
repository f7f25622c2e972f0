// The exponent of cross-sectional dependence of a model's residuals,
// Bailey, Kapetanios and Pesaran (2019), "Exponent of cross-sectional
// dependence for residuals", Sankhya B 81, their equation (25): how many of
// the N(N - 1)/2 pairwise correlations are non-zero, on the scale of N.
//
// With rho_ij the Pearson correlation of the residuals of cross-sections i
// and j over their T_ij common periods (T on a balanced panel),
// n = N(N - 1)/2, size p and tuning delta,
//
//   c_p(T_ij) = Phi^-1(1 - (p/2) / n^delta) / sqrt(T_ij),
//   alpha~    = ln(N + sum_{i != j} 1{|rho_ij| > c_p}) / (2 ln N),
//
// the sum counting each pair twice: N + the count is the sum of the N-by-N
// matrix of the correlations declared non-zero, the diagonal's ones
// included. alpha~ = 1/2 when no correlation clears the threshold and 1
// when every one does.
//
// The bootstrap over cross-sections: each of R draws takes N cross-sections
// with replacement and forms alpha~ of the drawn panel from the same
// decisions 1{|rho_ij| > c_p}. Two copies of one cross-section are not a
// pair of cross-sections: their correlation of 1 says nothing of
// dependence, so they are left out of the count (N + the count keeps the
// diagonal's N). With m_i the times cross-section i is drawn, a draw's
// count is sum over the pairs declared non-zero of m_i m_j, O(N + that
// number of pairs) a draw. The draws' indices come from one 64-bit Mersenne
// twister seeded with `seed` (its sequence is fixed by the C++ standard),
// an index in [0, N) by rejection from its 64-bit outputs, so a seed gives
// the same draws everywhere. The interval's ends are the draws' 2.5 % and
// 97.5 % quantiles (linear interpolation between order statistics,
// Hyndman and Fan's definition 7).
#ifndef QVDEP_ANALYSIS_STATS_RESIDUAL_EXPONENT_H
#define QVDEP_ANALYSIS_STATS_RESIDUAL_EXPONENT_H

#include <cstdint>
#include <string>

#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

struct ResidualExponentOptions {
  double size = 0.10;             // p, in (0, 1)
  double tuning = 0.5;            // delta, in (0, 1]
  int draws = 200;                // R, the bootstrap's draws; 0: no bootstrap
  std::uint64_t seed = 20190101;  // of the bootstrap's draws
};

struct ResidualExponent {
  bool available = false;
  std::string reason;                   // why not, when not available
  double alpha = 0;                     // alpha~; NaN when not available
  long nonzero_pairs = 0;               // pairs i < j declared non-zero
  long pairs = 0;                       // pairs i < j with a correlation
  double threshold = 0;                 // c_p at the panel's T (the most periods a pair shares)
  int draws = 0;                        // R
  double bootstrap_standard_error = 0;  // of the draws' alpha~ (divisor R - 1; NaN for R < 2)
  double quantile_2_5 = 0;              // the draws' 2.5 % quantile: the interval's lower end
  double quantile_97_5 = 0;             // their 97.5 % quantile: its upper end (NaN for R = 0)
};

// Throws InputError for a size outside (0, 1), a tuning outside (0, 1] or
// fewer than 0 draws.
void check_residual_exponent_options(const ResidualExponentOptions &options);

// From a pair table: the module's (uncentred correlations, which are
// Pearson's for the residuals of regressions with an intercept) or
// centred_pair_table's (unbalanced_cd.h). Pairs whose correlation is NaN
// are left out of the count. Not available with fewer than 2
// cross-sections or no pair with a correlation. Throws InputError for the
// options check_residual_exponent_options refuses.
ResidualExponent residual_exponent(const PairTable &correlations,
                                   const ResidualExponentOptions &options = {});

// From residuals, N rows of T (missing: qvdep_is_missing), through their
// centred pair table.
ResidualExponent residual_exponent(const double *residuals, int sections, int periods,
                                   const ResidualExponentOptions &options = {});

}  // namespace qvd::analysis

#endif
