// The residual correlation matrix as a labelled N-by-N CSV table: a header
// row of cross-section labels, then one row per cross-section starting with
// its label. The diagonal is 1; a pair that could not be correlated is an
// empty cell. Each value is written in the fewest digits that read back as
// exactly the same double.
#ifndef QVDEP_REPORT_CORRELATION_CSV_H
#define QVDEP_REPORT_CORRELATION_CSV_H

#include <ostream>
#include <string>

#include "analysis/result/result.h"

namespace qvd::report {

// Writes the table to `out` a megabyte at a time, so that it never needs
// to be held whole (it takes about 20 N^2 bytes).
void write_correlation_csv(const analysis::Result &result, std::ostream &out);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string &text);

}  // namespace qvd::report

#endif
