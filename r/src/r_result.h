// One analysis's result as the R list the package's R code makes its
// "cdtest" object of:
//
//   report        the command-line tool's text report (report_text)
//   figures       the tool's JSON object (result_json, docs/output.md) as
//                 an R list: objects become named lists, arrays of numbers,
//                 strings or logicals vectors, other arrays lists, null NA
//   titles        each test row's title, as the report names it
//   correlations  the N x N matrix of residual correlations, its rows and
//                 columns named by cross-section, NA for pairs that could
//                 not be correlated
//   model, effect the model whose residuals were tested, and its effect
//                 (NA for a model without effects)
//   common_periods  T_ij, the periods each pair of cross-sections shares,
//                 as an N x N integer matrix; NULL when every residual is
//                 there (every T_ij is then the panel's T)
//   legend        the lines of the density picture's legend (CD and CDw+
//                 with their p-values, the averages)
//
// Every number is the library's double as it is, so each figure is the
// JSON's to the bit. Only on R's thread: it allocates R objects.
#ifndef QVDEP_R_RESULT_H
#define QVDEP_R_RESULT_H

#include <Rcpp.h>

#include <string>

#include "analysis/result/result.h"

namespace qvd::r {

// The library's text (UTF-8) as R's string, marked as UTF-8.
Rcpp::String utf8(const std::string &text);

Rcpp::List result_to_r(const std::string &source, const analysis::Result &result);

}  // namespace qvd::r

#endif
