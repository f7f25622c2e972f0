#include "analysis/models/panel_model.h"

#include <stdexcept>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/models/least_squares.h"
#include "analysis/models/observations.h"
#include "analysis/models/within.h"

namespace qvd::analysis {
namespace {

const char *absorbing(Effect effect) {
  switch (effect) {
    case Effect::individual: return "constant within every cross-section";
    case Effect::time: return "constant within every period";
    case Effect::twoways: return "a sum of cross-section and period effects";
  }
  return "";
}

std::string quoted(const std::string &name) {
  std::string q(1, '"');
  q += excerpt(name);
  q += '"';
  return q;
}

// Coefficients by name, and a warning for each column left out.
void describe(ModelFit &out, const LeastSquares &fit, const std::vector<std::string> &names,
              const std::vector<bool> &absorbed, Effect effect) {
  std::string before;  // the columns kept so far
  for (std::size_t j = 0; j < names.size(); ++j) {
    out.coefficients.push_back({names[j], fit.coefficients[j]});
    if (!absorbed.empty() && absorbed[j])
      out.warnings.push_back(quoted(names[j]) + " is " + absorbing(effect) +
                             ", so the fixed effects absorb it; dropped, as plm drops it");
    else if (!fit.kept[j])
      out.warnings.push_back(quoted(names[j]) + " is a linear combination of " +
                             (before.empty() ? std::string("nothing (it is zero)") : before) +
                             "; dropped as aliased, as plm drops it");
    else
      before += (before.empty() ? "" : ", ") + quoted(names[j]);
  }
}

}  // namespace

ModelFit fit_model(const WidePanel &wide, const ModelChoice &choice,
                   const std::vector<std::string> &regressor_names) {
  if (choice.model == Model::cce || choice.model == Model::unit)
    throw std::invalid_argument("the unit and cce models are fitted by the module");
  if (regressor_names.size() != static_cast<std::size_t>(wide.panel.regressors))
    throw std::invalid_argument("fit_model: one name per regressor");
  const Observations obs = complete_cells(wide.panel);
  if (obs.size() == 0) throw InputError("the panel has no complete observation to fit a model to");
  ModelFit out;
  out.choice = choice;
  out.observations = static_cast<long>(obs.size());
  out.sections = obs.present_sections;
  out.periods = obs.present_periods;
  out.balanced = obs.balanced();
  const bool intercept = choice.intercept && choice.model != Model::within;
  std::vector<std::string> names;
  if (intercept) names.push_back("const");
  names.insert(names.end(), regressor_names.begin(), regressor_names.end());
  ColumnMatrix data = variables(wide.panel, obs, intercept);
  switch (choice.model) {
    case Model::pooling: {
      const LeastSquares fit = least_squares(data);
      describe(out, fit, names, {}, choice.effect);
      out.residuals = spread(fit.residuals.data(), obs);
      break;
    }
    case Model::within: {
      const WithinFit within = within_fit(std::move(data), obs, choice.effect);
      describe(out, within.fit, names, within.absorbed, choice.effect);
      out.residuals = spread(within.fit.residuals.data(), obs);
      break;
    }
    case Model::random: {
      RandomFit random = random_fit(data, intercept, obs, choice.effect);
      out.warnings = std::move(random.warnings);
      describe(out, random.fit, names, {}, choice.effect);
      out.residuals = spread(random.residuals.data(), obs);
      out.components = std::move(random.components);
      break;
    }
    case Model::none: out.residuals = spread(data.column(0), obs); break;
    case Model::unit:
    case Model::cce: break;
  }
  return out;
}

}  // namespace qvd::analysis
