#include "analysis/models/cce_panel.h"

#include <cstddef>

#include "analysis/models/observations.h"

namespace qvd::analysis {

WidePanel cce_panel(const WidePanel &wide) {
  const host::Panel &in = wide.panel;
  const std::size_t n = static_cast<std::size_t>(in.sections), t = static_cast<std::size_t>(in.periods),
                    k = static_cast<std::size_t>(in.regressors);
  const Observations obs = complete_cells(in);
  const ColumnMatrix means = group_means(variables(in, obs, false), obs, Grouping::period);
  WidePanel out;
  out.panel.sections = in.sections;
  out.panel.periods = in.periods;
  out.panel.regressors = static_cast<int>(2 * k + 1);
  out.panel.values.resize(n * t * (2 * k + 2));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t s = 0; s < t; ++s) {
      const double *cell = in.values.data() + (i * t + s) * (k + 1);
      double *to = out.panel.values.data() + (i * t + s) * (2 * k + 2);
      const bool averaged = obs.per_period[s] > 0;
      for (std::size_t v = 0; v < k; ++v) to[v] = cell[v];
      // means: column 0 the dependent variable, then the regressors
      for (std::size_t v = 0; v <= k; ++v)
        to[k + v] = averaged ? means.column(v)[s] : missing_value();
      to[2 * k + 1] = cell[k];
    }
  out.section_labels = wide.section_labels;
  out.period_labels = wide.period_labels;
  out.complete_observations = wide.complete_observations;
  out.complete_per_section = wide.complete_per_section;
  return out;
}

std::vector<std::string> cce_regressor_names(const std::string &dependent,
                                             const std::vector<std::string> &regressors) {
  std::vector<std::string> names = regressors;
  names.push_back("mean(" + dependent + ")");
  for (const std::string &x : regressors) names.push_back("mean(" + x + ")");
  return names;
}

}  // namespace qvd::analysis
