// The readable report of one analysis: the model, the panel's shape, one
// row per test with its statistic, distribution and p-value, the average
// correlations, notes and warnings.
#ifndef QVDEP_REPORT_REPORT_H
#define QVDEP_REPORT_REPORT_H

#include <string>

#include "analysis/analysis.h"

namespace qvd::report {

std::string report_text(const std::string &source, const analysis::Result &result);

// A p-value as printed: "NA" when there is none, "< 2.2e-16" for an exact 0
// (a tail below the double's resolution near 1, not a probability of 0),
// else six significant digits.
std::string format_pvalue(double p);

}  // namespace qvd::report

#endif
