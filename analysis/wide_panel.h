// Laying a long-format panel out the way the module reads it: for each
// cross-section (in order of first appearance, since the local CD depends
// on it), for each period (sorted numerically when every period is a
// number, else as text), the regressors then the dependent value. A period
// a cross-section lacks is missing there.
#ifndef QVDEP_ANALYSIS_WIDE_PANEL_H
#define QVDEP_ANALYSIS_WIDE_PANEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/long_panel.h"
#include "host/dependence_test.h"

namespace qvd::analysis {

struct WidePanel {
  host::Panel panel;
  std::vector<std::string> section_labels;
  std::vector<std::string> period_labels;
  long complete_observations = 0;
  std::vector<int> complete_per_section;
};

// The module's missing-value pattern (qvdep_is_missing tests for it).
double missing_value();

// What bounds the layout: the model fitted to every cross-section, as far as
// the module's size limits care, and the memory the analysis may take
// (0: no limit).
struct LayoutLimits {
  bool intercept = true;
  int restrictions = 0;
  std::uint64_t memory_budget = 0;
};

// Throws InputError for columns of unequal length, an infinite value, a
// duplicate (id, time) pair (naming the row's line and column), and, before
// anything is laid out, for a panel or model past the module's limits or an
// analysis that would need more memory than the budget.
WidePanel make_wide_panel(const LongPanel &data, const LayoutLimits &limits = {});

// "big.csv: 20,000 cross-sections × 20,000 periods from 20,000 rows
// (0.005 % filled)": the panel's shape and how much of it the rows fill.
std::string sparsity(const LongPanel &data, std::size_t sections, std::size_t periods);

// "FILE:LINE:COLUMN" (or "row R" for data held in memory) for a row and a
// variable (0 id, 1 time, 2 dependent, 3 + v regressor v; -1: no column).
std::string location(const LongPanel &data, std::size_t row, int variable);

}  // namespace qvd::analysis

#endif
