#include "analysis/wide_panel.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numeric>
#include <unordered_map>

#include "analysis/errors.h"
#include "analysis/memory_budget.h"
#include "qvdep.h"

namespace qvd::analysis {

double missing_value() { return std::bit_cast<double>(QVDEP_MISSING_RESULT_BITS); }

std::string location(const LongPanel &data, std::size_t row, int variable) {
  std::string where;
  if (row < data.lines.size()) {
    where.append(data.source).append(":").append(std::to_string(data.lines[row]));
    const std::size_t v = static_cast<std::size_t>(variable);
    if (variable >= 0 && v < data.source_columns.size() && data.source_columns[v] > 0)
      where.append(":").append(std::to_string(data.source_columns[v]));
  } else {
    if (!data.source.empty()) where.append(data.source).append(": ");
    where.append("row ").append(std::to_string(row + 1));
  }
  return where;
}

namespace {

bool parse_double(const std::string &text, double &value) {
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// Sorted distinct periods and, for each row, the index of its period.
void order_periods(const LongPanel &data, std::vector<std::string> &labels,
                   std::vector<std::size_t> &period_of_row) {
  const std::size_t n = data.rows();
  std::vector<double> numbers(n);
  bool numeric = true;
  for (std::size_t r = 0; r < n && numeric; ++r) numeric = parse_double(data.times[r], numbers[r]);
  period_of_row.assign(n, 0);
  if (numeric) {
    std::map<double, std::string> distinct;
    for (std::size_t r = 0; r < n; ++r) distinct.emplace(numbers[r], data.times[r]);
    std::map<double, std::size_t> index;
    for (const auto &[value, text] : distinct) {
      index.emplace(value, labels.size());
      labels.push_back(text);
    }
    for (std::size_t r = 0; r < n; ++r) period_of_row[r] = index[numbers[r]];
  } else {
    std::map<std::string, std::size_t> index;
    for (const auto &t : data.times) index.emplace(t, 0);
    for (auto &[text, i] : index) {
      i = labels.size();
      labels.push_back(text);
    }
    for (std::size_t r = 0; r < n; ++r) period_of_row[r] = index[data.times[r]];
  }
}

void check_lengths(const LongPanel &data) {
  const std::size_t n = data.rows();
  bool equal = data.times.size() == n && data.dependent.size() == n &&
               data.regressors.size() == data.regressor_names.size();
  for (const auto &column : data.regressors) equal = equal && column.size() == n;
  if (!equal) throw InputError("the panel's columns differ in length");
  if (n == 0) throw InputError((data.source.empty() ? "" : data.source + ": ") + "no observations");
}

// A value for the module: NaN becomes the missing pattern, infinity is refused.
double module_value(const LongPanel &data, std::size_t row, int variable, double value,
                    const std::string &name) {
  if (std::isnan(value)) return missing_value();
  if (!std::isfinite(value))
    throw InputError(location(data, row, variable) + ": column \"" + excerpt(name) +
                     "\": not a finite number");
  return value;
}

// The module's limits (qvdep_dimensions_fit), checked once the shape is
// known and before the panel is laid out.
void check_dimensions(const LongPanel &data, std::size_t n, std::size_t t,
                      const LayoutLimits &model) {
  const std::string where = data.source.empty() ? "" : data.source + ": ";
  const std::int64_t k = static_cast<std::int64_t>(data.regressors.size());
  const std::int64_t c = model.intercept ? 1 : 0, h = model.restrictions;
  const auto sections = static_cast<std::int64_t>(n), periods = static_cast<std::int64_t>(t);
  if (qvdep_dimensions_fit(sections, periods, k, c, h)) return;
  if (!qvdep_dimensions_fit(0, 0, k, c, h))
    throw InputError(where + "the model is too large for the module: regressors, intercept and "
                     "restrictions exceed 46339");
  if (!qvdep_dimensions_fit(sections, 0, 0, 0, 0))
    throw InputError(where + "the panel is too large for the module: " + std::to_string(n) +
                     " cross-sections, at most 46340");
  throw InputError(where + "the panel is too large for the module: " + std::to_string(n) +
                   " cross-sections times " + std::to_string(t) + " periods reach 2^31 cells");
}

// "20,000": thousands separated, as a reader takes in a count at a glance.
std::string grouped(std::size_t count) {
  const std::string digits = std::to_string(count);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text.push_back(',');
    text.push_back(digits[i]);
  }
  return text;
}

}  // namespace

std::string sparsity(const LongPanel &data, std::size_t n, std::size_t t) {
  const double cells = static_cast<double>(n) * static_cast<double>(t);
  char filled[32];
  const double share = cells > 0 ? 100.0 * static_cast<double>(data.rows()) / cells : 0.0;
  std::snprintf(filled, sizeof filled, share >= 10 ? "%.0f" : "%.2g", share);
  std::string text;
  if (!data.source.empty()) text.append(data.source).append(": ");
  text.append(grouped(n)).append(" cross-sections \u00d7 ").append(grouped(t));
  text.append(" periods from ").append(grouped(data.rows())).append(" rows (");
  return text.append(filled).append(" % filled)");
}

namespace {

// The estimate of what the analysis needs, against the budget, before the
// dense panel is laid out.
void check_memory(const LongPanel &data, std::size_t n, std::size_t t,
                  const LayoutLimits &limits) {
  if (limits.memory_budget == 0) return;
  const double k = static_cast<double>(data.regressors.size());
  const double m = k + (limits.intercept ? 1 : 0) + limits.restrictions + 1;
  const double need = analysis_bytes(static_cast<double>(n), static_cast<double>(t), k, m);
  if (need <= static_cast<double>(limits.memory_budget)) return;
  throw InputError(sparsity(data, n, t) + " needs about " + human_bytes(need) + ", above the " +
                   human_bytes(static_cast<double>(limits.memory_budget)) +
                   " memory budget; are \"" + excerpt(data.id_name) + "\" and \"" +
                   excerpt(data.time_name) + "\" the right id and time columns?");
}

}  // namespace

WidePanel make_wide_panel(const LongPanel &data, const LayoutLimits &limits) {
  check_lengths(data);
  WidePanel wide;
  std::vector<std::size_t> period_of_row;
  order_periods(data, wide.period_labels, period_of_row);

  std::unordered_map<std::string, std::size_t> section_of;
  std::vector<std::size_t> section_of_row(data.rows());
  for (std::size_t r = 0; r < data.rows(); ++r) {
    const auto [it, added] = section_of.emplace(data.ids[r], wide.section_labels.size());
    if (added) wide.section_labels.push_back(data.ids[r]);
    section_of_row[r] = it->second;
  }

  const std::size_t n = wide.section_labels.size(), t = wide.period_labels.size();
  const std::size_t k = data.regressors.size(), width = k + 1;
  wide.panel.sections = static_cast<int>(std::min<std::size_t>(n, INT32_MAX));
  wide.panel.periods = static_cast<int>(std::min<std::size_t>(t, INT32_MAX));
  wide.panel.regressors = static_cast<int>(k);
  check_dimensions(data, n, t, limits);
  check_memory(data, n, t, limits);
  wide.panel.values.assign(n * t * width, missing_value());
  std::vector<long> first_row(n * t, -1);
  wide.complete_per_section.assign(n, 0);
  for (std::size_t r = 0; r < data.rows(); ++r) {
    const std::size_t cell = section_of_row[r] * t + period_of_row[r];
    if (first_row[cell] >= 0)
      throw InputError(location(data, r, -1) + ": duplicate (" + excerpt(data.id_name) + ", " +
                       excerpt(data.time_name) + ") pair (" + excerpt(data.ids[r]) + ", " +
                       excerpt(data.times[r]) +
                       "), first given at " +
                       location(data, static_cast<std::size_t>(first_row[cell]), -1));
    first_row[cell] = static_cast<long>(r);
    double *out = wide.panel.values.data() + cell * width;
    bool complete = true;
    for (std::size_t v = 0; v < k; ++v) {
      out[v] = module_value(data, r, static_cast<int>(3 + v), data.regressors[v][r],
                            data.regressor_names[v]);
      complete = complete && !qvdep_is_missing(out[v]);
    }
    out[k] = module_value(data, r, 2, data.dependent[r], data.dependent_name);
    complete = complete && !qvdep_is_missing(out[k]);
    if (complete) {
      ++wide.complete_observations;
      ++wide.complete_per_section[section_of_row[r]];
    }
  }
  return wide;
}

}  // namespace qvd::analysis
