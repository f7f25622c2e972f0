// libFuzzer target: arbitrary bytes through the CSV reader and the layout
// of the panel for the module, as the command-line tool takes a file.
//
// The first input byte picks the column selection (defaults, names that
// may or may not exist, no regressor); the rest is the file. Invariants:
//   - reading and laying out either give a panel or throw InputError;
//     nothing else escapes (a std::exception of another kind, or anything
//     not derived from std::exception, aborts);
//   - a panel read has columns of equal length, one line per row, lines
//     that never decrease, and values that are finite or NaN (missing);
//   - its ids and periods are interned: every row's code names a label,
//     the labels are distinct and in order of first appearance, and none
//     is unused;
//   - reading the rows in three parts at once gives the same panel, or the
//     same error;
//   - the layout's dimensions match its labels and its value count, its
//     cross-sections are the ids in order of first appearance, its periods
//     the distinct period labels, and every cell holds a finite value or
//     the module's missing pattern.
// Sanitizer reports and hangs are libFuzzer's to catch.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "analysis/common/errors.h"
#include "analysis/input/csv_reader.h"
#include "analysis/layout/wide_panel.h"

namespace {

using namespace qvd::analysis;

void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

ColumnSelection selection(std::uint8_t code) {
  ColumnSelection c;
  if (code & 1) c.id = "id";
  if (code & 2) c.time = "t";
  if (code & 4) c.dependent = "y";
  if (code & 8) c.regressors = std::vector<std::string>{};
  if (code & 16) c.regressors = std::vector<std::string>{"x", "x2"};
  return c;
}

// Codes into distinct labels, each label's code given first by the first
// row that has it: codes appear as 0, 1, 2, ... in order of first
// appearance, and every label is used.
void check_interned(const std::vector<std::string> &labels,
                    const std::vector<std::uint32_t> &codes) {
  std::size_t seen = 0;
  for (std::uint32_t c : codes) {
    check(c <= seen && c < labels.size(), "a code is past the labels or out of order");
    if (c == seen) ++seen;
  }
  check(seen == labels.size(), "a label no row has");
  check(std::set<std::string>(labels.begin(), labels.end()).size() == labels.size(),
        "a label held twice");
}

void check_long(const LongPanel &data) {
  const std::size_t n = data.rows();
  check(data.time_of_row.size() == n && data.dependent.size() == n && data.lines.size() == n,
        "columns of the panel read differ in length");
  check_interned(data.id_labels, data.id_of_row);
  check_interned(data.time_labels, data.time_of_row);
  check(data.regressors.size() == data.regressor_names.size(), "regressor names and columns");
  for (const auto &column : data.regressors) {
    check(column.size() == n, "a regressor column differs in length");
    for (double v : column) check(!std::isinf(v), "an infinite regressor value was read");
  }
  for (double v : data.dependent) check(!std::isinf(v), "an infinite dependent value was read");
  for (std::size_t r = 1; r < n; ++r) check(data.lines[r] > data.lines[r - 1], "lines go back");
}

void check_wide(const WidePanel &wide, const LongPanel &data) {
  const auto &p = wide.panel;
  check(static_cast<std::size_t>(p.sections) == wide.section_labels.size(), "sections");
  check(static_cast<std::size_t>(p.periods) == wide.period_labels.size(), "periods");
  check(static_cast<std::size_t>(p.regressors) == data.regressors.size(), "regressors");
  check(p.values.size() == static_cast<std::size_t>(p.sections) *
                               static_cast<std::size_t>(p.periods) *
                               static_cast<std::size_t>(p.regressors + 1),
        "value count");
  for (double v : p.values) check(std::isfinite(v) || qvdep_is_missing(v), "a cell is neither");
  check(wide.complete_observations <= static_cast<long>(data.rows()), "complete observations");
  check(wide.section_labels == data.id_labels, "sections are not the ids in order");
  std::vector<std::string> periods = data.time_labels;
  std::sort(periods.begin(), periods.end());
  std::vector<std::string> laid_out = wide.period_labels;
  std::sort(laid_out.begin(), laid_out.end());
  // Periods equal as numbers ("7", "7.0") are one; otherwise every label.
  check(std::includes(periods.begin(), periods.end(), laid_out.begin(), laid_out.end()) &&
            !laid_out.empty(),
        "periods are not the period labels");
}

// The panel read in parts, against the panel read in one: the same rows,
// or the same error.
void check_parts(const std::string &text, const ColumnSelection &columns, const LongPanel *one,
                 const std::string &error) {
  try {
    const LongPanel parts = parse_csv(text, "in.csv", columns, 3);
    check(one != nullptr, "read in parts, refused in one");
    auto same = [](const std::vector<double> &a, const std::vector<double> &b) {
      return a.size() == b.size() &&
             std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
               return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
             });
    };
    check(parts.id_labels == one->id_labels && parts.id_of_row == one->id_of_row &&
              parts.time_labels == one->time_labels && parts.time_of_row == one->time_of_row &&
              parts.lines == one->lines && same(parts.dependent, one->dependent) &&
              parts.regressors.size() == one->regressors.size(),
          "rows read in parts differ");
    for (std::size_t v = 0; v < parts.regressors.size(); ++v)
      check(same(parts.regressors[v], one->regressors[v]), "a regressor read in parts differs");
  } catch (const InputError &e) {
    check(one == nullptr && error == e.what(), "an error of the parts is not the error of one");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
  if (size == 0) return 0;
  const ColumnSelection columns = selection(bytes[0]);
  const std::string text(reinterpret_cast<const char *>(bytes) + 1, size - 1);
  std::istringstream in(text);
  try {
    std::optional<LongPanel> data;
    std::string error;
    try {
      data = read_csv(in, "in.csv", columns);
    } catch (const InputError &e) {
      error = e.what();
    }
    check_parts(text, columns, data ? &*data : nullptr, error);
    if (!data) return 0;
    check_long(*data);
    check_wide(make_wide_panel(*data), *data);
  } catch (const InputError &) {
  } catch (const std::exception &e) {
    std::fprintf(stderr, "unexpected exception: %s\n", e.what());
    std::abort();
  } catch (...) {
    check(false, "an exception of no standard type escaped");
  }
  return 0;
}
