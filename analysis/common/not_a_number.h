// The quiet NaN that stands for a figure the library could not form (a
// statistic that is not available, a mean without pairs, a pair that could
// not be correlated). The module's own missing results carry their bit
// pattern (qvdep.h); this one is only the library's.
#ifndef QVDEP_ANALYSIS_COMMON_NOT_A_NUMBER_H
#define QVDEP_ANALYSIS_COMMON_NOT_A_NUMBER_H

#include <limits>

namespace qvd::analysis {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace qvd::analysis

#endif
