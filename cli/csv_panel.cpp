#include "cli/csv_panel.h"

#include <charconv>

#include "analysis/csv_reader.h"
#include "analysis/errors.h"
#include "analysis/wide_panel.h"

namespace qvd::cli {
namespace {

double period_number(const std::string &label) {
  double value = 0;
  const char *end = label.data() + label.size();
  const auto [ptr, ec] = std::from_chars(label.data(), end, value);
  if (ec != std::errc() || ptr != end)
    throw analysis::InputError("period \"" + label + "\" is not a number");
  return value;
}

}  // namespace

// The analysis library's reader and layout, with numeric periods.
CsvPanel read_csv_panel(std::istream &in, const PanelColumns &columns) {
  analysis::ColumnSelection selection{columns.section, columns.period, columns.dependent, {}};
  if (!columns.regressors.empty()) selection.regressors = columns.regressors;
  const analysis::LongPanel data = analysis::read_csv(in, "<csv>", selection);
  analysis::WidePanel wide = analysis::make_wide_panel(data);
  CsvPanel out;
  out.panel = std::move(wide.panel);
  out.section_labels = std::move(wide.section_labels);
  for (const auto &label : wide.period_labels) out.periods.push_back(period_number(label));
  out.dependent = data.dependent_name;
  out.regressors = data.regressor_names;
  out.observations = static_cast<long>(data.rows());
  return out;
}

}  // namespace qvd::cli
