// The power-enhanced weighted CD of Juodis and Reese (2022), "The
// incidental parameters problem in testing for remaining cross-section
// correlation", JBES 40, after the power enhancement of Fan, Liao and Yao
// (2015), "Power enhancement in high-dimensional cross-sectional tests",
// Econometrica 83:
//
//   CD_W+ = CD_W + sum_{i<j} |rho_ij| 1(|rho_ij| > 2 sqrt(ln N / T_ij)),
//
// two-sided N(0,1). Under the null every |rho_ij| is O(1/sqrt(T)) and the
// screen 2 sqrt(ln N / T) eventually removes every pair (with probability
// going to one), so the added sum vanishes and CD_W's distribution is kept;
// under sparse alternatives the few large correlations pass the screen and
// enlarge the statistic. The screen is applied to the correlation itself:
// comparing sqrt(T)|rho| with it, and adding sqrt(T)|rho|, would make the
// sum grow with T under the null.
#ifndef QVDEP_ANALYSIS_POWER_ENHANCED_CD_H
#define QVDEP_ANALYSIS_POWER_ENHANCED_CD_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

// CD_W+ is CD_W (weighted_cd, or weighted_cd_draws) plus the screened sum
// sum_{i<j} |rho_ij| 1(|rho_ij| > 2 sqrt(ln N / T_ij)) over the usable
// pairs (0 for fewer than two cross-sections), which pair_sums forms beside
// the other sums over the pairs from the two pieces below.

// The screen 2 sqrt(ln N / T_ij) for each count of shared periods. A
// usable pair shares at least one period; the table starts at a count of 0
// all the same, where the screen is infinite and nothing passes it.
inline auto screens(const PairTable &pairs) {
  const double log_n = std::log(static_cast<double>(pairs.sections));
  return PerCommonPeriods(
      [log_n](int common) {
        return common > 0 ? 2.0 * std::sqrt(log_n / common)
                          : std::numeric_limits<double>::infinity();
      },
      most_common_periods(pairs));
}

// A pair's term of the screened sum: |rho| when it passes the screen, else
// +0. An unusable pair's NaN fails the comparison, and a pair that does not
// pass adds +0, which leaves the sum as it was (it starts at +0 and only
// grows, so it is never -0): the same sum as skipping both. The
// magnitude's bits are masked rather than chosen by a branch (which
// compilers make of a conditional expression), which pairs near the screen
// would make unpredictable. Every sum of the screened terms forms them here.
inline double screened(double rho, double screen) {
  const double magnitude = std::fabs(rho);
  const std::uint64_t keep = -static_cast<std::uint64_t>(magnitude > screen);
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) & keep);
}

}  // namespace qvd::analysis

#endif
