// Laying a panel out the way the module reads it: for each cross-section
// (in order of first appearance, since the local CD depends on it), for
// each period (sorted numerically when every period is a number, else as
// text), the regressors then the dependent value. A period a cross-section
// lacks is missing there.
//
// The panel comes in long format (one row per observation, long_panel.h) or
// already laid out in a caller's array, as a binding holds an (N, T, K + 1)
// array; both give the same layout, value for value, for the same panel.
#ifndef QVDEP_ANALYSIS_LAYOUT_WIDE_PANEL_H
#define QVDEP_ANALYSIS_LAYOUT_WIDE_PANEL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/common/model_choice.h"
#include "analysis/input/long_panel.h"
#include "host/dependence_run.h"

namespace qvd::analysis {

struct WidePanel {
  host::Panel panel;
  std::vector<std::string> section_labels;
  std::vector<std::string> period_labels;
  long complete_observations = 0;
  std::vector<int> complete_per_section;
};

// A panel in a caller's array: for each of the N cross-sections, for each
// of the T periods, the K regressors then the dependent value (NaN
// missing). Value (i, j, v) is at values[i s0 + j s1 + v s2] for the
// strides s (in values, any sign), so a transposed or sliced array is read
// where it lies; no strides given means row-major. The periods are put in
// the layout's order (an array whose period labels are sorted keeps its
// order); labels must be distinct. The array is read, not kept: it must
// outlive the call that lays it out.
struct ArrayPanel {
  const double *values = nullptr;
  std::optional<std::array<std::ptrdiff_t, 3>> strides;  // empty: row-major
  std::vector<std::string> section_labels;  // N, in panel order
  std::vector<std::string> period_labels;   // T, as the array's second axis holds them
  std::string id_name = "id", time_name = "time", dependent_name = "y";
  std::vector<std::string> regressor_names;  // K
  std::string source;                         // for messages; "" for memory

  // The cells of the array, each an observation given.
  std::size_t rows() const { return section_labels.size() * period_labels.size(); }
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
  Model model = Model::unit;  // whose residuals are tested
};

// Throws InputError for columns of unequal length, a label code past its
// labels, an infinite value, a duplicate (id, time) pair (naming the row's
// line and the line that gave the pair first), a period column that holds
// both numbers and text (naming the first label that is not a number and
// its line; periods sort as numbers or as text), and, before anything is laid
// out, for a panel or model past the module's limits or an analysis that
// would need more memory than the budget.
WidePanel make_wide_panel(const LongPanel &data, const LayoutLimits &limits = {});

// The same for a panel already laid out; the rows its messages name are the
// array's cells in order (row i*T + t + 1 is cross-section i, period t).
WidePanel make_wide_panel(const ArrayPanel &data, const LayoutLimits &limits = {});


// "big.csv: 20,000 cross-sections × 20,000 periods from 20,000 rows
// (0.005 % filled)": the panel's shape and how much of it the rows fill.
std::string sparsity(const std::string &source, std::size_t rows, std::size_t sections,
                     std::size_t periods);

// Whether the rows fill under 1 % of the N-by-T layout, the mark of an id
// or time column that is not one (every row a new cross-section or period).
bool sparsely_filled(std::size_t rows, std::size_t sections, std::size_t periods);

// "FILE:LINE:COLUMN" (or "row R" for data held in memory, R the caller's
// name of the row or its 1-based position) for a row and a
// variable (0 id, 1 time, 2 dependent, 3 + v regressor v; -1: no column).
std::string location(const LongPanel &data, std::size_t row, int variable);

}  // namespace qvd::analysis

#endif
