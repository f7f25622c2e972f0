#include "analysis/models/cce_panel.h"

#include <cstddef>

#include "qvdep.h"

namespace qvd::analysis {

namespace {

bool complete(const double *cell, std::size_t width) {
  for (std::size_t v = 0; v < width; ++v)
    if (qvdep_is_missing(cell[v])) return false;
  return true;
}

}  // namespace

WidePanel cce_panel(const WidePanel &wide) {
  const host::Panel &in = wide.panel;
  const std::size_t n = static_cast<std::size_t>(in.sections),
                    t = static_cast<std::size_t>(in.periods),
                    k = static_cast<std::size_t>(in.regressors), width = k + 1;
  // The means at each period over its complete cells, cross-section by
  // cross-section: the dependent variable's, then the regressors'.
  std::vector<double> means(t * width, 0.0);
  std::vector<long> count(t, 0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t s = 0; s < t; ++s) {
      const double *cell = in.values.data() + (i * t + s) * width;
      if (!complete(cell, width)) continue;
      ++count[s];
      means[s * width] += cell[k];
      for (std::size_t v = 0; v < k; ++v) means[s * width + 1 + v] += cell[v];
    }
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t v = 0; v < width; ++v)
      means[s * width + v] =
          count[s] > 0 ? means[s * width + v] / static_cast<double>(count[s]) : missing_value();
  WidePanel out;
  out.panel.sections = in.sections;
  out.panel.periods = in.periods;
  out.panel.regressors = static_cast<int>(2 * k + 1);
  out.panel.values.resize(n * t * (2 * k + 2));
  for (std::size_t c = 0; c < n * t; ++c) {
    const double *cell = in.values.data() + c * width;
    double *to = out.panel.values.data() + c * (2 * k + 2);
    const double *mean = means.data() + (c % t) * width;
    for (std::size_t v = 0; v < k; ++v) to[v] = cell[v];
    for (std::size_t v = 0; v < width; ++v) to[k + v] = mean[v];
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
