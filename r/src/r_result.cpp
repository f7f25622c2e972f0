#include "r_result.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "analysis/common/model_choice.h"
#include "analysis/result/test_kinds.h"
#include "report/density_svg.h"
#include "report/json_output.h"
#include "report/report.h"

namespace qvd::r {
namespace {

using nlohmann::json;

Rcpp::CharacterVector utf8_vector(const std::vector<std::string> &texts) {
  Rcpp::CharacterVector v(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) v[i] = utf8(texts[i]);
  return v;
}

// A JSON number as R's double (integers past 2^53 round, as R's own do).
double number_of(const json &j) {
  switch (j.type()) {
    case json::value_t::number_integer: return static_cast<double>(j.get<std::int64_t>());
    case json::value_t::number_unsigned: return static_cast<double>(j.get<std::uint64_t>());
    default: return j.get<double>();
  }
}

bool all_of_kind(const json &array, bool (json::*is)() const) {
  for (const json &item : array)
    if (!(item.*is)()) return false;
  return true;
}

SEXP from_json(const json &j) {
  switch (j.type()) {
    case json::value_t::object: {
      Rcpp::List list(j.size());
      Rcpp::CharacterVector names(j.size());
      R_xlen_t at = 0;
      for (const auto &[key, value] : j.items()) {
        list[at] = from_json(value);
        names[at++] = utf8(key);
      }
      list.names() = names;
      return list;
    }
    case json::value_t::array:
      if (!j.empty() && all_of_kind(j, &json::is_number)) {
        Rcpp::NumericVector v(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) v[i] = number_of(j[i]);
        return v;
      }
      if (!j.empty() && all_of_kind(j, &json::is_string)) {
        Rcpp::CharacterVector v(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) v[i] = utf8(j[i].get_ref<const std::string &>());
        return v;
      }
      if (!j.empty() && all_of_kind(j, &json::is_boolean)) {
        Rcpp::LogicalVector v(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) v[i] = j[i].get<bool>();
        return v;
      }
      {
        Rcpp::List list(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) list[i] = from_json(j[i]);
        return list;
      }
    case json::value_t::string:
      return Rcpp::CharacterVector::create(utf8(j.get_ref<const std::string &>()));
    case json::value_t::boolean: return Rcpp::wrap(j.get<bool>());
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: return Rcpp::wrap(number_of(j));
    default: return Rcpp::wrap(NA_LOGICAL);
  }
}

// The packed correlations as R's N x N matrix (column after column).
Rcpp::NumericMatrix correlation_matrix(const analysis::Result &r) {
  const auto n = static_cast<std::size_t>(r.shape.sections);
  Rcpp::NumericMatrix m(static_cast<int>(n), static_cast<int>(n));
  double *out = m.begin();
  // Square tiles, so that the mirrored writes (a row of the matrix, n
  // apart in memory) stay within the cache: at N = 2,000 writing them
  // column by column took longer than the analysis beside the module.
  constexpr std::size_t kTile = 64;
  for (std::size_t j0 = 0; j0 < n; j0 += kTile)
    for (std::size_t i0 = 0; i0 <= j0; i0 += kTile)
      for (std::size_t j = j0; j < std::min(n, j0 + kTile); ++j)
        for (std::size_t i = i0; i < std::min(j + 1, i0 + kTile); ++i) {
          const double rho = analysis::correlation_of(r, i, j);
          out[i + j * n] = out[j + i * n] = std::isnan(rho) ? NA_REAL : rho;
        }
  const Rcpp::CharacterVector labels = utf8_vector(r.section_labels);
  m.attr("dimnames") = Rcpp::List::create(labels, labels);
  return m;
}

// T_ij as R's N x N integer matrix, or NULL where the library keeps no
// table (every pair then shares all T periods).
SEXP common_period_matrix(const analysis::Result &r) {
  if (r.common_periods.empty()) return R_NilValue;
  const auto n = static_cast<std::size_t>(r.shape.sections);
  Rcpp::IntegerMatrix m(static_cast<int>(n), static_cast<int>(n));
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i <= j; ++i)
      m[i + j * n] = m[j + i * n] = analysis::common_periods_of(r, i, j);
  return m;
}

}  // namespace

Rcpp::String utf8(const std::string &text) { return Rcpp::String(text, CE_UTF8); }

Rcpp::List result_to_r(const std::string &source, const analysis::Result &r) {
  Rcpp::CharacterVector titles(r.tests.size());
  for (std::size_t t = 0; t < r.tests.size(); ++t) {
    const analysis::TestKind kind = r.tests[t].kind;
    titles[t] =
        utf8(analysis::filled(analysis::test_kind(kind).title, analysis::pattern_values(r, kind)));
  }
  const bool effects = analysis::has_effects(r.options.model);
  return Rcpp::List::create(
      Rcpp::Named("report") = Rcpp::CharacterVector::create(utf8(report::report_text(source, r))),
      Rcpp::Named("figures") = from_json(report::result_json(source, r)),
      Rcpp::Named("titles") = titles,
      Rcpp::Named("correlations") = correlation_matrix(r),
      Rcpp::Named("model") = std::string(analysis::model_name(r.options.model)),
      Rcpp::Named("effect") = effects ? Rcpp::CharacterVector(analysis::effect_name(r.effect))
                                      : Rcpp::CharacterVector::create(NA_STRING),
      Rcpp::Named("common_periods") = common_period_matrix(r),
      Rcpp::Named("legend") = utf8_vector(report::density_legend(r)));
}

}  // namespace qvd::r
