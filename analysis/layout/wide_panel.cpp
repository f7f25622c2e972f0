#include "analysis/layout/wide_panel.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "analysis/common/errors.h"
#include "analysis/layout/memory_budget.h"
#include "qvdep.h"

namespace qvd::analysis {

double missing_value() { return std::bit_cast<double>(QVDEP_MISSING_RESULT_BITS); }

namespace {

// "row R" of data held in memory, after its source when it has one: R the
// caller's name of the row, else its 1-based position.
std::string row_in_memory(const std::string &source, std::size_t row,
                          const std::function<std::string(std::size_t)> &name = {}) {
  std::string where;
  if (!source.empty()) where.append(source).append(": ");
  return where.append("row ").append(name ? excerpt(name(row)) : std::to_string(row + 1));
}

}  // namespace

std::string location(const LongPanel &data, std::size_t row, int variable) {
  if (row >= data.lines.size()) return row_in_memory(data.source, row, data.row_name);
  std::string where;
  where.append(data.source).append(":").append(std::to_string(data.lines[row]));
  const std::size_t v = static_cast<std::size_t>(variable);
  if (variable >= 0 && v < data.source_columns.size() && data.source_columns[v] > 0)
    where.append(":").append(std::to_string(data.source_columns[v]));
  return where;
}

namespace {

constexpr std::uint32_t kUnused = UINT32_MAX;

bool parse_double(const std::string &text, double &value) {
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// The periods in the layout's order: as numbers when every label is one,
// as text when none is. For each label, the place of its period; labels
// that are equal (as text, or as numbers when sorted as numbers: "7" and
// "7.0") share a place, and the period takes the text of the first of them.
//
// A column of both is refused rather than sorted as text: one stray label
// ("1950a" among years) would otherwise put "1960" before "1955.5" and
// leave a panel that looks unbalanced. The message names the first label
// that is not a number (`labels` are in order of first appearance) and,
// through `where(j)`, where label j first stands.
template <typename Where>
std::vector<std::size_t> order_periods(const std::vector<std::string> &labels,
                                       std::vector<std::string> &sorted, const std::string &name,
                                       const Where &where) {
  const std::size_t count = labels.size();
  std::vector<double> numbers(count);
  std::size_t first_text = count, texts = 0;
  for (std::size_t j = 0; j < count; ++j)
    if (!parse_double(labels[j], numbers[j])) {
      if (texts++ == 0) first_text = j;
    }
  if (texts > 0 && texts < count)
    throw InputError(where(first_text) + ": column \"" + excerpt(name) + "\": period \"" +
                     excerpt(labels[first_text]) + "\" is not a number, but " +
                     std::to_string(count - texts) + " other period" +
                     (count - texts == 1 ? " is" : "s are"));
  const bool numeric = texts == 0;
  std::vector<std::size_t> by_order(count);
  std::iota(by_order.begin(), by_order.end(), std::size_t{0});
  auto before = [&](std::size_t a, std::size_t b) {
    return numeric ? numbers[a] < numbers[b] : labels[a] < labels[b];
  };
  std::stable_sort(by_order.begin(), by_order.end(), before);
  std::vector<std::size_t> place(count);
  sorted.clear();
  for (std::size_t s = 0; s < count; ++s) {
    const std::size_t j = by_order[s];
    if (s == 0 || before(by_order[s - 1], j)) sorted.push_back(labels[j]);
    place[j] = sorted.size() - 1;
  }
  return place;
}

// The distinct labels a column of codes uses, in order of first appearance
// among the rows, a label's equal texts as one: `first` holds a code of
// each, and `place_of_code` every code's index in `first` (kUnused for a
// label no row has). Throws for a code past the labels.
struct Distinct {
  std::vector<std::uint32_t> first;
  std::vector<std::uint32_t> place_of_code;
};

Distinct distinct_in_row_order(const LongPanel &data, const std::vector<std::string> &labels,
                               const std::vector<std::uint32_t> &codes, int variable,
                               const std::string &name) {
  // The first code of each text: labels made by the reader or a binding are
  // distinct already, and this map is as small as they are.
  std::vector<std::uint32_t> canonical(labels.size());
  std::unordered_map<std::string_view, std::uint32_t> code_of;
  code_of.reserve(labels.size());
  for (std::size_t c = 0; c < labels.size(); ++c)
    canonical[c] = code_of.emplace(labels[c], static_cast<std::uint32_t>(c)).first->second;
  Distinct d;
  d.place_of_code.assign(labels.size(), kUnused);
  for (std::size_t r = 0; r < codes.size(); ++r) {
    const std::uint32_t c = codes[r];
    if (c >= labels.size())
      throw InputError(location(data, r, variable) + ": column \"" + excerpt(name) +
                       "\": no label for code " + std::to_string(c));
    std::uint32_t &place = d.place_of_code[canonical[c]];
    if (place == kUnused) {
      place = static_cast<std::uint32_t>(d.first.size());
      d.first.push_back(canonical[c]);
    }
  }
  for (std::size_t c = 0; c < labels.size(); ++c) d.place_of_code[c] = d.place_of_code[canonical[c]];
  return d;
}

void check_lengths(const LongPanel &data) {
  const std::size_t n = data.rows();
  bool equal = data.time_of_row.size() == n && data.dependent.size() == n &&
               data.regressors.size() == data.regressor_names.size();
  for (const auto &column : data.regressors) equal = equal && column.size() == n;
  if (!equal) throw InputError("the panel's columns differ in length");
  if (n == 0) throw InputError((data.source.empty() ? "" : data.source + ": ") + "no observations");
}

// A value for the module: NaN becomes the missing pattern, infinity is refused.
template <typename Where>
double module_value(const Where &where, double value, const std::string &name) {
  if (std::isnan(value)) return missing_value();
  if (!std::isfinite(value))
    throw InputError(where() + ": column \"" + excerpt(name) + "\": not a finite number");
  return value;
}

// The module's limits (qvdep_dimensions_fit), checked once the shape is
// known and before the panel is laid out.
void check_dimensions(const std::string &source, std::size_t n, std::size_t t, std::size_t k,
                      const LayoutLimits &model) {
  const std::string where = source.empty() ? "" : source + ": ";
  const std::int64_t c = model.intercept ? 1 : 0, h = model.restrictions;
  const auto sections = static_cast<std::int64_t>(n), periods = static_cast<std::int64_t>(t);
  const auto regressors = static_cast<std::int64_t>(k);
  if (qvdep_dimensions_fit(sections, periods, regressors, c, h)) return;
  if (!qvdep_dimensions_fit(0, 0, regressors, c, h))
    throw InputError(where + "the model is too large for the module: regressors, intercept and "
                     "restrictions exceed 46339");
  if (!qvdep_dimensions_fit(sections, 0, 0, 0, 0))
    throw InputError(where + "the panel is too large for the module: " + std::to_string(n) +
                     " cross-sections, at most 46340");
  throw InputError(where + "the panel is too large for the module: " + std::to_string(n) +
                   " cross-sections times " + std::to_string(t) + " periods reach 2^31 cells");
}

}  // namespace

std::string sparsity(const std::string &source, std::size_t rows, std::size_t n, std::size_t t) {
  const double cells = static_cast<double>(n) * static_cast<double>(t);
  char filled[32];
  const double share = cells > 0 ? 100.0 * static_cast<double>(rows) / cells : 0.0;
  std::snprintf(filled, sizeof filled, share >= 10 ? "%.0f" : "%.2g", share);
  std::string text;
  if (!source.empty()) text.append(source).append(": ");
  text.append(grouped(n)).append(" cross-sections \u00d7 ").append(grouped(t));
  text.append(" periods from ").append(grouped(rows)).append(" rows (");
  return text.append(filled).append(" % filled)");
}

bool sparsely_filled(std::size_t rows, std::size_t n, std::size_t t) {
  return static_cast<double>(rows) < 0.01 * static_cast<double>(n) * static_cast<double>(t);
}

namespace {

// The estimate of what the analysis needs, against the budget, before the
// dense panel is laid out; and the panel's shape, checked against the
// module's limits first. `Data` is a LongPanel or an ArrayPanel.
template <typename Data>
void check_shape(const Data &data, std::size_t n, std::size_t t, const LayoutLimits &limits) {
  const std::size_t regressors = data.regressor_names.size();
  check_dimensions(data.source, n, t, regressors, limits);
  if (limits.memory_budget == 0) return;
  const double k = static_cast<double>(regressors);
  const double need =
      model_analysis_bytes(limits.model, static_cast<double>(n), static_cast<double>(t), k,
                           cross_product_order(k, limits.intercept, limits.restrictions));
  if (need <= static_cast<double>(limits.memory_budget)) return;
  // Asking after the columns only where the rows leave the layout nearly
  // empty: a well-filled panel is simply large.
  const std::string hint = sparsely_filled(data.rows(), n, t)
                               ? "; are \"" + excerpt(data.id_name) + "\" and \"" +
                                     excerpt(data.time_name) + "\" the right id and time columns?"
                               : "";
  throw InputError(sparsity(data.source, data.rows(), n, t) + " needs about " + human_bytes(need) +
                   ", above the " + human_bytes(static_cast<double>(limits.memory_budget)) +
                   " memory budget" + hint);
}

// The dense panel, every cell missing, with its dimensions set.
WidePanel empty_layout(std::size_t n, std::size_t t, std::size_t k) {
  WidePanel wide;
  wide.panel.sections = static_cast<int>(std::min<std::size_t>(n, INT32_MAX));
  wide.panel.periods = static_cast<int>(std::min<std::size_t>(t, INT32_MAX));
  wide.panel.regressors = static_cast<int>(k);
  wide.panel.values.assign(n * t * (k + 1), missing_value());
  wide.complete_per_section.assign(n, 0);
  return wide;
}

std::string duplicate_pair(const std::string &where, const std::string &id_name,
                           const std::string &time_name, const std::string &id,
                           const std::string &time, const std::string &first_where) {
  return where + ": duplicate (" + excerpt(id_name) + ", " + excerpt(time_name) + ") pair (" +
         excerpt(id) + ", " + excerpt(time) + "), first given at " + first_where;
}

// A cell laid out with none of its values missing.
bool complete_cell(const double *cell, std::size_t width) {
  bool complete = true;
  for (std::size_t v = 0; v < width; ++v) complete &= !qvdep_is_missing(cell[v]);
  return complete;
}

void count_complete(WidePanel &wide, const double *cell, std::size_t width, std::size_t section) {
  if (!complete_cell(cell, width)) return;
  ++wide.complete_observations;
  ++wide.complete_per_section[section];
}

// A cross-section into its place in the layout, `out`, when each of its
// values is a number or NaN (missing), as nearly always: one pass, a period
// at a time, that writes each cell whole and counts it complete as it goes,
// every value taken through the same few operations. `variables` holds
// where each of the `width` variables' values for the section's first
// period lie, the next period's `period_stride` on. Returns false, counting
// nothing, when a value is infinite, and the caller lays the section out
// again cell by cell to name it.
bool lay_out_section(const double *const *variables, std::ptrdiff_t period_stride,
                     std::size_t t, std::size_t width, const std::vector<std::size_t> &place,
                     double *out, int &complete) {
  const double missing = missing_value();
  bool finite = true;
  int count = 0;
  for (std::size_t j = 0; j < t; ++j) {  // each variable's values are read in turn
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(j) * period_stride;
    double *cell = out + place[j] * width;
    bool whole = true;  // no value missing: the module's missing pattern is a NaN
    for (std::size_t v = 0; v < width; ++v) {
      const double x = variables[v][at];
      finite &= !std::isinf(x);
      whole &= !std::isnan(x);
      cell[v] = std::isnan(x) ? missing : x;
    }
    count += whole;
  }
  if (!finite) return false;
  complete = count;
  return true;
}

// Rows that are the layout's cells in order, as a balanced panel sorted by
// cross-section and period gives them: row r is cell r, so no pair can
// repeat, and each cross-section's T rows are laid out as the array's are.
// Returns false, with nothing counted, when the rows are in another order
// or hold an infinite value; the caller then lays them out row by row.
bool lay_out_in_cell_order(const LongPanel &data, const std::vector<std::uint32_t> &section_of_code,
                           const std::vector<std::uint32_t> &period_of_code, WidePanel &wide) {
  const std::size_t n = wide.complete_per_section.size(), t = wide.period_labels.size();
  const std::size_t k = data.regressors.size(), width = k + 1;
  if (data.rows() != n * t) return false;
  for (std::size_t r = 0; r < data.rows(); ++r)
    if (section_of_code[data.id_of_row[r]] * t + period_of_code[data.time_of_row[r]] != r)
      return false;
  std::vector<std::size_t> place(t);
  std::iota(place.begin(), place.end(), std::size_t{0});
  std::vector<const double *> variables(width);
  long complete = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t v = 0; v < k; ++v) variables[v] = data.regressors[v].data() + i * t;
    variables[k] = data.dependent.data() + i * t;
    if (!lay_out_section(variables.data(), 1, t, width, place,
                         wide.panel.values.data() + i * t * width, wide.complete_per_section[i])) {
      std::fill(wide.complete_per_section.begin(), wide.complete_per_section.end(), 0);
      return false;
    }
    complete += wide.complete_per_section[i];
  }
  wide.complete_observations = complete;
  return true;
}

}  // namespace

