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
//   - the layout's dimensions match its labels and its value count, and
//     every cell holds a finite value or the module's missing pattern.
// Sanitizer reports and hangs are libFuzzer's to catch.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

#include "analysis/csv_reader.h"
#include "analysis/errors.h"
#include "analysis/wide_panel.h"

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

void check_long(const LongPanel &data) {
  const std::size_t n = data.rows();
  check(data.times.size() == n && data.dependent.size() == n && data.lines.size() == n,
        "columns of the panel read differ in length");
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
  for (double v : p.values) check(std::isfinite(v) || is_missing(v), "a cell is neither");
  check(wide.complete_observations <= static_cast<long>(data.rows()), "complete observations");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
  if (size == 0) return 0;
  const ColumnSelection columns = selection(bytes[0]);
  std::istringstream in(std::string(reinterpret_cast<const char *>(bytes) + 1, size - 1));
  try {
    const LongPanel data = read_csv(in, "in.csv", columns);
    check_long(data);
    check_wide(make_wide_panel(data), data);
  } catch (const InputError &) {
  } catch (const std::exception &e) {
    std::fprintf(stderr, "unexpected exception: %s\n", e.what());
    std::abort();
  } catch (...) {
    check(false, "an exception of no standard type escaped");
  }
  return 0;
}
