#include "analysis/driver/analysis.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"
#include "analysis/common/task_group.h"
#include "analysis/driver/shared_host.h"
#include "analysis/input/restriction.h"
#include "analysis/layout/memory_budget.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/result/test_kinds.h"
#include "analysis/stats/bias_adjusted_lm.h"
#include "analysis/stats/cd_star.h"
#include "analysis/stats/pair_sums.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/tail_probability.h"
#include "analysis/stats/unbalanced_cd.h"
#include "analysis/stats/weighted_cd.h"
#include "host/dependence_run.h"
#include "host/module_library.h"

namespace qvd::analysis {
namespace {


std::string fault_name(std::uint32_t code) {
  switch (code) {
    case QVDEP_EXCEPTION_FLT_OVERFLOW: return "overflow";
    case QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO: return "division by zero";
    case QVDEP_EXCEPTION_FLT_INVALID_OPERATION: return "invalid operation";
    case QVDEP_EXCEPTION_FLT_UNDERFLOW: return "logarithm of a negative number";
    case QVDEP_EXCEPTION_DOMAIN_ERROR: return "domain error";
    default: return "unknown fault";
  }
}

// The module beside the program (the build tree), else in the library
// directory of an installed tree.
std::string resolve_module(const std::string &path) {
  if (!path.empty()) return path;
  const std::filesystem::path beside = host::module_path_beside_executable();
  if (std::filesystem::exists(beside)) return beside.string();
  const std::filesystem::path installed =
      beside.parent_path() / QVDEP_MODULE_FROM_BIN / beside.filename();
  return std::filesystem::exists(installed) ? installed.string() : beside.string();
}

host::ReferenceHost &load(const std::string &path) {
  return shared_host(resolve_module(path));
}

// What one run of the module leaves: its result fields, the correlation
// block and the residual block it freed.
struct ModuleRun {
  ModuleResults results;
  host::OwnedArray<double> packed;
  host::OwnedArray<double> residuals;  // period-major, as pair_table reads it
};

void check_faults(const host::TestResults &test) {
  if (test.outcome.call.trapped)
    throw FloatingPointFault("floating-point fault during the test, which it ended: " +
                             test.outcome.call.describe());
  if (test.faults.empty()) return;
  std::string names;
  for (std::uint32_t code : test.faults) {
    const std::string name = fault_name(code);
    if (names.find(name) == std::string::npos) names += (names.empty() ? "" : ", ") + name;
  }
  throw FloatingPointFault("floating-point fault during the test: " + names);
}

// Runs on any thread: the run has its own instance of the shared host, the
// faults it reports are the calling thread's, and the residual block is
// found by its place among its own instance's blocks.
ModuleRun run_module(const host::Panel &panel, const host::TestOptions &options,
                     const std::string &module_path) {
  host::TestResults test =
      host::run_dependence_test(load(module_path), panel, options, {.residuals = true});
  if (!test.started) throw ModuleError(test.error());
  check_faults(test);
  if (!test.ok()) throw ModuleError("the module did not run the test: " + test.error());
  const std::size_t cells =
      static_cast<std::size_t>(panel.sections) * static_cast<std::size_t>(panel.periods);
  if (test.residuals.size() != cells)
    throw ModuleError("the host found no residual block among the buffers the module freed");
  ModuleRun run;
  run.results = test;
  run.packed = std::move(test.correlations);
  run.residuals = std::move(test.residuals);
  return run;
}

host::TestOptions module_options(const Options &options, const std::vector<std::string> &names) {
  if (options.order < 1)
    throw InputError("the order of CD(p) must be 1 or more, not " + std::to_string(options.order));
  host::TestOptions out;
  out.intercept = options.intercept;
  out.cdp_order = options.order;
  for (const std::string &text : options.restrictions) {
    const Restriction r = parse_restriction(text, names, options.intercept);
    out.restriction_coef.insert(out.restriction_coef.end(), r.coefficients.begin(),
                                r.coefficients.end());
    out.restriction_rhs.push_back(r.rhs);
  }
  return out;
}

// A regressor that is the dependent variable, or one named twice, makes
// every equation fit some column exactly, or twice over.
template <typename Data>
void check_variables(const Data &data) {
  const std::string where = data.source.empty() ? "" : data.source + ": ";
  const std::vector<std::string> &x = data.regressor_names;
  for (std::size_t v = 0; v < x.size(); ++v) {
    if (x[v] == data.dependent_name)
      throw InputError(where + "the dependent variable \"" + excerpt(x[v]) +
                       "\" is also among the regressors");
    if (std::find(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(v), x[v]) !=
        x.begin() + static_cast<std::ptrdiff_t>(v))
      throw InputError(where + "the regressor \"" + excerpt(x[v]) + "\" is named twice");
  }
}

// K + c - h: the coefficients each equation leaves free to fit its periods.
long free_coefficients(const WidePanel &wide, const Options &options) {
  return static_cast<long>(wide.panel.regressors) + (options.intercept ? 1 : 0) -
         static_cast<long>(options.restrictions.size());
}

// A cross-section with no more complete periods than free coefficients is
// fitted exactly and leaves no residual variation. When every one is, there
// is nothing to test: the module would return zeros that read as a result.
void check_fittable(const WidePanel &wide, const Options &options, const std::string &source) {
  const std::string where = source.empty() ? "" : source + ": ";
  if (wide.panel.sections < 2)
    throw InputError(where + "the panel has " + std::to_string(wide.panel.sections) +
                     " cross-section, and a test needs a pair of them");
  const long free = free_coefficients(wide, options);
  if (free >= wide.panel.periods)
    throw InputError(where + "the model has " + std::to_string(free) +
                     " free coefficients but the panel only " +
                     std::to_string(wide.panel.periods) +
                     " periods, so no cross-section can leave residual variation");
  const int most = wide.complete_per_section.empty()
                       ? 0
                       : *std::max_element(wide.complete_per_section.begin(),
                                           wide.complete_per_section.end());
  if (most <= free)
    throw InputError(where + "no cross-section has more complete periods (at most " +
                     std::to_string(most) + ") than the " + std::to_string(free) +
                     " free coefficients of its equation, so none leaves residual variation");
}

// Cross-sections whose residual sum of squares over their complete periods
// is at most the module's floor (`rows`: N rows of T).
long exactly_fitted(const WorkVector<double> &rows, std::size_t n, std::size_t t) {
  long count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double sum = 0;
    for (std::size_t s = 0; s < t; ++s)
      if (!qvdep_is_missing(rows[i * t + s])) sum += rows[i * t + s] * rows[i * t + s];
    count += !(sum > QVDEP_MIN_SUM_OF_SQUARES);
  }
  return count;
}

// After the run: a test needs at least one pair of cross-sections that
// could be correlated (`rows`: the residuals, N rows of T).
void check_pairs(const PairTable &pairs, const WorkVector<double> &rows,
                 const std::string &dependent, const std::string &source) {
  if (pairs.usable > 0) return;
  const std::string where = source.empty() ? "" : source + ": ";
  const int n = pairs.sections;
  const long fitted = exactly_fitted(rows, static_cast<std::size_t>(n),
                                     static_cast<std::size_t>(pairs.periods));
  if (fitted >= n - 1)
    throw InputError(where + "no pair of cross-sections can be correlated: " +
                     (fitted == n ? "every" : "all but one") +
                     " cross-section's equation fits \"" + excerpt(dependent) +
                     "\" exactly (is it constant within each cross-section, or a "
                     "combination of the regressors?)");
  throw InputError(where + "no pair of cross-sections can be correlated: no two share a period "
                   "where both have residuals");
}

// The tests' laws are asymptotic in T: a cross-section with fewer than
// this many complete periods beyond its free coefficients is far from them.
constexpr long kFewDegreesOfFreedom = 5;

// "a, b, c, d, e, ...": the first five labels of those `chosen`.
std::string first_labels(const WidePanel &wide, const std::function<bool(std::size_t)> &chosen) {
  std::string list;
  int count = 0;
  for (std::size_t i = 0; i < wide.section_labels.size(); ++i)
    if (chosen(i) && ++count <= 5) list += (list.empty() ? "" : ", ") + excerpt(wide.section_labels[i]);
  return count > 5 ? list + ", ..." : list;
}

// A dense panel this large that its rows fill sparsely is most likely laid
// out on the wrong columns.
constexpr double kSparseCells = 100000;

template <typename Data>
std::vector<std::string> warnings_for(const Data &data, const WidePanel &wide,
                                      const Options &options) {
  std::vector<std::string> warnings;
  const double cells = static_cast<double>(wide.panel.sections) * wide.panel.periods;
  if (cells >= kSparseCells &&
      sparsely_filled(data.rows(), wide.section_labels.size(), wide.period_labels.size()))
    warnings.push_back(sparsity(data.source, data.rows(),
                                static_cast<std::size_t>(wide.panel.sections),
                                static_cast<std::size_t>(wide.panel.periods)) +
                       ": are \"" + excerpt(data.id_name) + "\" and \"" + excerpt(data.time_name) +
                       "\" the right id and time columns?");
  const int n = wide.panel.sections;
  const long free = free_coefficients(wide, options);
  auto beyond = [&](std::size_t i) { return wide.complete_per_section[i] - free; };
  const auto count = [&](auto chosen) {
    long c = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) c += chosen(i);
    return c;
  };
  auto void_section = [&](std::size_t i) { return beyond(i) <= 0; };
  auto short_section = [&](std::size_t i) {
    return beyond(i) > 0 && beyond(i) < kFewDegreesOfFreedom;
  };
  if (const long c = count(void_section); c > 0)
    warnings.push_back(std::to_string(c) + " cross-section" + (c > 1 ? "s have" : " has") +
                       " no more complete periods than free coefficients (" +
                       std::to_string(free) + "), so no residual variation: " +
                       first_labels(wide, void_section));
  if (const long c = count(short_section); c > 0)
    warnings.push_back(std::to_string(c) + " cross-section" + (c > 1 ? "s have" : " has") +
                       " fewer than " + std::to_string(kFewDegreesOfFreedom) +
                       " complete periods beyond the " + std::to_string(free) +
                       " free coefficients, too few for the tests' asymptotic laws: " +
                       first_labels(wide, short_section));
  if (n >= 2 && options.order > n - 1)
    warnings.push_back("order " + std::to_string(options.order) + " exceeds N - 1 = " +
                       std::to_string(n - 1) + "; CD(p) uses every pair");
  return warnings;
}

