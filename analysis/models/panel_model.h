// The residuals of a panel model, exactly the series R's plm::pcdtest
// tests for it (plm 2.6: pcdtest on the model, or on its formula with
// `model`), so that the statistics on them equal plm's:
//
//   pooling  y - X b over every complete cell, X with the intercept unless
//            the model is asked without one (plm's pooling model)
//   within   the within-transformed y less the transformed regressors times
//            the within coefficients (within.h), by cross-section, period or
//            both, balanced or not
//   random   quasi-demeaned residuals of the Swamy-Arora random effects
//            model; the untransformed y - X gamma for two-way effects on an
//            unbalanced panel, as plm keeps them (random_effects.h)
//   none     y itself
//
// cce is not fitted here: its residuals are the module's, on cce_panel().
//
// Missing cells are dropped as plm drops them: a cell with any value
// missing is no observation, and its residual is missing (missing_value());
// a cross-section or period with no complete cell is no part of the model.
//
// Aliased columns are dropped as plm drops them, each named in a warning:
// a regressor that the fixed effects absorb (constant within every
// cross-section, say, for within models), then any column that is a linear
// combination of those before it (least_squares.h; the intercept comes
// first). The coefficients of what is left are estimated; a model left
// with none still has residuals (the transformed y).
//
// Cost: O(N T K^2), and O(N T^2 + T^3) more for two-way effects on an
// unbalanced panel; nothing N-by-N or NT-by-NT.
#ifndef QVDEP_ANALYSIS_MODELS_PANEL_MODEL_H
#define QVDEP_ANALYSIS_MODELS_PANEL_MODEL_H

#include <optional>
#include <string>
#include <vector>

#include "analysis/layout/wide_panel.h"
#include "analysis/linalg/work_vector.h"
#include "analysis/common/model_choice.h"
#include "analysis/models/random_effects.h"

namespace qvd::analysis {

struct Coefficient {
  std::string name;  // "const" for the intercept, else the regressor's
  double estimate;   // NaN when dropped (a warning says why)
};

struct ModelFit {
  ModelChoice choice;
  WorkVector<double> residuals;  // N rows of T; missing_value() where the cell is incomplete
  std::vector<Coefficient> coefficients;         // pooling, within, random
  std::optional<VarianceComponents> components;  // random
  std::vector<std::string> warnings;             // one line each
  long observations = 0;                         // the complete cells
  long sections = 0, periods = 0;                // those with a complete cell
  bool balanced = false;                         // every such cell complete
};

// `regressor_names`: the panel's K regressors, for coefficients and
// warnings. Throws InputError for a panel without a complete cell and
// where random_effects.h cannot form its components; std::invalid_argument
// for cce (cce_panel.h) or names that do not match the panel; AnalysisError
// in a build without LAPACK.
ModelFit fit_model(const WidePanel &wide, const ModelChoice &choice,
                   const std::vector<std::string> &regressor_names);

}  // namespace qvd::analysis

#endif
