// A panel in long format: one row per observation, held as columns in
// memory. The CSV reader produces one; a binding fills one from its own
// arrays.
//
// Missing values are NaN (any NaN: the module's missing pattern and an
// ordinary quiet NaN alike). Infinities are not data: they are refused.
#ifndef QVDEP_ANALYSIS_LONG_PANEL_H
#define QVDEP_ANALYSIS_LONG_PANEL_H

#include <string>
#include <vector>

namespace qvd::analysis {

struct LongPanel {
  std::string id_name = "id";               // names used in messages and reports
  std::string time_name = "time";
  std::vector<std::string> ids;             // cross-section of every row
  std::vector<std::string> times;           // period of every row
  std::string dependent_name = "y";
  std::vector<double> dependent;            // one value per row
  std::vector<std::string> regressor_names;
  std::vector<std::vector<double>> regressors;  // one column of rows per regressor

  // Where the rows came from, for messages: a file name ("" for memory) and,
  // when read from a file, the line of every row. Without lines, rows are
  // named by their 1-based position.
  std::string source;
  std::vector<long> lines;
  // The 1-based column of each variable in the source file (0: unknown),
  // in the order id, time, dependent, regressors.
  std::vector<int> source_columns;

  std::size_t rows() const { return ids.size(); }
};

}  // namespace qvd::analysis

#endif
