// A panel in long format: one row per observation, held as columns in
// memory. The CSV reader produces one; a binding fills one from its own
// arrays.
//
// Cross-section ids and periods are interned: each distinct label is held
// once, and every row holds the index of its label. A panel of a million
// rows has a few thousand distinct ids and periods, so the layout works on
// integer codes and sorts only the distinct periods. The labels are
// expected distinct and in order of first appearance among the rows, as the
// reader and the binding make them; the layout does not rely on either (two
// equal labels are one cross-section or period, and sections are ordered by
// the rows), but a code past its labels is an error.
//
// Missing values are NaN (any NaN: the module's missing pattern and an
// ordinary quiet NaN alike). Infinities are not data: they are refused.
#ifndef QVDEP_ANALYSIS_INPUT_LONG_PANEL_H
#define QVDEP_ANALYSIS_INPUT_LONG_PANEL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvd::analysis {

struct LongPanel {
  std::string id_name = "id";               // names used in messages and reports
  std::string time_name = "time";
  std::vector<std::string> id_labels;       // distinct cross-section ids
  std::vector<std::uint32_t> id_of_row;     // index into id_labels, one per row
  std::vector<std::string> time_labels;     // distinct periods, unsorted
  std::vector<std::uint32_t> time_of_row;   // index into time_labels, one per row
  std::string dependent_name = "y";
  std::vector<double> dependent;            // one value per row
  std::vector<std::string> regressor_names;
  std::vector<std::vector<double>> regressors;  // one column of rows per regressor

  // Where the rows came from, for messages: a file name ("" for memory) and,
  // when read from a file, the line of every row. Without lines, a row is
  // named "row " + row_name(r) when the caller names its rows (a binding
  // naming them by its own labels), else by its 1-based position. Only a
  // message asks for a name, at most twice.
  std::string source;
  std::vector<long> lines;
  std::function<std::string(std::size_t row)> row_name;
  // The 1-based column of each variable in the source file (0: unknown),
  // in the order id, time, dependent, regressors.
  std::vector<int> source_columns;

  std::size_t rows() const { return id_of_row.size(); }
  // The labels of a row (whose codes are within their labels).
  const std::string &id(std::size_t row) const { return id_labels[id_of_row[row]]; }
  const std::string &time(std::size_t row) const { return time_labels[time_of_row[row]]; }
};

}  // namespace qvd::analysis

#endif
