// Reading a panel in long format from a CSV file: one row per observation,
// a column naming the cross-section, one naming the period, and numeric
// columns for the dependent variable and the regressors.
#ifndef QVDEP_CLI_CSV_PANEL_H
#define QVDEP_CLI_CSV_PANEL_H

#include <istream>
#include <string>
#include <vector>

#include "host/dependence_test.h"

namespace qvd::cli {

struct PanelColumns {
  std::string section;                  // empty: the first column
  std::string period;                   // empty: the second column
  std::string dependent;                // empty: the third column
  std::vector<std::string> regressors;  // empty: every remaining column
};

struct CsvPanel {
  host::Panel panel;
  std::vector<std::string> section_labels;  // in order of first appearance
  std::vector<double> periods;              // sorted
  std::string dependent;
  std::vector<std::string> regressors;
  long observations = 0;                    // rows read
};

// Cross-sections keep their order of first appearance; periods must be
// numbers and are sorted numerically. A period a cross-section lacks, and an
// empty cell, "NA" or ".", become missing values. Throws
// analysis::InputError (a std::runtime_error) with the line and column for
// anything it cannot read. The analysis library's reader does the work.
CsvPanel read_csv_panel(std::istream &in, const PanelColumns &columns);

}  // namespace qvd::cli

#endif
