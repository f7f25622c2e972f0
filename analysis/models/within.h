// Fixed effects: plm's within transformation and the least-squares fit on
// it. The transformation of each variable at the observations:
//
//   individual          x - (its cross-section's mean)
//   time                x - (its period's mean)
//   twoways, balanced   x - (cross-section mean) - (period mean) + (overall mean)
//   twoways, unbalanced x - (cross-section mean), less its projection on the
//                       period dummies demeaned by cross-section
//                       (period_dummies.h): the exact projection plm's
//                       Within makes with lm.fit, no iteration stopped at a
//                       tolerance
//
// and the residuals are the transformed y less the transformed regressors
// times the within coefficients: the residuals plm's within model keeps,
// and pcdtest tests.
#ifndef QVDEP_ANALYSIS_MODELS_WITHIN_H
#define QVDEP_ANALYSIS_MODELS_WITHIN_H

#include <vector>

#include "analysis/models/least_squares.h"
#include "analysis/common/model_choice.h"
#include "analysis/models/observations.h"

namespace qvd::analysis {

void within_transform(ColumnMatrix &m, const Observations &obs, Effect effect);

struct WithinFit {
  LeastSquares fit;            // the transformed y on the transformed regressors
  std::vector<bool> absorbed;  // per regressor: the effects absorb it
};

// `data`: y, then the K regressors (no intercept: the effects take its
// place), transformed here. A regressor the transformation leaves shorter
// than 1e-7 of its length (constant within every cross-section, say) is
// absorbed by the effects and does not enter: plm removes it, finding it
// constant once transformed, and lm would drop it with the effects' dummies
// before it. Collinear regressors are then dropped as least_squares.h does.
WithinFit within_fit(ColumnMatrix data, const Observations &obs, Effect effect);

}  // namespace qvd::analysis

#endif
