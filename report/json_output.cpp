#include "report/json_output.h"

#include <cmath>

#include "analysis/result/test_kinds.h"

namespace qvd::report {
namespace {

using nlohmann::json;

json number(double x) { return std::isnan(x) ? json(nullptr) : json(x); }

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
  for (const auto &row : r.tests) {
    json entry = {{"kind", analysis::test_kind(row.kind).key},
                  {"name", row.name},
                  {"statistic", number(row.statistic)},
                  {"distribution", row.distribution},
                  {"p_value", number(row.pvalue)},
                  {"p_value_source", analysis::p_value_source_name(row.source)},
                  {"reference", row.reference}};
    if (!row.unavailable.empty()) entry["not_available"] = row.unavailable;
    tests.push_back(entry);
  }
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
        {"seed", r.options.seed},
        {"cdw_draws", r.options.cdw_draws},
        {"factors", r.factors},
        {"unbalanced_block", r.options.unbalanced_block},
        {"model", analysis::model_name(r.options.model)},
        {"effect", analysis::has_effects(r.options.model) ? json(analysis::effect_name(r.effect))
                                                          : json(nullptr)},
        {"neighbours", r.options.neighbours ? json(r.options.neighbours_name) : json(nullptr)}}},
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
      {"weighted_cd_signs", r.options.cdw_draws == 1 ? json(r.signs) : json(nullptr)},
      {"weighted_cd_plus", number(r.weighted_cd_plus)},
      {"weighted_cd_plus_pvalue", number(r.weighted_cd_plus_pvalue)},
      {"cd_star_w", number(r.cd_star_w)},
      {"unbalanced", r.unbalanced.present ? json{{"pairs", r.unbalanced.pairs},
                                                 {"omitted_pairs", r.unbalanced.omitted_pairs},
                                                 {"average_correlation",
                                                  number(r.unbalanced.mean_correlation)},
                                                 {"average_abs_correlation",
                                                  number(r.unbalanced.mean_abs_correlation)}}
                                          : json(nullptr)},
      {"near_perfect_fit", r.module_ran && r.module.near_perfect_fit},
      {"module", r.module_ran ? module_fields(r.module) : json(nullptr)},
      {"warnings", r.warnings}};
}

}  // namespace qvd::report
