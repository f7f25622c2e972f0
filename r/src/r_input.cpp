#include "r_input.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/common/model_choice.h"
#include "analysis/input/proximity.h"
#include "analysis/layout/memory_budget.h"

namespace qvd::r {
namespace {

using analysis::InputError;

// list$name, or R_NilValue when the list has no such element.
SEXP element(SEXP list, const char *name) {
  const SEXP names = Rf_getAttrib(list, R_NamesSymbol);
  if (TYPEOF(list) != VECSXP || TYPEOF(names) != STRSXP) return R_NilValue;
  const R_xlen_t n = XLENGTH(list);
  for (R_xlen_t i = 0; i < n; ++i)
    if (std::strcmp(CHAR(STRING_ELT(names, i)), name) == 0) return VECTOR_ELT(list, i);
  return R_NilValue;
}

SEXP typed(SEXP list, const char *name, SEXPTYPE type) {
  const SEXP value = element(list, name);
  if (TYPEOF(value) != type)
    throw InputError(std::string("internal: \"") + name + "\" has R type " +
                     Rf_type2char(TYPEOF(value)) + ", not " + Rf_type2char(type));
  return value;
}

std::vector<std::string> strings(SEXP x) {
  std::vector<std::string> out(static_cast<std::size_t>(XLENGTH(x)));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const SEXP s = STRING_ELT(x, static_cast<R_xlen_t>(i));
    out[i] = s == NA_STRING ? std::string("NA") : std::string(Rf_translateCharUTF8(s));
  }
  return out;
}

std::vector<std::string> strings_element(SEXP list, const char *name) {
  return strings(typed(list, name, STRSXP));
}

double number_element(SEXP list, const char *name) {
  const SEXP x = typed(list, name, REALSXP);
  if (XLENGTH(x) != 1)
    throw InputError(std::string("internal: \"") + name + "\" is not one number");
  return REAL(x)[0];
}

bool logical_element(SEXP list, const char *name) {
  const SEXP x = typed(list, name, LGLSXP);
  if (XLENGTH(x) != 1 || LOGICAL(x)[0] == NA_LOGICAL)
    throw InputError(std::string(name) + " must be TRUE or FALSE");
  return LOGICAL(x)[0] != 0;
}

// "2.5", "1e+20", "NA": a number as R prints it.
std::string shown(double x) {
  if (std::isnan(x)) return "NA";
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", x);
  return text;
}

// A whole number in [low, high], named `what` in the message.
double whole(double x, double low, double high, const std::string &what) {
  if (!std::isfinite(x) || x != std::floor(x) || x < low || x > high)
    throw InputError(what + " must be a whole number from " + shown(low) + " to " + shown(high) +
                     ", not " + shown(x));
  return x;
}

// An option the library checks itself (the order, the draws, the factors):
// only its being a whole number within an int is checked here.
int int_option(SEXP list, const char *name) {
  return static_cast<int>(whole(number_element(list, name), -2147483647.0, 2147483647.0, name));
}

// Codes (0-based) into `labels` of a column of `rows` rows.
std::vector<std::uint32_t> codes(SEXP x, std::size_t labels, const std::string &column) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(XLENGTH(x)));
  const int *in = INTEGER(x);
  for (std::size_t r = 0; r < out.size(); ++r) {
    if (in[r] < 0 || static_cast<std::size_t>(in[r]) >= labels)
      throw InputError("row " + std::to_string(r + 1) + ": " + column + " has no label");
    out[r] = static_cast<std::uint32_t>(in[r]);
  }
  return out;
}

