// What the report says of the model whose residuals were tested: the
// report's heading, the lines of its header that name the model, and the
// title of the correlations' pictures. Each cross-section's own regression
// (model unit) reads as it always has; the panel models go by R's plm
// names, with their effects.
#ifndef QVDEP_REPORT_MODEL_TEXT_H
#define QVDEP_REPORT_MODEL_TEXT_H

#include <string>
#include <utility>
#include <vector>

#include "analysis/result/result.h"

namespace qvd::report {

// "Cross-sectional dependence of the residuals of per-cross-section regressions".
std::string report_heading(const analysis::Result &r);

// The header's lines on the model, each a label and its text:
//   ("model", "inv ~ const + value + capital, one equation per firm") for unit;
//   ("model", "within (twoways effects): fixed effects by firm and by year"),
//   ("regression", "inv ~ value + capital") for a panel model.
std::vector<std::pair<std::string, std::string>> model_lines(const analysis::Result &r);

// The pictures' title: "Residual correlations: inv, grunfeld.csv"; the
// panel models' correlations are centred over each pair's common periods,
// and say so.
std::string correlations_title(const analysis::Result &r, const std::string &source);

}  // namespace qvd::report

#endif
