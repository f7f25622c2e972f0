// The result of an analysis, and the options it was asked with: every
// figure the module wrote, as it wrote it, and what the library derived
// from them, with the residual correlations as one packed triangle. This is
// all the report library sees of the analysis.
#ifndef QVDEP_ANALYSIS_RESULT_RESULT_H
#define QVDEP_ANALYSIS_RESULT_RESULT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/input/neighbours.h"
#include "analysis/linalg/packed_triangle.h"
#include "analysis/common/model_choice.h"
#include "host/module_figures.h"
#include "host/owned_array.h"

namespace qvd::analysis {

constexpr std::uint64_t kDefaultSeed = 20220101;

struct Options {
  bool intercept = true;
  int order = 1;                          // neighbourhood order p of CD(p), 1 or more
  std::vector<std::string> restrictions;  // "value + capital = 0.2", ...
  std::uint64_t seed = kDefaultSeed;      // signs of the weighted CD
  std::string module_path;                // empty: libqvdep beside the executable
  // Memory the analysis may take (the dense panel, the module's buffers and
  // the N-by-N matrices); 0: half of the physical memory.
  std::uint64_t max_memory = 0;
  int cdw_draws = 1;                      // R draws of the weighted CD's signs, 1 or more
  // p principal components taken out by CD*: 1 .. min(N, T) - 1; 0 means
  // kDefaultFactors, and then CD* is "not available" where p does not fit.
  int factors = 0;
  // Pesaran's unbalanced-panel block for a balanced panel too (it is always
  // there when a residual is missing).
  bool unbalanced_block = false;
  // The model whose residuals are tested (model_choice.h): each
  // cross-section's own regression, the module's, or one of plm's panel
  // models; their effect, where they have one (none: individual).
  Model model = Model::unit;
  std::optional<Effect> effect;
  // The neighbours of the local statistics, formed once the panel's
  // cross-sections are known (their labels in panel order): a proximity
  // matrix, as plm's w. None: the pairs at most `order` apart.
  std::function<Neighbours(const std::vector<std::string> &labels)> neighbours;
  std::string neighbours_name;  // where they came from ("w.csv"), for the report
  // The exponent of cross-sectional dependence of the residuals (Bailey,
  // Kapetanios and Pesaran 2019): the size p and tuning delta of its
  // threshold, in (0, 1) and (0, 1]; the draws R of its bootstrap over
  // cross-sections, 1 or more (none: no bootstrap) and their seed (none:
  // `seed`). The size is also that of the variable's exponent's multiple
  // test (2016), formed for the series tested as it is (model none) and, on
  // request, for the dependent variable.
  double exponent_size = 0.10;
  double exponent_tuning = 0.5;
  std::optional<int> exponent_draws;
  std::optional<std::uint64_t> exponent_seed;
  bool exponent_of_dependent = false;
};

constexpr int kDefaultFactors = 4;

// Shape of the panel as the module sees it.
struct PanelShape {
  int sections = 0;                  // N, in order of first appearance
  int periods = 0;                   // T
  int regressors = 0;                // K
  int restrictions = 0;              // h
  long rows = 0;                     // observations given
  long complete_observations = 0;    // (i, t) with every value present
  long usable_pairs = 0;             // pairs that entered the statistics
  long unusable_pairs = 0;           // pairs that could not be correlated
};

// The module's result fields exactly as it wrote them.
using ModuleResults = host::ModuleFigures;

enum class PValueSource { module, tool, none };

// "module", "tool", "none": the JSON's and Python's word for the source.
const char *p_value_source_name(PValueSource source);

// What a test row tests. Readers find a row by its kind, never by its
// place: a result may hold any of them, in the order the library lists them.
enum class TestKind {
  lm,                 // Breusch-Pagan LM
  scaled_lm,          // Pesaran's scaled LM
  bias_corrected_scaled_lm,  // LM_BC of Baltagi, Feng and Kao, for fixed effects
  cd,                 // Pesaran's CD
  local_lm,           // LM over the neighbours of a proximity matrix
  local_scaled_lm,    // scaled LM over them
  local_cd,           // CD(p), pairs at most p apart, or over the neighbours
  weighted_cd,        // CD of the sign-flipped residuals (Juodis and Reese), R draws
  weighted_cd_plus,   // power-enhanced weighted CD (Juodis and Reese, Fan, Liao and Yao)
  bias_adjusted_lm,   // LM_adj of Pesaran, Ullah and Yamagata
  cd_star,            // CD* of Pesaran and Xie, p factors taken out
  friedman,           // Friedman's rank test over the periods every cross-section has
  frees,              // Frees' test of the squared rank correlations, over those periods
  // Pesaran's definitions for unbalanced panels beside the module's:
  // correlations centred over each pair's common periods, only pairs that
  // have one counted.
  unbalanced_lm,
  unbalanced_scaled_lm,
  unbalanced_cd,
  unbalanced_local_lm,         // over the neighbours of a proximity matrix
  unbalanced_local_scaled_lm,  // over them
  unbalanced_local_cd,  // the last: kTestKinds counts from it
};
constexpr int kTestKinds = static_cast<int>(TestKind::unbalanced_local_cd) + 1;

// Whether the row belongs to the block of unbalanced-panel definitions.
constexpr bool in_unbalanced_block(TestKind kind) { return kind >= TestKind::unbalanced_lm; }

// One line of the report.
struct TestRow {
  TestKind kind = TestKind::lm;
  std::string name;          // "LM", "scaled LM", "CD", "CD(2)", "weighted CD"
  double statistic = 0;
  std::string distribution;  // "chi2(45)", "N(0,1) upper tail", "N(0,1) two-sided"
  double pvalue = 0;         // NaN when there is none
  PValueSource source = PValueSource::module;
  std::string reference;     // where the statistic is defined: "Pesaran (2004)", ...
  std::string unavailable;   // why there is no statistic ("" when there is one)
  std::string note;          // how it was formed, where the panel made it differ ("" if not)
};

// Pesaran's unbalanced-panel block: its pairs and averages (its tests are
// rows of the result).
struct UnbalancedSummary {
  bool present = false;
  long pairs = 0;           // M: pairs with a centred correlation
  long omitted_pairs = 0;   // pairs without one
  double mean_correlation = 0, mean_abs_correlation = 0;
};

// Friedman's and Frees' tests: the periods their ranks are over, and the
// critical values of Frees' Q law there.
struct RankTestsSummary {
  bool present = false;
  int periods_used = 0;              // T: the periods every cross-section has a residual in
  bool common_periods_only = false;  // fewer than the panel's periods: some residual is missing
  double frees_critical_10 = 0, frees_critical_5 = 0, frees_critical_1 = 0;  // NaN: none
};

// The exponent alpha of cross-sectional dependence of the residuals
// (Bailey, Kapetanios and Pesaran 2019): ln(N + 2 x the pairs whose |rho|
// clears the threshold) / (2 ln N).
struct ResidualExponentSummary {
  bool available = false;
  std::string reason;       // why not, when not available
  double alpha = 0;         // NaN when not available
  long pairs = 0;           // pairs with a correlation
  long nonzero_pairs = 0;   // those declared non-zero
  double threshold = 0;     // the |rho| they clear at the most periods a pair shares
  int draws = 0;            // R of the bootstrap over cross-sections; 0: none
  std::uint64_t seed = 0;   // of its draws
  double standard_error = 0;  // the draws' standard deviation; NaN without draws
  // The draws' 2.5 % and 97.5 % quantiles: the lower and upper ends of the
  // 95 % bootstrap interval of alpha. NaN without draws.
  double lower_95 = 0, upper_95 = 0;
};

// The exponent of a variable (Bailey, Kapetanios and Pesaran 2016) with its
// standard error: of the series tested as it is (model none), or of the
// dependent variable on request.
struct VariableExponentSummary {
  bool present = false;
  std::string variable;     // its name
  bool available = false;
  std::string reason;       // why not, when not available
  double alpha = 0;         // NaN when not available
  double standard_error = 0;  // NaN when there is none (standard_error_reason says why)
  std::string standard_error_reason;
};

// How strong the dependence is, beside whether there is any.
struct Strength {
  ResidualExponentSummary residuals;
  VariableExponentSummary variable;
};

struct Result {
  PanelShape shape;
  std::vector<std::string> section_labels;  // panel order
  std::vector<std::string> period_labels;   // sorted
  std::string id_name, time_name;           // the columns naming them
  std::string dependent;
  std::vector<std::string> regressors;
  Options options;               // as given
  int effective_order = 0;       // the order the module used: min(p, N - 1)
  Effect effect = Effect::individual;  // of a within or random model, as used
  // Whether the module ran (on the panel, or on the CCE regressors): the
  // other models' residuals are the library's, and `module` holds nothing.
  bool module_ran = false;