// A test row as the catalogue names it, with the library's p-value, or
// "not available" with the reason.
TestRow test_row(TestKind kind, double statistic, double pvalue, const PatternValues &values,
                 std::string unavailable = "") {
  const TestKindInfo &info = test_kind(kind);
  if (!unavailable.empty()) statistic = pvalue = kNaN;
  return {kind,
          filled(info.name, values),
          statistic,
          filled(info.distribution, values),
          pvalue,
          std::isnan(pvalue) ? PValueSource::none : PValueSource::tool,
          std::string(info.reference),
          std::move(unavailable)};
}

// The module's statistics with p-values the library forms from them: the
// module's own are 1 - Phi and 1 - P, which keep no relative precision in
// the tails (they stay as it returned them in r.module).
std::vector<TestRow> module_rows(const Result &r) {
  const ModuleResults &m = r.module;
  PatternValues values = pattern_values(r);
  values.df = static_cast<long long>(r.lm_degrees_of_freedom);
  return {test_row(TestKind::lm, m.lm, r.lm_pvalue_tool, values),
          test_row(TestKind::scaled_lm, m.scaled_lm, normal_upper_tail(m.scaled_lm), values),
          test_row(TestKind::cd, m.cd, normal_two_sided(m.cd), values),
          test_row(TestKind::local_cd, m.cdp, normal_two_sided(m.cdp), values)};
}

