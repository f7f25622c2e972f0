// The rank tests of cross-sectional independence for panels of many
// cross-sections and few periods: Friedman's (1937, "The use of ranks to
// avoid the assumption of normality implicit in the analysis of variance",
// JASA 32) and Frees' (1995, "Assessing cross-sectional correlation in
// panel data", J. Econometrics 69).
//
// Over the T periods where every cross-section has a residual (all periods
// of a balanced panel), each cross-section's residuals are ranked over the
// periods, ties taking their average rank, and r_ij is Spearman's rank
// correlation of cross-sections i and j: Pearson's correlation of their
// ranks. With N cross-sections and the averages over the N(N - 1)/2 pairs
//
//   R  = mean of r_ij,   R2 = mean of r_ij^2,
//
//   FR  = (T - 1) [(N - 1) R + 1]      chi-square(T - 1), upper tail;
//   FRE = N (R2 - 1/(T - 1))           Frees' Q law (frees_q.h), upper tail.
//
// Without ties FR is exactly Friedman's statistic with the periods as the
// treatments and the cross-sections as the blocks,
// 12/(N T (T + 1)) sum_t R_t^2 - 3 N (T + 1), R_t the sum of period t's
// ranks; with ties it is the statistic of the Spearman correlations above,
// which differs from the tie-corrected Friedman statistic where the
// cross-sections' ties differ. Its reference law has T - 1 degrees of
// freedom, the treatments' count less one (not N - 1).
//
// Method: with u_i the centred ranks of cross-section i scaled to unit
// length, r_ij = u_i'u_j, so
//
//   sum_{i<j} r_ij   = (||sum_i u_i||^2 - sum_i ||u_i||^2) / 2,
//   sum_{i<j} r_ij^2 = (||U U'||_F^2 - sum_i ||u_i||^4) / 2,
//
// the Gram matrix taken of the shorter side of the N-by-T matrix U:
// O(N T log T + N T min(N, T)) in place of O(N^2 T). Rounding: a few ulps of
// the sums over the pairs, relative to their terms' magnitudes.
#ifndef QVDEP_ANALYSIS_STATS_RANK_TESTS_H
#define QVDEP_ANALYSIS_STATS_RANK_TESTS_H

#include "analysis/stats/statistic.h"

namespace qvd::analysis {

// A rank test, with the periods its ranks were taken over.
struct RankStatistic : Statistic {
  int periods_used = 0;  // T: the periods every cross-section has a residual in
};

// Frees' test, with the critical values of Q at its periods.
struct FreesStatistic : RankStatistic {
  double critical_10 = 0, critical_5 = 0, critical_1 = 0;  // P(Q > c) = 10, 5, 1 %; NaN if none
};

struct RankTests {
  RankStatistic friedman;
  FreesStatistic frees;
  double mean_correlation = 0;          // R; NaN when not available
  double mean_squared_correlation = 0;  // R2; NaN when not available
  // Some cross-section lacks a period, so the ranks are over the periods
  // common to all (periods_used of the panel's), as both tests' results say.
  bool common_periods_only = false;
};

// `residuals`: N rows of T values, missing cells the module's missing
// pattern (qvdep_is_missing). Not available: fewer than 2 cross-sections,
// fewer than 3 periods common to every cross-section, or a cross-section
// whose residuals are all equal over those periods (no ranks to correlate).
RankTests rank_tests(const double *residuals, int sections, int periods);

}  // namespace qvd::analysis

#endif
