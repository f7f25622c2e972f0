// The report library's one way to read a result's correlations: every
// picture, table and curve reads rho_ij through this accessor, so that how
// the result stores them is known in one place.
#ifndef QVDEP_REPORT_RESULT_CORRELATION_H
#define QVDEP_REPORT_RESULT_CORRELATION_H

#include <cstddef>

#include "analysis/analysis.h"

namespace qvd::report {

// rho_ij of cross-sections i and j (1 on the diagonal, NaN for a pair that
// could not be correlated).
inline double correlation(const analysis::Result &result, std::size_t i, std::size_t j) {
  return result.correlations[i * result.section_labels.size() + j];
}

}  // namespace qvd::report

#endif