// The module keeps the residuals period-major (T rows of N); the statistics
// that work one cross-section at a time want N rows of T.
WorkVector<double> section_major(const double *period_major, std::size_t n, std::size_t t) {
  WorkVector<double> rows(n * t);
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t i = 0; i < n; ++i) rows[i * t + s] = period_major[s * n + i];
  return rows;
}

// CD* takes p factors out of N series of T periods: 1 <= p < min(N, T).
// A p the caller gave that does not fit is an error; the default that does
// not fit leaves CD* not available.
std::string factors_misfit(int p, int n, int t) {
  if (p >= 1 && p < std::min(n, t)) return "";
  return "p = " + std::to_string(p) + " factors need more than p cross-sections and periods (" +
         std::to_string(n) + " and " + std::to_string(t) + ")";
}

// CD* divides by w = N^-1 sum_i (1 - sigma_i gamma_i'phi)^2, which is near
// zero when the loadings are nearly alike across cross-sections (every
// weight then nearly cancels). Its first-order correction is then far from
// its limit: in simulations with N = 100, T = 50 and two strong factors it
// rejected 11 % of true nulls at w = 0.03 and 67 % at w = 0.01, against
// 7 % at w = 0.13 and above.
constexpr double kSmallCdStarScale = 0.1;

std::string small_scale_warning(double w) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", w);
  return std::string("CD*: the scale of its correction, w = ") + text +
         ", is near zero (the factor loadings are nearly alike across cross-sections); "
         "CD* divides by w and over-rejects when w is below about 0.1, so do not trust its "
         "p-value here";
}

