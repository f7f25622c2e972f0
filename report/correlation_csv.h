// The residual correlation matrix as a labelled N-by-N CSV table: a header
// row of cross-section labels, then one row per cross-section starting with
// its label. The diagonal is 1; a pair that could not be correlated is an
// empty cell. Values are written with 17 significant digits, enough to read
// back every double exactly.
#ifndef QVDEP_REPORT_CORRELATION_CSV_H
#define QVDEP_REPORT_CORRELATION_CSV_H

#include <string>

#include "analysis/analysis.h"

namespace qvd::report {

std::string correlation_csv(const analysis::Result &result);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string &text);

}  // namespace qvd::report

#endif
