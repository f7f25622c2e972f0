// Pesaran's tests for unbalanced panels (Pesaran 2015, "Testing weak
// cross-sectional dependence in large panels", Econometric Reviews 34;
// section 4 of Pesaran 2004/2021 for the unbalanced case), defined exactly
// as R's plm 2.6 pcdtest computes them from per-cross-section residuals.
//
// For a pair (i, j) let T_ij be the periods where both residual series are
// present. The pair's correlation is Pearson's, each series centred on its
// own mean over those T_ij periods:
//
//   rho~_ij = sum_t (e_it - m_i)(e_jt - m_j)
//             / sqrt(sum_t (e_it - m_i)^2 * sum_t (e_jt - m_j)^2).
//
// Only pairs where rho~ exists are counted: T_ij >= 2 and both centred sums
// of squares non-zero (below 1e-24 of the uncentred sum counts as zero, a
// series constant over the common periods up to rounding). With M such
// pairs (in place of N(N-1)/2):
//
//   LM        = sum T_ij rho~^2                       chi-square(M), upper tail
//   scaled LM = (2M)^(-1/2) sum (T_ij rho~^2 - 1)     N(0,1)
//   CD        = M^(-1/2) sum sqrt(T_ij) rho~          N(0,1), two-sided
//   mean rho~ and mean |rho~| over the M pairs.
//
// The local version restricts the sums (and M) to pairs at most p apart in
// panel order; this is plm's pcdtest with the band proximity matrix
// w_ij = 1(0 < |i - j| <= p). Note that plm centres the correlations and
// counts M pairs, where the module's CD(p) uses uncentred correlations and
// scales by (2N - p - 1)p: the figures differ on purpose.
//
// plm reports the scaled LM with a two-sided p-value; Pesaran's test is one
// sided (upper tail). Both are given.
#ifndef QVDEP_ANALYSIS_STATS_UNBALANCED_CD_H
#define QVDEP_ANALYSIS_STATS_UNBALANCED_CD_H

#include <climits>
#include <vector>

#include "analysis/common/stop_flag.h"

namespace qvd::analysis {

struct UnbalancedDependence {
  long pairs = 0;           // M: pairs with a correlation, within the distance
  long omitted_pairs = 0;   // pairs within the distance without one
  double lm = 0, lm_pvalue = 0;                    // chi-square(M), upper tail
  double scaled_lm = 0;
  double scaled_lm_pvalue = 0;                     // two-sided, as plm reports it
  double scaled_lm_upper_pvalue = 0;               // upper tail, Pesaran's test
  double cd = 0, cd_pvalue = 0;                    // two-sided
  double mean_correlation = 0, mean_abs_correlation = 0;
};

constexpr int kAllPairs = INT_MAX;

// `residuals`: N rows of T values (N T in all), missing cells are the module's missing
// pattern (qvdep_is_missing). `max_distance`: pairs with j - i at most this
// enter the statistics (1 or more; kAllPairs: every pair). Without a
// counted pair every statistic and p-value is NaN. Throws InputError for a
// distance below 1.
UnbalancedDependence unbalanced_dependence(const double *residuals, int sections,
                                           int periods, int max_distance = kAllPairs);

// The statistics over every pair and over the pairs at most `max_distance`
// apart, from one pass over the pairs.
struct UnbalancedBlock {
  UnbalancedDependence all, local;
};
// `stop` is looked at between the chunks of pairs.
UnbalancedBlock unbalanced_block(const double *residuals, int sections, int periods,
                                 int max_distance, const StopFlag &stop = {});

}  // namespace qvd::analysis

#endif
