// The readable report of one analysis: the model, the panel's shape, one
// row per test with its statistic, distribution and p-value, the average
// correlations, notes and warnings.
#ifndef QVDEP_REPORT_REPORT_H
#define QVDEP_REPORT_REPORT_H

#include <string>

#include "analysis/result/result.h"

namespace qvd::report {

std::string report_text(const std::string &source, const analysis::Result &result);

// Every p-value of a result is formed from its statistic with full relative
// precision down to this (tail_probability.h); below it the double's
// subnormal range begins to round it away, and it is printed as a bound.
inline constexpr double kSmallestPrintedPvalue = 1e-300;

// A p-value as printed: "NA" when there is none, "< 1e-300" below
// kSmallestPrintedPvalue (0 among them), else six significant digits.
std::string format_pvalue(double p);

// "p = 0.0371633", or "p < 1e-300" for the bound.
std::string pvalue_phrase(double p);

}  // namespace qvd::report

#endif
