// What is checked before and after a run, so that a panel or model that
// leaves nothing to test is refused with its reason rather than reported,
// and the warnings a result carries about its data and model.
#ifndef QVDEP_ANALYSIS_DRIVER_CHECKS_H
#define QVDEP_ANALYSIS_DRIVER_CHECKS_H

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/layout/wide_panel.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/result/result.h"
#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

// What the checks and the result need to know of the data, a LongPanel or
// an ArrayPanel alike.
struct DataNames {
  std::string source;  // for messages; "" for data held in memory
  std::string id_name, time_name, dependent;
  std::vector<std::string> regressors;
  std::size_t rows = 0;  // the observations given
};

template <typename Data>
DataNames names_of(const Data &data) {
  return {data.source,         data.id_name,         data.time_name,
          data.dependent_name, data.regressor_names, data.rows()};
}

// The options that need no panel to be judged: CD(p)'s order, the draws,
// the factors, the exponent's size, tuning and draws, and which options go
// with which model (restrictions with the module's regressions alone, an
// effect with a model that has one).
// Throws InputError.
void check_options(const Options &options);

// A regressor that is the dependent variable, or one named twice.
void check_variables(const DataNames &data);

// For the per-cross-section regressions (the module's, on the panel or on
// the CCE regressors): a pair of cross-sections, and one with more complete
// periods than free coefficients.
void check_fittable(const WidePanel &wide, const Options &options, const std::string &source);

// For the panel models: a pair of cross-sections.
void check_sections(const WidePanel &wide, const std::string &source);

// After the run: a test needs at least one pair of cross-sections that
// could be correlated (`rows`: the residuals, N rows of T; `model` says
// what fitted them).
void check_pairs(const PairTable &pairs, const WorkVector<double> &rows, Model model,
                 const std::string &dependent, const std::string &source);

// Warnings on the layout: a large panel its rows fill sparsely, an order
// past N - 1.
std::vector<std::string> layout_warnings(const DataNames &data, const WidePanel &wide,
                                         const Options &options);

// Warnings on the per-cross-section regressions: cross-sections fitted
// exactly, and those with too few periods beyond their coefficients.
std::vector<std::string> equation_warnings(const WidePanel &wide, const Options &options);

// After period effects (a within model with time or two-way effects, or
// CCE) CD is no valid test; what to use instead. Empty for other models.
std::string period_effects_warning(Model model, Effect effect);

}  // namespace qvd::analysis

#endif
