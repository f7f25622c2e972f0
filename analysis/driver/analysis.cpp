#include "analysis/driver/analysis.h"

#include <functional>
#include <optional>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/common/task_group.h"
#include "analysis/driver/checks.h"
#include "analysis/driver/module_run.h"
#include "analysis/driver/strength.h"
#include "analysis/driver/test_rows.h"
#include "analysis/layout/memory_budget.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/models/cce_panel.h"
#include "analysis/models/panel_model.h"
#include "analysis/stats/bias_adjusted_lm.h"
#include "analysis/stats/cd_star.h"
#include "analysis/stats/pair_sums.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/rank_tests.h"
#include "analysis/stats/tail_probability.h"
#include "analysis/stats/unbalanced_cd.h"
#include "analysis/stats/weighted_cd.h"

namespace qvd::analysis {
namespace {

// CD* takes p factors out of N series of T periods: 1 <= p < min(N, T).
// A p the caller gave that does not fit is an error; the default that does
// not fit leaves CD* not available.
std::string factors_misfit(int p, int n, int t) {
  if (p >= 1 && p < std::min(n, t)) return "";
  return "p = " + std::to_string(p) + " factors need more than p cross-sections and periods (" +
         std::to_string(n) + " and " + std::to_string(t) + ")";
}

// The neighbours of the local statistics: the caller's proximity matrix,
// read against the panel's cross-sections, or the pairs at most p apart.
Neighbours neighbours_of(const Options &options, const WidePanel &wide) {
  const auto n = static_cast<std::size_t>(wide.panel.sections);
  if (!options.neighbours) return Neighbours::band(n, options.order);
  Neighbours named = options.neighbours(wide.section_labels);
  if (named.sections() != n)
    throw InputError("the neighbours name " + std::to_string(named.sections()) +
                     " cross-sections, the panel has " + std::to_string(n));
  return named;
}

// The result's description of the panel and the model, before any figure.
Result described(const DataNames &data, const Options &options, const WidePanel &wide) {
  const int n = wide.panel.sections, t = wide.panel.periods;
  Result r;
  r.options = options;
  r.section_labels = wide.section_labels;
  r.period_labels = wide.period_labels;
  r.id_name = data.id_name;
  r.time_name = data.time_name;
  r.dependent = data.dependent;
  r.regressors = data.regressors;
  r.effect = options.effect.value_or(Effect::individual);
  r.warnings = layout_warnings(data, wide, options);
  r.shape = {n, t, wide.panel.regressors, static_cast<int>(options.restrictions.size()),
             static_cast<long>(data.rows), wide.complete_observations, 0, 0};
  r.effective_order = std::min(options.order, n > 1 ? n - 1 : 0);
  r.factors = options.factors != 0 ? options.factors : kDefaultFactors;
  return r;
}

// The weighted CD over the result's draws and CDw+ from the sums over the
// pairs; the average and average absolute correlation.
void add_pair_figures(Result &r, const PairTable &pairs, const PairSums &sums,
                      const StopFlag &stop) {
  r.shape.usable_pairs = pairs.usable;
  r.shape.unusable_pairs = pairs.unusable;
  r.mean_correlation = sums.mean;
  r.mean_abs_correlation = sums.mean_abs;
  r.weighted_cd = sums.weighted_cd
                      ? *sums.weighted_cd
                      : weighted_cd_draws(pairs, r.options.cdw_draws, r.options.seed, stop);
  r.weighted_cd_pvalue = normal_two_sided(r.weighted_cd);
  r.weighted_cd_plus = r.weighted_cd + sums.power_enhancement;  // CD_W+
  r.weighted_cd_plus_pvalue = normal_two_sided(r.weighted_cd_plus);
}

// One draw (the default) keeps its signs for the report, and the pass over
// the pairs forms its CD_W; R draws keep only R and the seed.
const std::vector<int> *signs_for(Result &r) {
  if (r.options.cdw_draws != 1) return nullptr;
  r.signs = random_signs(r.shape.sections, r.options.seed);
  return &r.signs;
}

// The dependent variable as it is, N rows of T: every value given, whatever
// the regressors hold in its cell, as plm tests a series (model none).
WorkVector<double> dependent_rows(const WidePanel &wide) {
  const auto n = static_cast<std::size_t>(wide.panel.sections);
  const auto t = static_cast<std::size_t>(wide.panel.periods);
  const auto width = static_cast<std::size_t>(wide.panel.regressors) + 1;
  WorkVector<double> rows(n * t);
  for (std::size_t cell = 0; cell < n * t; ++cell)
    rows[cell] = wide.panel.values[cell * width + width - 1];
  return rows;
}

// The figures of the strength of dependence and the rank tests, once the
// tasks that formed them are done.
struct StrengthFigures {
  RankTests ranks;
  ResidualExponentSummary exponent;
  VariableExponentSummary variable;
};

void add_strength(Result &r, const StrengthFigures &s) {
  add_rank_rows(r, s.ranks);
  r.strength = {s.exponent, s.variable};
}

// Each cross-section's own regression, the module's: runs the module on
// `wide` and forms the statistics beyond its own.
//
// LM_adj's weights depend on the regressors alone: its first bands are
// formed on the pool while the module runs on this thread (the module's
// BLAS is its own), and this thread helps with what is left of them once
// the module is done; the panel is then read no more (the dependent
// variable's exponent, when asked for, has its own copy). CD* (on its
// own copy of the residuals, which it works on in place), the rank tests,
// Pesaran's unbalanced block and the residuals' exponent need only the
// residuals or their pair table, and go to the pool while this thread makes
// the pair table and the sums over the pairs. The group waits for its
// tasks before this function returns or unwinds, and what they read and
// write is the function's own, made before the group.
void run_unit(WidePanel &wide, const host::TestOptions &module_opts, const std::string &source,
              Result &r, const StopFlag &stop) {
  const Options &options = r.options;
  const int n = wide.panel.sections, t = wide.panel.periods;
  const bool with_unbalanced = wide.complete_observations != static_cast<long>(n) * t ||
                               options.unbalanced_block || options.neighbours;
  const Neighbours local = neighbours_of(options, wide);
  const std::string misfit = factors_misfit(r.factors, n, t);
  BiasAdjustedLmBands lm_adj(wide.panel, options.intercept, r.shape.restrictions);
  const WorkVector<double> dependent =
      options.exponent_of_dependent ? dependent_rows(wide) : WorkVector<double>();
  std::optional<UnbalancedBlock> block;
  CdStar star;
  StrengthFigures strength;
  WorkVector<double> rows;  // the residuals section by section
  TaskGroup beside;
  lm_adj.start(beside);
  if (options.exponent_of_dependent)
    beside.run([&] {
      strength.variable = variable_exponent_of(dependent, n, t, r.dependent, options);
    });
  ModuleRun run = run_module(wide.panel, module_opts, options.module_path);
  r.module = run.results;
  r.module_ran = true;
  rows = section_major(run.residuals.data(), static_cast<std::size_t>(n), static_cast<std::size_t>(t));
  beside.wait();
  stop.check();
  wide.panel.values = std::vector<double>();
  if (with_unbalanced)
    beside.run([&] { block = unbalanced_block(rows.data(), n, t, local, stop); });
  PairTable pairs = pair_table(run.residuals.data(), n, t, std::move(run.packed), stop);
  run.residuals = {};
  check_pairs(pairs, rows, Model::unit, r.dependent, source);
  // CD* works on its own copy of the residuals, in place; the rank tests
  // and the unbalanced block read these, each task on its own.
  if (misfit.empty())
    beside.run([&, mine = rows]() mutable { star = cd_star(std::move(mine), n, t, r.factors); });
  beside.run([&] { strength.ranks = rank_tests(rows.data(), n, t); });
  beside.run([&] { strength.exponent = residual_exponent_of(pairs, options); });
  const PairSums sums =
      pair_sums(pairs, signs_for(r), lm_adj.early_scales(), lm_adj.early_rows());
  const BiasAdjustedLm adjusted = lm_adj.finish(pairs, sums.scaled_squares, stop);
  beside.wait();

  r.lm_degrees_of_freedom = static_cast<double>(static_cast<long long>(n) * (n - 1) / 2);
  r.lm_pvalue_tool = chi2_upper_tail(r.module.lm, r.lm_degrees_of_freedom);
  add_pair_figures(r, pairs, sums, stop);
  add_module_rows(r);
  add_beyond_rows(r, adjusted, star, misfit);
  add_strength(r, strength);
  if (block) add_unbalanced_rows(r, *block);
  r.correlations = std::move(pairs.correlations);
  r.common_periods = std::move(pairs.common_periods);
}

// The residuals of a panel model, N rows of T: the CCE regressions run
// through the module on the panel with the cross-sectional averages
// (whose own figures are kept in r.module), the dependent variable as it
// is for model none, the others fitted here. The panel is read no more
// afterwards.
WorkVector<double> model_residuals(WidePanel &wide, const DataNames &data, Result &r) {
  const Options &options = r.options;
  if (options.model == Model::cce) {
    WidePanel augmented = cce_panel(wide);
    wide.panel.values = std::vector<double>();
    check_fittable(augmented, options, data.source);
    for (std::string &w : equation_warnings(augmented, options)) r.warnings.push_back(std::move(w));
    const std::vector<std::string> names = cce_regressor_names(data.dependent, data.regressors);
    ModuleRun run = run_module(augmented.panel, module_options(options, names), options.module_path);
    r.module = run.results;
    r.module_ran = true;
    return section_major(run.residuals.data(), static_cast<std::size_t>(wide.panel.sections),
                         static_cast<std::size_t>(wide.panel.periods));
  }
  check_sections(wide, data.source);
  if (options.model == Model::none) {
    WorkVector<double> rows = dependent_rows(wide);
    wide.panel.values = std::vector<double>();
    return rows;
  }
  ModelFit fit = fit_model(wide, {options.model, r.effect, options.intercept}, data.regressors);
  wide.panel.values = std::vector<double>();
  for (std::string &w : fit.warnings) r.warnings.push_back(std::move(w));
  return std::move(fit.residuals);
}

// A panel model's residuals tested as plm tests them: its pair table of
// centred correlations over each pair's common periods, the statistics
// over the M pairs that have one (and over the neighbours), LM_BC after
// fixed effects by cross-section; the weighted CD, CDw+, CD* and the rank
// tests on the same residuals, and how strong their dependence is. The
// rank tests, CD* (on its own copy, which it works on in place), the
// residuals' exponent and the variable's go to the pool while this
// thread sums over the pairs. The variable is the series tested (model
// none) or, when asked for, the dependent variable, a copy of it either way.
void run_model(WidePanel &wide, const DataNames &data, Result &r, const StopFlag &stop) {
  const Options &options = r.options;
  const int n = wide.panel.sections, t = wide.panel.periods;
  const Neighbours local = neighbours_of(options, wide);
  const bool with_variable = options.exponent_of_dependent || options.model == Model::none;
  const WorkVector<double> dependent = with_variable ? dependent_rows(wide) : WorkVector<double>();
  WorkVector<double> rows = model_residuals(wide, data, r);
  stop.check();
  PairTable pairs = centred_pair_table(rows.data(), n, t, stop);
  check_pairs(pairs, rows, options.model, r.dependent, data.source);
  const std::string misfit = factors_misfit(r.factors, n, t);
  CdStar star;
  StrengthFigures strength;
  TaskGroup beside;
  // CD* works on its own copy of the residuals, in place; the rank tests
  // read these.
  if (misfit.empty())
    beside.run([&, mine = rows]() mutable { star = cd_star(std::move(mine), n, t, r.factors); });
  beside.run([&] { strength.ranks = rank_tests(rows.data(), n, t); });
  if (with_variable)
    beside.run([&] {
      strength.variable = variable_exponent_of(dependent, n, t, r.dependent, options);
    });
  beside.run([&] { strength.exponent = residual_exponent_of(pairs, options); });
  const UnbalancedBlock block = plm_block(pairs, local);
  std::optional<Statistic> lm_bc;
  // Baltagi, Feng and Kao correct the bias that fixed effects by
  // cross-section leave (plm forms LM_BC after those alone, or both).
  if (options.model == Model::within && r.effect != Effect::time)
    lm_bc = bias_corrected_scaled_lm(block.all, pairs);
  const PairSums sums = pair_sums(pairs, signs_for(r), nullptr, 0);
  beside.wait();

  r.lm_degrees_of_freedom = static_cast<double>(block.all.pairs);
  r.lm_pvalue_tool = block.all.lm_pvalue;
  add_pair_figures(r, pairs, sums, stop);
  add_plm_rows(r, block, lm_bc ? &*lm_bc : nullptr);
  add_beyond_rows(r,
                  not_available("its exact moments are those of each cross-section's own "
                                "regression (model unit)"),
                  star, misfit);
  add_strength(r, strength);
  if (std::string w = period_effects_warning(options.model, r.effect); !w.empty())
    r.warnings.push_back(std::move(w));
  r.correlations = std::move(pairs.correlations);
  r.common_periods = std::move(pairs.common_periods);
}

// The analysis of a panel in long format or already laid out: `Data` is a
// LongPanel or an ArrayPanel, which name their variables alike. Once the
// panel is laid out, `laid_out` is called: a caller that owns the rows may
// let them go.
template <typename Data>
Result analyse(const Data &data, const Options &options, const StopFlag &stop,
               const std::function<void()> &laid_out) {
  check_options(options);
  const DataNames names = names_of(data);
  const host::TestOptions module_opts = module_options(options, names.regressors);
  check_variables(names);
  const std::uint64_t budget = options.max_memory != 0 ? options.max_memory : default_memory_budget();
  WidePanel wide = make_wide_panel(
      data, {options.intercept, static_cast<int>(options.restrictions.size()), budget,
             options.model});
  if (options.model == Model::unit) check_fittable(wide, options, names.source);
  if (options.factors != 0) {
    const std::string misfit = factors_misfit(options.factors, wide.panel.sections, wide.panel.periods);
    if (!misfit.empty()) throw InputError("CD*: " + misfit);
  }
  Result r = described(names, options, wide);
  if (laid_out) laid_out();
  stop.check();
  if (options.model == Model::unit) {
    for (std::string &w : equation_warnings(wide, options)) r.warnings.push_back(std::move(w));
    run_unit(wide, module_opts, names.source, r, stop);
  } else {
    run_model(wide, names, r, stop);
  }
  return r;
}

}  // namespace

Result run_analysis(const LongPanel &data, const Options &options, const StopFlag &stop) {
  return analyse(data, options, stop, {});
}

Result run_analysis(LongPanel &&data, const Options &options, const StopFlag &stop) {
  return analyse(data, options, stop, [&data] {
    data.id_of_row = decltype(data.id_of_row)();  // (= {} would keep the storage)
    data.time_of_row = decltype(data.time_of_row)();
    data.dependent = decltype(data.dependent)();
    data.regressors = decltype(data.regressors)();
    data.lines = decltype(data.lines)();
  });
}

Result run_analysis(const ArrayPanel &data, const Options &options, const StopFlag &stop) {
  return analyse(data, options, stop, {});
}

std::string module_version(const std::string &module_path) { return module_release(module_path); }

}  // namespace qvd::analysis