// The neighbours of the local statistics, formed once the panel's
// cross-sections are known: a matrix (in panel order, or with its rows and
// columns named) or pairs of cross-sections.
std::function<analysis::Neighbours(const std::vector<std::string> &)> neighbours_from(
    SEXP spec, const std::string &source) {
  if (element(spec, "cells") != R_NilValue) {
    const SEXP cells = typed(spec, "cells", REALSXP);
    const SEXP dims = Rf_getAttrib(cells, R_DimSymbol);
    if (TYPEOF(dims) != INTSXP || XLENGTH(dims) != 2)
      throw InputError(source + ": the neighbours must be a matrix");
    const auto rows = static_cast<std::size_t>(INTEGER(dims)[0]);
    const auto columns = static_cast<std::size_t>(INTEGER(dims)[1]);
    // R keeps a matrix column after column; the library reads it row after row.
    std::vector<double> by_row(rows * columns);
    const double *in = REAL(cells);
    for (std::size_t j = 0; j < columns; ++j)
      for (std::size_t i = 0; i < rows; ++i) by_row[i * columns + j] = in[j * rows + i];
    if (element(spec, "row_ids") == R_NilValue)
      return [by_row = std::move(by_row), rows, columns,
              source](const std::vector<std::string> &ids) {
        return analysis::proximity_matrix(by_row.data(), rows, columns, ids, source);
      };
    std::vector<std::string> row_ids = strings_element(spec, "row_ids");
    std::vector<std::string> column_ids = strings_element(spec, "column_ids");
    if (row_ids.size() != rows || column_ids.size() != columns)
      throw InputError(source + ": the names of the neighbours' rows and columns do not match "
                       "the matrix");
    return [by_row = std::move(by_row), row_ids = std::move(row_ids),
            column_ids = std::move(column_ids), source](const std::vector<std::string> &ids) {
      return analysis::proximity_matrix(row_ids, column_ids, by_row.data(), ids, source);
    };
  }
  const std::vector<std::string> from = strings_element(spec, "from");
  const std::vector<std::string> to = strings_element(spec, "to");
  std::vector<std::pair<std::string, std::string>> pairs(from.size());
  for (std::size_t p = 0; p < pairs.size(); ++p) pairs[p] = {from[p], to[p]};
  return [pairs = std::move(pairs), source](const std::vector<std::string> &ids) {
    return analysis::neighbour_pairs(pairs, ids, source);
  };
}

}  // namespace

std::string string_element(SEXP list, const char *name) {
  const SEXP x = typed(list, name, STRSXP);
  if (XLENGTH(x) != 1 || STRING_ELT(x, 0) == NA_STRING)
    throw InputError(std::string(name) + " must be one string");
  return Rf_translateCharUTF8(STRING_ELT(x, 0));
}

analysis::LongPanel panel_from(SEXP panel) {
  analysis::LongPanel data;
  data.id_name = string_element(panel, "id_name");
  data.time_name = string_element(panel, "time_name");
  data.id_labels = strings_element(panel, "id_labels");
  data.time_labels = strings_element(panel, "time_labels");
  data.id_of_row = codes(typed(panel, "id_codes", INTSXP), data.id_labels.size(), data.id_name);
  data.time_of_row =
      codes(typed(panel, "time_codes", INTSXP), data.time_labels.size(), data.time_name);
  const std::size_t rows = data.id_of_row.size();
  if (data.time_of_row.size() != rows)
    throw InputError("internal: the id and time columns differ in length");

  data.dependent_name = string_element(panel, "y_name");
  const SEXP y = typed(panel, "y", REALSXP);
  if (static_cast<std::size_t>(XLENGTH(y)) != rows)
    throw InputError("internal: the dependent column has " + std::to_string(XLENGTH(y)) +
                     " values for " + std::to_string(rows) + " rows");
  data.dependent.assign(REAL(y), REAL(y) + rows);

  data.regressor_names = strings_element(panel, "x_names");
  const SEXP x = typed(panel, "x", VECSXP);
  const std::size_t k = data.regressor_names.size();
  if (static_cast<std::size_t>(XLENGTH(x)) != k)
    throw InputError("internal: " + std::to_string(XLENGTH(x)) + " regressors' columns for " +
                     std::to_string(k) + " names");
  data.regressors.resize(k);
  for (std::size_t v = 0; v < k; ++v) {
    const SEXP column = VECTOR_ELT(x, static_cast<R_xlen_t>(v));
    if (TYPEOF(column) != REALSXP || static_cast<std::size_t>(XLENGTH(column)) != rows)
      throw InputError("internal: the regressor \"" + data.regressor_names[v] +
                       "\" is not a column of " + std::to_string(rows) + " doubles");
    data.regressors[v].assign(REAL(column), REAL(column) + rows);
  }

  const SEXP row_names = element(panel, "row_names");
  if (row_names != R_NilValue) {
    if (TYPEOF(row_names) != STRSXP || static_cast<std::size_t>(XLENGTH(row_names)) != rows)
      throw InputError("internal: row names do not match the rows");
    // A message names at most two rows: their names are read when asked
    // for, from pointers taken here (on R's thread, which may materialise
    // them); R's strings are neither moved nor freed while the call holds
    // the data frame.
    std::vector<const char *> names(rows);
    for (std::size_t r = 0; r < rows; ++r)
      names[r] = CHAR(STRING_ELT(row_names, static_cast<R_xlen_t>(r)));
    data.row_name = [names = std::move(names)](std::size_t r) { return std::string(names[r]); };
  }
  return data;
}