WidePanel make_wide_panel(const LongPanel &data, const LayoutLimits &limits) {
  check_lengths(data);
  const Distinct sections =
      distinct_in_row_order(data, data.id_labels, data.id_of_row, 0, data.id_name);
  const Distinct periods =
      distinct_in_row_order(data, data.time_labels, data.time_of_row, 1, data.time_name);

  std::vector<std::string> period_texts;
  for (std::uint32_t c : periods.first) period_texts.push_back(data.time_labels[c]);
  std::vector<std::string> period_labels;
  const std::vector<std::size_t> place =
      order_periods(period_texts, period_labels, data.time_name, [&](std::size_t j) {
        std::size_t r = 0;
        while (periods.place_of_code[data.time_of_row[r]] != j) ++r;
        return location(data, r, 1);
      });
  // For each time code, its period in the layout.
  std::vector<std::uint32_t> period_of_code(data.time_labels.size(), kUnused);
  for (std::size_t c = 0; c < period_of_code.size(); ++c)
    if (periods.place_of_code[c] != kUnused)
      period_of_code[c] = static_cast<std::uint32_t>(place[periods.place_of_code[c]]);

  const std::size_t n = sections.first.size(), t = period_labels.size();
  const std::size_t k = data.regressors.size(), width = k + 1;
  check_shape(data, n, t, limits);
  WidePanel wide = empty_layout(n, t, k);
  wide.period_labels = std::move(period_labels);
  for (std::uint32_t c : sections.first) wide.section_labels.push_back(data.id_labels[c]);
  if (lay_out_in_cell_order(data, sections.place_of_code, period_of_code, wide)) return wide;
  std::vector<long> first_row(n * t, -1);
  for (std::size_t r = 0; r < data.rows(); ++r) {
    const std::size_t section = sections.place_of_code[data.id_of_row[r]];
    const std::size_t cell = section * t + period_of_code[data.time_of_row[r]];
    if (first_row[cell] >= 0)
      throw InputError(duplicate_pair(location(data, r, -1), data.id_name, data.time_name,
                                      data.id(r), data.time(r),
                                      location(data, static_cast<std::size_t>(first_row[cell]), -1)));
    first_row[cell] = static_cast<long>(r);
    double *out = wide.panel.values.data() + cell * width;
    for (std::size_t v = 0; v < k; ++v)
      out[v] = module_value([&] { return location(data, r, static_cast<int>(3 + v)); },
                            data.regressors[v][r], data.regressor_names[v]);
    out[k] = module_value([&] { return location(data, r, 2); }, data.dependent[r],
                          data.dependent_name);
    count_complete(wide, out, width, section);
  }
  return wide;
}

