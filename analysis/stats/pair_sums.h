// The sums over pairs that the statistics beyond the module's take from the
// pair table, formed in one pass.
//
// Each is a sum over the pairs i < j in row order, and so a chain of
// additions each waiting on the one before: at N = 2,000 a chain of two
// million additions takes some 2.5 ms however little else the loop does.
// Side by side in one loop the chains wait at the same time, and the
// table is read once. Every sum adds its terms in row order, so CD_W has
// the bits of its own loop (weighted_cd), which its draws still use, and
// LM_adj's sum those of BiasAdjustedLmBands, which goes on from it.
#ifndef QVDEP_ANALYSIS_STATS_PAIR_SUMS_H
#define QVDEP_ANALYSIS_STATS_PAIR_SUMS_H

#include <cstddef>
#include <optional>
#include <vector>

#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

struct PairSums {
  double mean = 0, mean_abs = 0;  // of the usable pairs' rho_ij; NaN when there is none
  double power_enhancement = 0;   // CD_W+'s screened sum
  std::optional<double> weighted_cd;  // CD_W of the signs, when they are given
  double scaled_squares = 0;      // LM_adj's terms over the rows given scales
};

// `signs`: CD_W's weights w_i, or null; `scales`: LM_adj's (T-k)/v_ij for
// the pairs of the first `scaled_rows` rows in row order (null when
// `scaled_rows` is 0).
PairSums pair_sums(const PairTable &pairs, const std::vector<int> *signs, const double *scales,
                   std::size_t scaled_rows);

}  // namespace qvd::analysis

#endif
