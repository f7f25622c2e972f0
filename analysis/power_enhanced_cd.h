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

#include <vector>

#include "analysis/pair_statistics.h"

namespace qvd::analysis {

// CD_W+ is CD_W (weighted_cd, or weighted_cd_draws) plus the screened sum
// sum_{i<j} |rho_ij| 1(|rho_ij| > 2 sqrt(ln N / T_ij))
// over the usable pairs (0 for fewer than two cross-sections).
double power_enhancement(const PairTable &pairs);

// CD_W of `signs` (weighted_cd) and the screened sum (power_enhancement)
// in one pass over the pair tables, each sum adding the same terms in the
// same order as alone, so with the same bits.
struct WeightedCdTerms {
  double weighted_cd = 0, power_enhancement = 0;
};
WeightedCdTerms weighted_cd_and_power_enhancement(const PairTable &pairs,
                                                  const std::vector<int> &signs);

}  // namespace qvd::analysis

#endif
