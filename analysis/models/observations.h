// The complete cells of a laid-out panel, as plm's model frame holds them:
// a cell enters when every value in it is present (R's na.omit), and a
// cross-section or period without a complete cell is no part of the model
// (plm drops unused levels), so the N, T and balance of the formulas count
// only those that have one. Observations run cross-section by
// cross-section, each one's periods in order, as a pdata.frame sorts its
// rows; every group sum below adds them in that order.
#ifndef QVDEP_ANALYSIS_MODELS_OBSERVATIONS_H
#define QVDEP_ANALYSIS_MODELS_OBSERVATIONS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/linalg/work_vector.h"
#include "host/dependence_run.h"

namespace qvd::analysis {

// A matrix held column by column, as LAPACK takes it.
struct ColumnMatrix {
  std::size_t rows = 0, columns = 0;
  WorkVector<double> values;

  ColumnMatrix() = default;
  ColumnMatrix(std::size_t r, std::size_t c) : rows(r), columns(c), values(r * c, 0.0) {}
  double *column(std::size_t j) { return values.data() + j * rows; }
  const double *column(std::size_t j) const { return values.data() + j * rows; }
};

enum class Grouping { section, period };

struct Observations {
  std::size_t sections = 0, periods = 0;       // N and T of the layout
  std::vector<std::uint32_t> section, period;  // of each observation
  std::vector<long> per_section;               // T_i, N of them (0: not in the model)
  std::vector<long> per_period;                // N_t, T of them
  long present_sections = 0, present_periods = 0;

  std::size_t size() const { return section.size(); }
  // Every cross-section in the model observed at every period in it.
  bool balanced() const { return static_cast<long>(size()) == present_sections * present_periods; }
  const std::vector<std::uint32_t> &group_of(Grouping g) const {
    return g == Grouping::section ? section : period;
  }
  const std::vector<long> &group_sizes(Grouping g) const {
    return g == Grouping::section ? per_section : per_period;
  }
};

Observations complete_cells(const host::Panel &panel);

// The variables at the observations: the dependent value in column 0, then
// a column of ones when `intercept`, then the K regressors.
ColumnMatrix variables(const host::Panel &panel, const Observations &obs, bool intercept);

// One value per observation spread over N rows of T, missing elsewhere.
WorkVector<double> spread(const double *values, const Observations &obs);

// The mean of each column over each group's observations: N (or T) rows, 0
// for a group without one.
ColumnMatrix group_means(const ColumnMatrix &m, const Observations &obs, Grouping g);

// m -= the group means, column by column.
void subtract_group_means(ColumnMatrix &m, const Observations &obs, Grouping g);

}  // namespace qvd::analysis

#endif
