#include "analysis/driver/checks.h"

#include <algorithm>
#include <functional>

#include "analysis/common/errors.h"
#include "analysis/driver/strength.h"

namespace qvd::analysis {
namespace {

std::string where(const std::string &source) { return source.empty() ? "" : source + ": "; }

// K + c - h: the coefficients each equation leaves free to fit its periods.
long free_coefficients(const WidePanel &wide, const Options &options) {
  return static_cast<long>(wide.panel.regressors) + (options.intercept ? 1 : 0) -
         static_cast<long>(options.restrictions.size());
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

// The tests' laws are asymptotic in T: a cross-section with fewer than
// this many complete periods beyond its free coefficients is far from them.
constexpr long kFewDegreesOfFreedom = 5;

// A dense panel this large that its rows fill sparsely is most likely laid
// out on the wrong columns.
constexpr double kSparseCells = 100000;

// "a, b, c, d, e, ...": the first five labels of those `chosen`.
std::string first_labels(const WidePanel &wide, const std::function<bool(std::size_t)> &chosen) {
  std::string list;
  int count = 0;
  for (std::size_t i = 0; i < wide.section_labels.size(); ++i)
    if (chosen(i) && ++count <= 5) list += (list.empty() ? "" : ", ") + excerpt(wide.section_labels[i]);
  return count > 5 ? list + ", ..." : list;
}

}  // namespace

void check_options(const Options &options) {
  if (options.order < 1)
    throw InputError("the order of CD(p) must be 1 or more, not " + std::to_string(options.order));
  if (options.cdw_draws < 1)
    throw InputError("the weighted CD needs 1 or more draws, not " + std::to_string(options.cdw_draws));
  if (options.factors < 0)
    throw InputError("CD* takes 1 or more factors, not " + std::to_string(options.factors));
  check_exponent_options(options);
  if (!options.restrictions.empty() && options.model != Model::unit)
    throw InputError(std::string("restrictions constrain each cross-section's own regression "
                                 "(model unit), not model ") +
                     model_name(options.model));
  if (options.effect && !has_effects(options.model))
    throw InputError(std::string("an effect is chosen for the within and random models "
                                 "only (individual, time or twoways), not for model ") +
                     model_name(options.model));
}

void check_variables(const DataNames &data) {
  const std::vector<std::string> &x = data.regressors;
  for (std::size_t v = 0; v < x.size(); ++v) {
    if (x[v] == data.dependent)
      throw InputError(where(data.source) + "the dependent variable \"" + excerpt(x[v]) +
                       "\" is also among the regressors");
    if (std::find(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(v), x[v]) !=
        x.begin() + static_cast<std::ptrdiff_t>(v))
      throw InputError(where(data.source) + "the regressor \"" + excerpt(x[v]) +
                       "\" is named twice");
  }
}

void check_sections(const WidePanel &wide, const std::string &source) {
  if (wide.panel.sections < 2)
    throw InputError(where(source) + "the panel has " + std::to_string(wide.panel.sections) +
                     " cross-section, and a test needs a pair of them");
}

// A cross-section with no more complete periods than free coefficients is
// fitted exactly and leaves no residual variation. When every one is, there
// is nothing to test: the module would return zeros that read as a result.
void check_fittable(const WidePanel &wide, const Options &options, const std::string &source) {
  check_sections(wide, source);
  const long free = free_coefficients(wide, options);
  if (free >= wide.panel.periods)
    throw InputError(where(source) + "the model has " + std::to_string(free) +
                     " free coefficients but the panel only " +
                     std::to_string(wide.panel.periods) +
                     " periods, so no cross-section can leave residual variation");
  const int most = wide.complete_per_section.empty()
                       ? 0
                       : *std::max_element(wide.complete_per_section.begin(),
                                           wide.complete_per_section.end());
  if (most <= free)
    throw InputError(where(source) + "no cross-section has more complete periods (at most " +
                     std::to_string(most) + ") than the " + std::to_string(free) +
                     " free coefficients of its equation, so none leaves residual variation");
}

void check_pairs(const PairTable &pairs, const WorkVector<double> &rows, Model model,
                 const std::string &dependent, const std::string &source) {
  if (pairs.usable > 0) return;
  const int n = pairs.sections;
  const long fitted = exactly_fitted(rows, static_cast<std::size_t>(n),
                                     static_cast<std::size_t>(pairs.periods));
  const std::string fits =
      model == Model::unit || model == Model::cce
          ? " cross-section's equation fits \"" + excerpt(dependent) +
                "\" exactly (is it constant within each cross-section, or a combination of "
                "the regressors?)"
          : std::string(" cross-section's residuals of the ") + model_name(model) +
                " model are zero";
  if (fitted >= n - 1)
    throw InputError(where(source) + "no pair of cross-sections can be correlated: " +
                     (fitted == n ? "every" : "all but one") + fits);
  throw InputError(where(source) + "no pair of cross-sections can be correlated: no two share " +
                   (model == Model::unit ? "a period" : "two periods") +
                   " where both have residuals");
}

std::vector<std::string> layout_warnings(const DataNames &data, const WidePanel &wide,
                                         const Options &options) {
  std::vector<std::string> warnings;
  const double cells = static_cast<double>(wide.panel.sections) * wide.panel.periods;
  if (cells >= kSparseCells &&
      sparsely_filled(data.rows, wide.section_labels.size(), wide.period_labels.size()))
    warnings.push_back(sparsity(data.source, data.rows,
                                static_cast<std::size_t>(wide.panel.sections),
                                static_cast<std::size_t>(wide.panel.periods)) +
                       ": are \"" + excerpt(data.id_name) + "\" and \"" + excerpt(data.time_name) +
                       "\" the right id and time columns?");
  const int n = wide.panel.sections;
  if (n >= 2 && options.order > n - 1 && !options.neighbours)
    warnings.push_back("order " + std::to_string(options.order) + " exceeds N - 1 = " +
                       std::to_string(n - 1) + "; CD(p) uses every pair");
  return warnings;
}

std::vector<std::string> equation_warnings(const WidePanel &wide, const Options &options) {
  std::vector<std::string> warnings;
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
  return warnings;
}

// Juodis and Reese (2022), "The incidental parameters problem in testing
// for remaining cross-section correlation", JBES 40: once period effects
// or cross-sectional averages are partialled out, the residuals' pairwise
// correlations sum to about minus their variances, and CD's centre moves
// away from zero under the null, the more so as N grows against T.
std::string period_effects_warning(Model model, Effect effect) {
  const bool period_effects =
      model == Model::cce || (model == Model::within && effect != Effect::individual);
  if (!period_effects) return "";
  return std::string("CD is no valid test after ") +
         (model == Model::cce ? "the CCE regressors' cross-sectional averages"
                              : "period effects") +
         " are taken out (Juodis and Reese 2022: its centre moves away from zero under the "
         "null); use the weighted CD, CDw+ or CD* instead";
}

}  // namespace qvd::analysis
