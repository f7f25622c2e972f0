#include "report/json_output.h"

#include <cmath>

namespace qvd::report {
namespace {

using nlohmann::json;

json number(double x) { return std::isnan(x) ? json(nullptr) : json(x); }

const char *source_name(analysis::PValueSource source) {
  switch (source) {
    case analysis::PValueSource::module: return "module";
    case analysis::PValueSource::tool: return "tool";
    default: return "none";
  }
}

json module_fields(const analysis::ModuleResults &m) {
  return {{"lm", number(m.lm)},
          {"lm_pvalue", number(m.lm_pvalue)},
          {"lm_pvalue_missing", std::isnan(m.lm_pvalue)},
          {"scaled_lm", number(m.scaled_lm)},
          {"scaled_lm_pvalue", number(m.scaled_lm_pvalue)},
          {"cd", number(m.cd)},
          {"cd_pvalue", number(m.cd_pvalue)},
          {"cdp", number(m.cdp)},
          {"cdp_pvalue", number(m.cdp_pvalue)},
          {"near_perfect_fit", m.near_perfect_fit}};
}

}  // namespace

json result_json(const std::string &source, const analysis::Result &r) {
  const analysis::PanelShape &s = r.shape;
  json tests = json::array();
  for (const auto &row : r.tests)
    tests.push_back({{"name", row.name},
                     {"statistic", number(row.statistic)},
                     {"distribution", row.distribution},
                     {"p_value", number(row.pvalue)},
                     {"p_value_source", source_name(row.source)}});
  return {
      {"source", source},
      {"options",
       {{"id", r.id_name},
        {"time", r.time_name},
        {"y", r.dependent},
        {"x", r.regressors},
        {"intercept", r.options.intercept},
        {"order", r.options.order},
        {"effective_order", r.effective_order},
        {"restrictions", r.options.restrictions},
        {"seed", r.options.seed}}},
      {"panel",
       {{"cross_sections", s.sections},
        {"periods", s.periods},
        {"regressors", s.regressors},
        {"restrictions", s.restrictions},
        {"rows", s.rows},
        {"complete_observations", s.complete_observations},
        {"usable_pairs", s.usable_pairs},
        {"unusable_pairs", s.unusable_pairs}}},
      {"tests", tests},
      {"lm_df", static_cast<long long>(r.lm_degrees_of_freedom)},
      {"lm_pvalue_tool", number(r.lm_pvalue_tool)},
      {"average_correlation", number(r.mean_correlation)},
      {"average_abs_correlation", number(r.mean_abs_correlation)},
      {"weighted_cd", number(r.weighted_cd)},
      {"weighted_cd_pvalue", number(r.weighted_cd_pvalue)},
      {"weighted_cd_signs", r.signs},
      {"near_perfect_fit", r.module.near_perfect_fit},
      {"module", module_fields(r.module)},
      {"warnings", r.warnings}};
}

}  // namespace qvd::report