WidePanel make_wide_panel(const ArrayPanel &data, const LayoutLimits &limits) {
  const std::size_t n = data.section_labels.size(), t = data.period_labels.size();
  const std::size_t k = data.regressor_names.size(), width = k + 1;
  if (n * t == 0) throw InputError((data.source.empty() ? "" : data.source + ": ") + "no observations");
  std::vector<std::string> period_labels;
  const std::vector<std::size_t> place =
      order_periods(data.period_labels, period_labels, data.time_name,
                    [&](std::size_t j) { return row_in_memory(data.source, j); });

  // The first cell whose (id, time) pair an earlier cell holds: in the
  // first cross-section at a repeated period, else at the first period of
  // a repeated cross-section (rows are cells in order, so a repeated period
  // shows in the first T rows).
  std::size_t repeat = n * t, earlier = 0;
  std::vector<long> period_first(period_labels.size(), -1);
  for (std::size_t j = 0; j < t && repeat == n * t; ++j) {
    long &first = period_first[place[j]];
    if (first >= 0) repeat = j, earlier = static_cast<std::size_t>(first);
    first = static_cast<long>(j);
  }
  std::unordered_map<std::string_view, std::size_t> section_of;
  section_of.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto [it, added] = section_of.emplace(data.section_labels[i], i);
    if (!added && repeat == n * t) repeat = i * t, earlier = it->second * t;
  }

  // The shape is checked as the distinct labels give it, before a
  // repeated pair is refused, as for rows in long format.
  const std::size_t periods = period_labels.size();
  check_shape(data, section_of.size(), periods, limits);
  WidePanel wide = empty_layout(n, periods, k);
  wide.section_labels = data.section_labels;
  wide.period_labels = std::move(period_labels);
  const auto row_major = std::array<std::ptrdiff_t, 3>{static_cast<std::ptrdiff_t>(t * width),
                                                        static_cast<std::ptrdiff_t>(width), 1};
  const auto [s0, s1, s2] = data.strides.value_or(row_major);
  std::vector<const double *> variables(width);
  for (std::size_t i = 0; i < n; ++i) {
    const double *section = data.values + static_cast<std::ptrdiff_t>(i) * s0;
    for (std::size_t v = 0; v < width; ++v) variables[v] = section + static_cast<std::ptrdiff_t>(v) * s2;
    double *laid = wide.panel.values.data() + i * periods * width;
    if (repeat / t != i && lay_out_section(variables.data(), s1, t, width, place, laid,
                                           wide.complete_per_section[i])) {
      wide.complete_observations += wide.complete_per_section[i];
      continue;
    }
    // An infinite value or the repeated pair is here: cell by cell, to
    // name the first.
    for (std::size_t j = 0; j < t; ++j) {
      const std::size_t row = i * t + j;
      const double *in = data.values + static_cast<std::ptrdiff_t>(i) * s0 +
                         static_cast<std::ptrdiff_t>(j) * s1;
      if (row == repeat)
        throw InputError(duplicate_pair(row_in_memory(data.source, row), data.id_name,
                                        data.time_name, data.section_labels[i],
                                        data.period_labels[j],
                                        row_in_memory(data.source, earlier)));
      double *out = wide.panel.values.data() + (i * periods + place[j]) * width;
      auto where = [&] { return row_in_memory(data.source, row); };
      for (std::size_t v = 0; v < k; ++v)
        out[v] = module_value(where, in[static_cast<std::ptrdiff_t>(v) * s2],
                              data.regressor_names[v]);
      out[k] = module_value(where, in[static_cast<std::ptrdiff_t>(k) * s2], data.dependent_name);
      count_complete(wide, out, width, i);
    }
  }
  return wide;
}

}  // namespace qvd::analysis
