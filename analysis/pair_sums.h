// The sums over pairs that the statistics beyond the module's take from the
// pair table, formed in one pass.
//
// Each is a sum over the pairs i < j in row order, and so a chain of
// additions each waiting on the one before: at N = 2,000 a chain of two
// million additions takes some 2.5 ms however little else the loop does.
// Side by side in one loop the chains wait at the same time, and the
// N-by-N table is read once. Every sum adds its terms in row order, so CD_W
// and LM_adj's sum have the bits of their own loops (weighted_cd,
// bias_adjusted_lm over the table), which the draws of CD_W and a late
// LM_adj still use.
#ifndef QVDEP_ANALYSIS_PAIR_SUMS_H
#define QVDEP_ANALYSIS_PAIR_SUMS_H

#include <optional>
#include <vector>

#include "analysis/bias_adjusted_lm.h"
#include "analysis/pair_statistics.h"

namespace qvd::analysis {

struct PairSums {
  double mean = 0, mean_abs = 0;  // of the usable pairs' rho_ij; NaN when there is none
  double power_enhancement = 0;   // CD_W+'s screened sum
  std::optional<double> weighted_cd;    // CD_W of the signs, when they are given
  std::optional<BiasAdjustedLm> lm_adj;  // when its weights are given
};

// `signs`: CD_W's weights w_i, or null; `lm_adj`: LM_adj's weights, or
// null. LM_adj needs every pair to have a correlation, and is refused
// otherwise as bias_adjusted_lm(weights, pairs) refuses it.
PairSums pair_sums(const PairTable &pairs, const std::vector<int> *signs,
                   const BiasAdjustedLmWeights *lm_adj);

}  // namespace qvd::analysis

#endif
