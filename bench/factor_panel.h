// The benchmarks' panels: N cross-sections of T periods with K regressors
// and a common factor,
//
//   y_it = 1 + sum_v x_itv + lambda_i f_t + u_it,   x, f, u, lambda ~ N(0, 1),
//
// with each value missing with the given chance in percent. Seeded from the
// shape, so every benchmark of a shape times the same panel.
#ifndef QVDEP_BENCH_FACTOR_PANEL_H
#define QVDEP_BENCH_FACTOR_PANEL_H

#include <cstddef>
#include <random>
#include <vector>

#include "host/dependence_run.h"
#include "numeric/missing_value.h"

inline qvd::host::Panel factor_panel(int n, int t, int k, int missing_percent) {
  std::mt19937_64 rng(n * 1000003ull + t * 101 + k * 7 + missing_percent);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> percent(0, 99);
  qvd::host::Panel p{n, t, k, std::vector<double>(std::size_t(n) * t * (k + 1))};
  std::vector<double> factor(t);
  for (double &f : factor) f = normal(rng);
  double *v = p.values.data();
  for (int i = 0; i < n; ++i) {
    const double loading = normal(rng);
    for (int s = 0; s < t; ++s, v += k + 1) {
      double y = 1.0 + loading * factor[s] + normal(rng);
      for (int r = 0; r < k; ++r) y += (v[r] = normal(rng));
      v[k] = y;
      for (int r = 0; r <= k; ++r)
        if (percent(rng) < missing_percent) v[r] = qvd::kMissingResult;
    }
  }
  return p;
}

#endif