// The statistics beyond the module's, as rows after its own.
void add_extended_rows(Result &r, const BiasAdjustedLm &adjusted, const CdStar &star,
                       std::string misfit, const std::optional<UnbalancedBlock> &block) {
  PatternValues values = pattern_values(r);
  r.tests.push_back(test_row(TestKind::weighted_cd, r.weighted_cd, r.weighted_cd_pvalue, values));
  r.tests.push_back(test_row(TestKind::weighted_cd_plus, r.weighted_cd_plus,
                             r.weighted_cd_plus_pvalue, values));

  if (misfit.empty() && !star.available) misfit = star.reason;
  r.cd_star_w = misfit.empty() ? star.w : kNaN;
  if (misfit.empty() && star.w < kSmallCdStarScale) r.warnings.push_back(small_scale_warning(star.w));
  r.tests.push_back(test_row(TestKind::bias_adjusted_lm, adjusted.statistic, adjusted.pvalue,
                             values, adjusted.available ? "" : adjusted.reason));
  r.tests.push_back(test_row(TestKind::cd_star, star.statistic, star.pvalue, values, misfit));

  if (!block) return;
  const UnbalancedDependence &all = block->all, &local = block->local;
  r.unbalanced = {true, all.pairs, all.omitted_pairs, all.mean_correlation,
                  all.mean_abs_correlation};
  const std::string none = all.pairs == 0 ? "no pair has a centred correlation" : "";
  values.df = all.pairs;
  r.tests.push_back(test_row(TestKind::unbalanced_lm, all.lm, all.lm_pvalue, values, none));
  r.tests.push_back(test_row(TestKind::unbalanced_scaled_lm, all.scaled_lm,
                             all.scaled_lm_upper_pvalue, values, none));
  r.tests.push_back(test_row(TestKind::unbalanced_cd, all.cd, all.cd_pvalue, values, none));
  r.tests.push_back(test_row(TestKind::unbalanced_local_cd, local.cd, local.cd_pvalue, values,
                             local.pairs == 0 ? "no pair within the order has one" : ""));
}

// The options that need no panel to be judged.
void check_options(const Options &options) {
  if (options.cdw_draws < 1)
    throw InputError("the weighted CD needs 1 or more draws, not " + std::to_string(options.cdw_draws));
  if (options.factors < 0)
    throw InputError("CD* takes 1 or more factors, not " + std::to_string(options.factors));
}

// The result's description of the panel and the model, before any figure.
template <typename Data>
Result described(const Data &data, const Options &options, const WidePanel &wide) {
  const int n = wide.panel.sections, t = wide.panel.periods;
  Result r;
  r.options = options;
  r.section_labels = wide.section_labels;
  r.period_labels = wide.period_labels;
  r.id_name = data.id_name;
  r.time_name = data.time_name;
  r.dependent = data.dependent_name;
  r.regressors = data.regressor_names;
  r.warnings = warnings_for(data, wide, options);
  r.shape = {n, t, wide.panel.regressors, static_cast<int>(options.restrictions.size()),
             static_cast<long>(data.rows()), wide.complete_observations, 0, 0};
  r.effective_order = std::min(options.order, n > 1 ? n - 1 : 0);
  r.factors = options.factors != 0 ? options.factors : kDefaultFactors;
  return r;
}

// What the module's run and the statistics beyond it leave.
struct Statistics {
  PairTable pairs;
  PairSums sums;
  BiasAdjustedLm adjusted;
  CdStar star;
  std::string cd_star_misfit;  // why CD*'s p does not fit, if it does not
  std::optional<UnbalancedBlock> block;
};

