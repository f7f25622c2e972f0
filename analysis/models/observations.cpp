#include "analysis/models/observations.h"

#include "analysis/layout/wide_panel.h"
#include "qvdep.h"

namespace qvd::analysis {

Observations complete_cells(const host::Panel &panel) {
  Observations obs;
  obs.sections = static_cast<std::size_t>(panel.sections);
  obs.periods = static_cast<std::size_t>(panel.periods);
  obs.per_section.assign(obs.sections, 0);
  obs.per_period.assign(obs.periods, 0);
  const std::size_t width = static_cast<std::size_t>(panel.regressors) + 1;
  for (std::size_t i = 0; i < obs.sections; ++i)
    for (std::size_t t = 0; t < obs.periods; ++t) {
      const double *cell = panel.values.data() + (i * obs.periods + t) * width;
      bool complete = true;
      for (std::size_t v = 0; v < width; ++v) complete &= !qvdep_is_missing(cell[v]);
      if (!complete) continue;
      obs.section.push_back(static_cast<std::uint32_t>(i));
      obs.period.push_back(static_cast<std::uint32_t>(t));
      ++obs.per_section[i];
      ++obs.per_period[t];
    }
  for (long n : obs.per_section) obs.present_sections += n > 0;
  for (long n : obs.per_period) obs.present_periods += n > 0;
  return obs;
}

ColumnMatrix variables(const host::Panel &panel, const Observations &obs, bool intercept) {
  const std::size_t k = static_cast<std::size_t>(panel.regressors), c = intercept ? 1 : 0;
  ColumnMatrix m(obs.size(), 1 + c + k);
  for (std::size_t o = 0; o < obs.size(); ++o) {
    const double *cell =
        panel.values.data() + (obs.section[o] * obs.periods + obs.period[o]) * (k + 1);
    m.column(0)[o] = cell[k];
    if (intercept) m.column(1)[o] = 1.0;
    for (std::size_t v = 0; v < k; ++v) m.column(1 + c + v)[o] = cell[v];
  }
  return m;
}

WorkVector<double> spread(const double *values, const Observations &obs) {
  WorkVector<double> rows(obs.sections * obs.periods, missing_value());
  for (std::size_t o = 0; o < obs.size(); ++o)
    rows[obs.section[o] * obs.periods + obs.period[o]] = values[o];
  return rows;
}

ColumnMatrix group_means(const ColumnMatrix &m, const Observations &obs, Grouping g) {
  const std::vector<std::uint32_t> &group = obs.group_of(g);
  const std::vector<long> &sizes = obs.group_sizes(g);
  ColumnMatrix means(sizes.size(), m.columns);
  for (std::size_t j = 0; j < m.columns; ++j) {
    const double *x = m.column(j);
    double *mean = means.column(j);
    for (std::size_t o = 0; o < m.rows; ++o) mean[group[o]] += x[o];
    for (std::size_t r = 0; r < sizes.size(); ++r)
      if (sizes[r] > 0) mean[r] /= static_cast<double>(sizes[r]);
  }
  return means;
}

void subtract_group_means(ColumnMatrix &m, const Observations &obs, Grouping g) {
  const ColumnMatrix means = group_means(m, obs, g);
  const std::vector<std::uint32_t> &group = obs.group_of(g);
  for (std::size_t j = 0; j < m.columns; ++j) {
    double *x = m.column(j);
    const double *mean = means.column(j);
    for (std::size_t o = 0; o < m.rows; ++o) x[o] -= mean[group[o]];
  }
}

}  // namespace qvd::analysis
