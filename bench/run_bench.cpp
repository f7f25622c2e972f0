// Speed of a whole test through the module's binary interface, as a host
// sees it: N cross-sections of T periods with K regressors and intercept,
// no value missing.
#include <benchmark/benchmark.h>

#include "factor_panel.h"
#include "module_runs.h"

namespace {

void BM_WholeTest(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const qvd::host::Panel panel = factor_panel(n, static_cast<int>(state.range(1)),
                                              static_cast<int>(state.range(2)), 0);
  ModuleInstance module;
  run_each_iteration(state, module, panel);
  state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);  // pairs
}
BENCHMARK(BM_WholeTest)
    ->Args({10, 20, 2})
    ->Args({100, 50, 3})
    ->Args({500, 30, 2})
    ->Args({1000, 20, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
