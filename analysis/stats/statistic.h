// A statistic the library forms beyond the module's, which a panel may not
// allow (an unbalanced one, too few periods, a rank-deficient design): its
// value and p-value, or why there is none.
#ifndef QVDEP_ANALYSIS_STATS_STATISTIC_H
#define QVDEP_ANALYSIS_STATS_STATISTIC_H

#include <string>
#include <utility>

#include "analysis/common/not_a_number.h"

namespace qvd::analysis {

struct Statistic {
  bool available = false;
  std::string reason;     // why not, when not available
  double statistic = 0;   // NaN when not available
  double pvalue = 0;      // in the statistic's reference law; NaN when not available
};

inline Statistic not_available(std::string reason) {
  return {false, std::move(reason), kNaN, kNaN};
}

}  // namespace qvd::analysis

#endif
