#include "analysis/models/within.h"

#include <cmath>
#include <cstddef>

#include "analysis/models/period_dummies.h"

namespace qvd::analysis {
namespace {

// x - (cross-section mean) - (period mean) + (overall mean), in plm's order:
// (x - cross-section mean + overall mean) - period mean.
void balanced_two_way(ColumnMatrix &m, const Observations &obs) {
  const ColumnMatrix by_section = group_means(m, obs, Grouping::section);
  const ColumnMatrix by_period = group_means(m, obs, Grouping::period);
  for (std::size_t j = 0; j < m.columns; ++j) {
    double *x = m.column(j);
    double sum = 0;
    for (std::size_t o = 0; o < m.rows; ++o) sum += x[o];
    const double overall = sum / static_cast<double>(m.rows);
    for (std::size_t o = 0; o < m.rows; ++o)
      x[o] = (x[o] - by_section.column(j)[obs.section[o]] + overall) -
             by_period.column(j)[obs.period[o]];
  }
}

}  // namespace

void within_transform(ColumnMatrix &m, const Observations &obs, Effect effect) {
  if (m.rows == 0) return;
  switch (effect) {
    case Effect::individual: subtract_group_means(m, obs, Grouping::section); return;
    case Effect::time: subtract_group_means(m, obs, Grouping::period); return;
    case Effect::twoways:
      if (obs.balanced()) {
        balanced_two_way(m, obs);
        return;
      }
      subtract_group_means(m, obs, Grouping::section);
      remove_period_part(m, obs, std::vector<double>(obs.sections, 1.0),
                         [](double lambda) { return 1 / lambda; });
      return;
  }
}

WithinFit within_fit(ColumnMatrix data, const Observations &obs, Effect effect) {
  const std::size_t k = data.columns - 1;
  std::vector<double> lengths(k);
  for (std::size_t v = 0; v < k; ++v) lengths[v] = euclidean_length(data.column(v + 1), data.rows);
  within_transform(data, obs, effect);
  WithinFit within;
  within.absorbed.resize(k);
  std::vector<bool> candidates(k);
  for (std::size_t v = 0; v < k; ++v) {
    within.absorbed[v] =
        !(euclidean_length(data.column(v + 1), data.rows) >= kAliasTolerance * lengths[v]);
    candidates[v] = !within.absorbed[v];
  }
  within.fit = least_squares(data, candidates);
  return within;
}

}  // namespace qvd::analysis