analysis::Options options_from(SEXP options) {
  analysis::Options o;
  const std::string model = string_element(options, "model");
  const std::optional<analysis::Model> chosen = analysis::model_named(model);
  if (!chosen)
    throw InputError("model \"" + analysis::excerpt(model) +
                     "\" is none of unit, pooling, within, random, cce and none");
  o.model = *chosen;
  if (element(options, "effect") != R_NilValue) {
    const std::string effect = string_element(options, "effect");
    o.effect = analysis::effect_named(effect);
    if (!o.effect)
      throw InputError("effect \"" + analysis::excerpt(effect) +
                       "\" is none of individual, time and twoways");
  }
  o.intercept = logical_element(options, "intercept");
  o.order = int_option(options, "order");
  o.restrictions = strings_element(options, "restrictions");
  // The seed is a 64-bit integer; R's doubles hold every whole number to 2^53.
  o.seed = static_cast<std::uint64_t>(
      whole(number_element(options, "seed"), 0, 9007199254740992.0, "seed"));
  o.cdw_draws = int_option(options, "cdw_draws");
  o.factors = int_option(options, "factors");
  o.unbalanced_block = logical_element(options, "unbalanced");
  // The exponents of dependence: the library refuses a size or tuning out
  // of range and draws below 1; NULL draws leave out the bootstrap, a NULL
  // seed takes `seed`.
  o.exponent_size = number_element(options, "exponent_size");
  o.exponent_tuning = number_element(options, "exponent_tuning");
  if (element(options, "exponent_draws") != R_NilValue)
    o.exponent_draws = int_option(options, "exponent_draws");
  if (element(options, "exponent_seed") != R_NilValue)
    o.exponent_seed = static_cast<std::uint64_t>(whole(
        number_element(options, "exponent_seed"), 0, 9007199254740992.0, "exponent_seed"));
  o.exponent_of_dependent = logical_element(options, "exponent_of_dependent");
  const SEXP memory = element(options, "max_memory");
  if (TYPEOF(memory) == STRSXP)
    o.max_memory = analysis::parse_memory_size(string_element(options, "max_memory"));
  else
    o.max_memory = static_cast<std::uint64_t>(
        whole(number_element(options, "max_memory"), 0, 1.8e19, "max_memory"));
  o.module_path = string_element(options, "module");
  const SEXP neighbours = element(options, "neighbours");
  if (neighbours != R_NilValue) {
    o.neighbours_name = string_element(options, "neighbours_name");
    o.neighbours = neighbours_from(neighbours, o.neighbours_name);
  }
  return o;
}

}  // namespace qvd::r
