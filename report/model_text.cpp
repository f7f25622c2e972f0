#include "report/model_text.h"

#include <fmt/format.h>

namespace qvd::report {
namespace {

using analysis::Effect;
using analysis::Model;

std::string join(const std::vector<std::string> &names, const char *separator) {
  std::string text;
  for (const auto &n : names) text += (text.empty() ? "" : separator) + n;
  return text;
}

// "inv ~ const + value + capital"; a within model has no intercept (its
// effects absorb it).
std::string formula(const analysis::Result &r) {
  std::vector<std::string> terms;
  if (r.options.intercept && r.options.model != Model::within) terms.push_back("const");
  terms.insert(terms.end(), r.regressors.begin(), r.regressors.end());
  return fmt::format("{} ~ {}", r.dependent,
                     terms.empty() ? std::string("(nothing: the residuals are the data)")
                                   : join(terms, " + "));
}

// The variables whose cross-sectional averages a CCE regression takes: the
// dependent variable and the regressors.
std::vector<std::string> averaged(const analysis::Result &r) {
  std::vector<std::string> names = {r.dependent};
  names.insert(names.end(), r.regressors.begin(), r.regressors.end());
  return names;
}

// "by firm", "by year", "by firm and by year".
std::string effects_by(const analysis::Result &r) {
  switch (r.effect) {
    case Effect::individual: return "by " + r.id_name;
    case Effect::time: return "by " + r.time_name;
    default: return "by " + r.id_name + " and by " + r.time_name;
  }
}

// What the model is, after its name.
std::string model_description(const analysis::Result &r) {
  switch (r.options.model) {
    case Model::pooling: return "one least-squares regression over the whole panel";
    case Model::within: return "fixed effects " + effects_by(r);
    case Model::random:
      return "random effects " + effects_by(r) + ", Swamy and Arora's variance components";
    case Model::cce:
      return std::string("each cross-section's regression on its regressors, ") +
             (r.options.intercept ? "an intercept " : "") + "and the cross-sectional averages";
    default: return r.dependent + " as given (residuals formed elsewhere, or any series)";
  }
}

}  // namespace

std::string report_heading(const analysis::Result &r) {
  switch (r.options.model) {
    case Model::unit:
    case Model::cce:
      return "Cross-sectional dependence of the residuals of per-cross-section regressions";
    case Model::none: return "Cross-sectional dependence of a panel series as given";
    default: return "Cross-sectional dependence of the residuals of a panel regression";
  }
}

std::vector<std::pair<std::string, std::string>> model_lines(const analysis::Result &r) {
  const Model model = r.options.model;
  if (model == Model::unit) return {{"model", formula(r) + ", one equation per " + r.id_name}};
  const std::string name =
      model == Model::cce ? std::string("CCE mean group (Pesaran 2006)")
      : analysis::has_effects(model)
          ? fmt::format("{} ({} effects)", analysis::model_name(model),
                        analysis::effect_name(r.effect))
          : std::string(analysis::model_name(model));
  std::vector<std::pair<std::string, std::string>> lines = {
      {"model", name + ": " + model_description(r)}};
  if (model == Model::cce)
    lines.emplace_back(
        "regression",
        fmt::format("{} + cross-sectional averages of {}, one equation per {}", formula(r),
                    join(averaged(r), ", "), r.id_name));
  else if (model != Model::none)
    lines.emplace_back("regression", formula(r));
  return lines;
}

std::string correlations_title(const analysis::Result &r, const std::string &source) {
  const Model model = r.options.model;
  if (model == Model::unit) return "Residual correlations: " + r.dependent + ", " + source;
  if (model == Model::none)
    return "Centred correlations (as given): " + r.dependent + ", " + source;
  return fmt::format("Centred residual correlations ({} model): {}, {}",
                     analysis::model_name(model), r.dependent, source);
}

}  // namespace qvd::report
