// Pesaran's tests for unbalanced panels (Pesaran 2015, "Testing weak
// cross-sectional dependence in large panels", Econometric Reviews 34;
// section 4 of Pesaran 2004/2021 for the unbalanced case), defined exactly
// as R's plm 2.6 pcdtest computes them from a model's residuals (those of
// per-cross-section regressions, or of a pooled, within, random-effects or
// CCE model, or a series as given).
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
// The local version restricts the sums (and M) to the neighbour pairs
// (neighbours.h): those at most p apart in panel order, plm's pcdtest with
// the band proximity matrix w_ij = 1(0 < |i - j| <= p), or those of any
// proximity matrix w (proximity.h). plm sums a pair with T_ij >= 2 whose
// correlation does not exist (a series constant over the common periods)
// as NA, and so reports NA; here it is left out and counted as omitted.
// Note that plm centres the correlations and counts M pairs, where the
// module's CD(p) uses uncentred correlations and scales by (2N - p - 1)p:
// the figures differ on purpose.
//
// plm reports the scaled LM with a two-sided p-value; Pesaran's test is one
// sided (upper tail). Both are given.
//
// For within residuals, the bias-corrected scaled LM of Baltagi, Feng and
// Kao (2012), "A Lagrange Multiplier test for cross-sectional dependence in
// a fixed effects panel data model", J. Econometrics 170, as plm's
// test = "bcsclm" forms it:
//
//   LM_BC = scaled LM - N / (2 (T - 1)),   N(0,1), upper tail,
//
// where plm takes for T the largest T_ij of its whole table, the diagonal
// included: the most periods any cross-section has a residual in, and for
// N the cross-sections with a residual.
//
// The pairs' correlations and common periods are either formed chunk by
// chunk and summed as they come, in bounded memory (unbalanced_block), or
// kept as a pair table (centred_pair_table) for other statistics, the
// heatmap and the correlation table, and summed from it (plm_block): both
// sum in row order the same terms, and give the same bits.
#ifndef QVDEP_ANALYSIS_STATS_UNBALANCED_CD_H
#define QVDEP_ANALYSIS_STATS_UNBALANCED_CD_H

#include <climits>
#include <vector>

#include "analysis/common/stop_flag.h"
#include "analysis/input/neighbours.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/statistic.h"

namespace qvd::analysis {

struct UnbalancedDependence {
  long pairs = 0;           // M: pairs with a correlation, within the neighbours
  long omitted_pairs = 0;   // neighbour pairs without one
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

// The statistics over every pair and over the neighbour pairs.
struct UnbalancedBlock {
  UnbalancedDependence all, local;
};
// From one pass over the pairs, formed chunk by chunk and not kept; the
// local statistics over the pairs at most `max_distance` apart, or over
// `local` (of N cross-sections). `stop` is looked at between the chunks of
// pairs.
UnbalancedBlock unbalanced_block(const double *residuals, int sections, int periods,
                                 int max_distance, const StopFlag &stop = {});
UnbalancedBlock unbalanced_block(const double *residuals, int sections, int periods,
                                 const Neighbours &local, const StopFlag &stop = {});

// plm's pair table: rho~_ij packed (NaN where it does not exist, 1 on the
// diagonal) and T_ij packed (each cross-section's periods with a residual
// on the diagonal; no table, as pair_table.h keeps it, when no residual is
// missing). `usable` counts the pairs with a correlation, `unusable` the
// others. Formed on the shared pool, a column of the packed triangles at a
// time; the same bits however many threads form it. O(N^2 T).
PairTable centred_pair_table(const double *residuals, int sections, int periods,
                             const StopFlag &stop = {});

// The statistics over every pair of a centred pair table and over the
// neighbour pairs `local` (of its N cross-sections). Throws InputError when
// `local` is of another number of cross-sections.
UnbalancedBlock plm_block(const PairTable &centred, const Neighbours &local);

// LM_BC over the pairs of `over` (either set of plm_block's) of the
// centred pair table it was formed from; not available without a pair or
// when no cross-section has two periods.
Statistic bias_corrected_scaled_lm(const UnbalancedDependence &over, const PairTable &centred);

}  // namespace qvd::analysis

#endif
