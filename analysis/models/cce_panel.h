// The panel whose per-cross-section regressions are Pesaran's common
// correlated effects mean-group regressions (R's plm::pcce(model = "mg")):
// each cell holds its K regressors, then the cross-sectional averages at
// its period of the dependent variable and of every regressor, then its
// dependent value. The module's own regression of each cross-section, with
// an intercept (or without, as the model asks), then fits y on the
// regressors, the averages and the intercept, and its residuals are those
// plm's pcce keeps (M_i (y_i - X_i b_i), M_i the annihilator of the
// averages and the intercept, which by Frisch-Waugh-Lovell are the
// residuals of the full regression) and pcdtest tests.
//
// The averages are plm's: the mean over the cross-sections whose cell at
// that period is complete (pcce takes them with Between(..., na.rm = TRUE)
// over its model frame, which holds the complete cells only). A cell that
// is incomplete stays so, and enters no average.
#ifndef QVDEP_ANALYSIS_MODELS_CCE_PANEL_H
#define QVDEP_ANALYSIS_MODELS_CCE_PANEL_H

#include <string>
#include <vector>

#include "analysis/layout/wide_panel.h"

namespace qvd::analysis {

// The augmented panel: 2K + 1 regressors, the labels and counts of `wide`.
WidePanel cce_panel(const WidePanel &wide);

// Its regressors' names: the K given, then "mean(y)", "mean(x1)", ...
std::vector<std::string> cce_regressor_names(const std::string &dependent,
                                             const std::vector<std::string> &regressors);

}  // namespace qvd::analysis

#endif