  ModuleResults module;
  double lm_degrees_of_freedom = 0;  // N(N - 1)/2
  double lm_pvalue_tool = 0;         // LM's upper chi-square tail, by the library
  double mean_correlation = 0;       // NaN without usable pairs
  double mean_abs_correlation = 0;
  double weighted_cd = 0, weighted_cd_pvalue = 0;  // over options.cdw_draws draws
  std::vector<int> signs;            // w_i of the weighted CD (one draw only), +1 or -1
  double weighted_cd_plus = 0, weighted_cd_plus_pvalue = 0;
  int factors = 0;                   // p of CD*, as used
  double cd_star_w = 0;              // CD*'s scale w; NaN when not available
  UnbalancedSummary unbalanced;
  RankTestsSummary rank_tests;
  Strength strength;

  std::vector<TestRow> tests;        // one row per kind computed, in the report's order

  // The module's correlation block, packed (packed_triangle.h): rho_ij for
  // usable pairs, 1 on the diagonal, NaN for pairs that could not be
  // correlated. Read it through correlation_of below.
  host::OwnedArray<double> correlations;
  // Packed alike: T_ij, the periods both residual series observe (the
  // diagonal holds each cross-section's complete observations). Empty when
  // every residual is present: every T_ij is then shape.periods (read it
  // through common_periods_of below).
  std::vector<int> common_periods;

  std::vector<std::string> warnings;  // one line each
};

// rho_ij of the result's pair (i, j), as `correlations` says.
inline double correlation_of(const Result &r, std::size_t i, std::size_t j) {
  return r.correlations[packed_index(i, j)];
}

// T_ij of the result's pair (i, j), with or without a table.
inline int common_periods_of(const Result &r, std::size_t i, std::size_t j) {
  return packed_cell_or(r.common_periods, r.shape.periods, i, j);
}

}  // namespace qvd::analysis

#endif
