// Reading a long-format panel from CSV (RFC 4180: fields separated by
// commas, double quotes around fields that hold commas, quotes or line
// breaks, "" for a quote inside them, CRLF or LF line ends) with a header
// row naming the columns.
//
// An empty cell, NA or . in a numeric column is a missing value; any other
// text must be a finite number, so nan, inf and the like are errors.
#ifndef QVDEP_ANALYSIS_INPUT_CSV_READER_H
#define QVDEP_ANALYSIS_INPUT_CSV_READER_H

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/input/long_panel.h"

namespace qvd::analysis {

struct ColumnSelection {
  std::string id;         // empty: the first column
  std::string time;       // empty: the second column
  std::string dependent;  // empty: the third column
  // Unset: every other column. Set and empty: no regressor.
  std::optional<std::vector<std::string>> regressors;
};

// `source` names the input in messages ("FILE:LINE:COLUMN: ..."). Throws
// InputError for an unknown column, a ragged row, a bad number, an empty
// file or one with only a header.
LongPanel read_csv(std::istream &in, const std::string &source,
                   const ColumnSelection &columns);

// The same, from the bytes of a whole file held in memory. A large file
// whose rows hold no quote is read in parts at once, one a thread (at most
// one a megabyte, one for each of the processor's threads, and eight).
LongPanel parse_csv(std::string_view text, const std::string &source,
                    const ColumnSelection &columns);

// The same in at most `pieces` parts (1: on this thread alone). The panel,
// or the error, is the same whatever the number: an error is the first in
// the file.
LongPanel parse_csv(std::string_view text, const std::string &source,
                    const ColumnSelection &columns, std::size_t pieces);

// Reads a file, or standard input when `path` is "-".
LongPanel read_csv_file(const std::string &path, const ColumnSelection &columns);

}  // namespace qvd::analysis

#endif
