// LM_adj's weights on one thread, their cross-products from the library's
// dot-product kernel and from the tools' OpenBLAS dgemm, on a panel of N
// cross-sections, T periods and K regressors with an intercept:
//
//   build/bench/qvdep_lm_adj_bench [--benchmark_filter=...]
#include <random>

#include <benchmark/benchmark.h>

#include "analysis/linalg/dot_products.h"
#include "analysis/stats/bias_adjusted_lm.h"

namespace {

qvd::host::Panel random_panel(int n, int t, int k) {
  qvd::host::Panel panel{n, t, k, {}};
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  panel.values.resize(std::size_t(n) * t * (k + 1));
  for (double &v : panel.values) v = normal(rng);
  return panel;
}

void BM_LmAdjWeights(benchmark::State &state, bool blas) {
  if (!blas && !qvd::analysis::dot_products_available()) {
    state.SkipWithError("no AVX-512F on this processor");
    return;
  }
  const qvd::host::Panel panel = random_panel(state.range(0), state.range(1), state.range(2));
  for (auto _ : state) {
    benchmark::DoNotOptimize(qvd::analysis::bias_adjusted_lm_weights(panel, true, 0, blas).centre);
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_LmAdjWeights, kernel, false)
    ->Args({500, 250, 4})->Args({2000, 250, 4})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LmAdjWeights, dgemm, true)
    ->Args({500, 250, 4})->Args({2000, 250, 4})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