// Runs the module on `wide` and forms the statistics beyond its own; sets
// the result's module figures and signs (`source` names the data in
// messages).
//
// LM_adj's weights depend on the regressors alone: its first bands are
// formed on the pool while the module runs on this thread (the module's
// BLAS is its own), and this thread helps with what is left of them once
// the module is done; the panel is then read no more. CD* and Pesaran's
// unbalanced block need only the residuals, and go to the pool while this
// thread makes the pair table and the sums over the pairs. The group waits
// for its tasks before this function returns or unwinds, and what they
// read and write is the function's own, made before the group.
Statistics run_statistics(WidePanel &wide, const host::TestOptions &module_opts,
                          const std::string &source, Result &r, const StopFlag &stop) {
  const Options &options = r.options;
  const int n = wide.panel.sections, t = wide.panel.periods;
  const bool with_unbalanced =
      wide.complete_observations != static_cast<long>(n) * t || options.unbalanced_block;
  Statistics s;
  s.cd_star_misfit = factors_misfit(r.factors, n, t);
  BiasAdjustedLmBands lm_adj(wide.panel, options.intercept, r.shape.restrictions);
  WorkVector<double> rows;  // the residuals section by section
  TaskGroup beside;
  lm_adj.start(beside);
  ModuleRun run = run_module(wide.panel, module_opts, options.module_path);
  r.module = run.results;
  rows = section_major(run.residuals.data(), static_cast<std::size_t>(n), static_cast<std::size_t>(t));
  beside.wait();
  stop.check();
  wide.panel.values = std::vector<double>();
  if (with_unbalanced)
    beside.run([&] { s.block = unbalanced_block(rows.data(), n, t, options.order, stop); });
  s.pairs = pair_table(run.residuals.data(), n, t, std::move(run.packed), stop);
  run.residuals = {};
  check_pairs(s.pairs, rows, r.dependent, source);
  // CD* works on its own copy of the residuals, or on these once nothing
  // else needs them.
  if (s.cd_star_misfit.empty())
    beside.run([&, mine = with_unbalanced ? rows : std::move(rows)]() mutable {
      s.star = cd_star(std::move(mine), n, t, r.factors);
    });
  // One draw (the default) keeps its signs for the report, and the pass
  // over the pairs forms its CD_W; R draws keep only R and the seed.
  if (options.cdw_draws == 1) r.signs = random_signs(n, options.seed);
  s.sums = pair_sums(s.pairs, options.cdw_draws == 1 ? &r.signs : nullptr, lm_adj.early_scales(),
                     lm_adj.early_rows());
  s.adjusted = lm_adj.finish(s.pairs, s.sums.scaled_squares, stop);
  beside.wait();
  return s;
}

// The figures the statistics give, and the rows of every test.
void add_figures(Result &r, Statistics &s, const StopFlag &stop) {
  const Options &options = r.options;
  const long long n = r.shape.sections;
  r.shape.usable_pairs = s.pairs.usable;
  r.shape.unusable_pairs = s.pairs.unusable;
  r.lm_degrees_of_freedom = static_cast<double>(n * (n - 1) / 2);
  r.lm_pvalue_tool = chi2_upper_tail(r.module.lm, r.lm_degrees_of_freedom);
  r.mean_correlation = s.sums.mean;
  r.mean_abs_correlation = s.sums.mean_abs;
  r.weighted_cd = s.sums.weighted_cd
                      ? *s.sums.weighted_cd
                      : weighted_cd_draws(s.pairs, options.cdw_draws, options.seed, stop);
  r.weighted_cd_pvalue = normal_two_sided(r.weighted_cd);
  r.weighted_cd_plus = r.weighted_cd + s.sums.power_enhancement;  // CD_W+
  r.weighted_cd_plus_pvalue = normal_two_sided(r.weighted_cd_plus);
  r.tests = module_rows(r);
  add_extended_rows(r, s.adjusted, s.star, s.cd_star_misfit, s.block);
  r.correlations = std::move(s.pairs.correlations);
  r.common_periods = std::move(s.pairs.common_periods);
}

// The analysis of a panel in long format or already laid out: `Data` is a
// LongPanel or an ArrayPanel, which name their variables alike. Once the
// panel is laid out, `laid_out` is called: a caller that owns the rows may
// let them go.
template <typename Data>
Result analyse(const Data &data, const Options &options, const StopFlag &stop,
               const std::function<void()> &laid_out) {
  check_options(options);
  const host::TestOptions module_opts = module_options(options, data.regressor_names);
  check_variables(data);
  const std::uint64_t budget = options.max_memory != 0 ? options.max_memory : default_memory_budget();
  WidePanel wide = make_wide_panel(
      data, {options.intercept, static_cast<int>(options.restrictions.size()), budget});
  check_fittable(wide, options, data.source);
  if (options.factors != 0) {
    const std::string misfit = factors_misfit(options.factors, wide.panel.sections, wide.panel.periods);
    if (!misfit.empty()) throw InputError("CD*: " + misfit);
  }
  Result r = described(data, options, wide);
  const std::string source = data.source;
  if (laid_out) laid_out();
  stop.check();
  Statistics s = run_statistics(wide, module_opts, source, r, stop);
  add_figures(r, s, stop);
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

std::string module_version(const std::string &module_path) {
  VersionRecord record{};
  load(module_path).module().qvrelct1(&record);
  return record.slot[0].text != nullptr ? record.slot[0].text : "";
}

}  // namespace qvd::analysis
