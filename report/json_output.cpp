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

// How strong the dependence is: the residuals' exponent, the variable's
// (null unless formed) and what the rank tests' rows rest on.
json strength_fields(const analysis::Result &r) {
  const analysis::ResidualExponentSummary &e = r.strength.residuals;
  json residuals = {{"alpha", number(e.alpha)},
                    {"pairs", e.pairs},
                    {"nonzero_pairs", e.nonzero_pairs},
                    {"threshold", number(e.threshold)},
                    {"size", r.options.exponent_size},
                    {"tuning", r.options.exponent_tuning},
                    {"draws", e.draws > 0 ? json(e.draws) : json(nullptr)},
                    {"seed", e.draws > 0 ? json(e.seed) : json(nullptr)},
                    {"standard_error", number(e.standard_error)},
                    {"lower_95", number(e.lower_95)},
                    {"upper_95", number(e.upper_95)}};
  if (!e.available) residuals["not_available"] = e.reason;
  const analysis::VariableExponentSummary &v = r.strength.variable;
  json variable = nullptr;
  if (v.present) {
    variable = {{"variable", v.variable},
                {"alpha", number(v.alpha)},
                {"standard_error", number(v.standard_error)}};
    if (!v.available) variable["not_available"] = v.reason;
    if (v.available && !v.standard_error_reason.empty())
      variable["standard_error_not_available"] = v.standard_error_reason;
  }
  const analysis::RankTestsSummary &k = r.rank_tests;
  json ranks = nullptr;
  if (k.present)
    ranks = {{"periods", k.periods_used},
             {"common_periods_only", k.common_periods_only},
             {"frees_critical_10", number(k.frees_critical_10)},
             {"frees_critical_5", number(k.frees_critical_5)},
             {"frees_critical_1", number(k.frees_critical_1)}};
  return {{"residuals", residuals}, {"variable", variable}, {"rank_tests", ranks}};
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
    if (!row.note.empty()) entry["note"] = row.note;
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
        {"neighbours", r.options.neighbours ? json(r.options.neighbours_name) : json(nullptr)},
        {"exponent_size", r.options.exponent_size},
        {"exponent_tuning", r.options.exponent_tuning},
        {"exponent_draws",
         r.options.exponent_draws ? json(*r.options.exponent_draws) : json(nullptr)},
        {"exponent_seed", r.options.exponent_seed ? json(*r.options.exponent_seed) : json(nullptr)},
        {"exponent_of_dependent", r.options.exponent_of_dependent}}},
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
      {"strength", strength_fields(r)},
      {"near_perfect_fit", r.module_ran && r.module.near_perfect_fit},
      {"module", r.module_ran ? module_fields(r.module) : json(nullptr)},
      {"warnings", r.warnings}};
}

}  // namespace qvd::report
