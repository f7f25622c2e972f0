// Speed of a whole test through the module's binary interface, as a host
// sees it: N cross-sections of T periods with K regressors and intercept.
#include <random>

#include <benchmark/benchmark.h>

#include "host/dependence_test.h"

namespace {

void BM_WholeTest(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const int t = static_cast<int>(state.range(1));
  const int k = static_cast<int>(state.range(2));
  std::mt19937_64 rng(1);
  std::normal_distribution<double> normal;
  qvd::host::Panel panel{n, t, k, std::vector<double>(static_cast<std::size_t>(n) * t * (k + 1))};
  for (double &v : panel.values) v = normal(rng);
  qvd::host::ReferenceHost host(QVDEP_MODULE_PATH);
  ExtensionDescriptor *descriptor = host.create_descriptor();
  TestInstance *instance = host.create_instance(descriptor);
  for (auto _ : state) {
    DependenceRequest request = qvd::host::make_request(panel, {});
    if (host.run(instance, &request).status != 0) {
      state.SkipWithError("run failed");
      break;
    }
    host.free_block(instance, request.correlations);
  }
  host.destroy_instance(instance);
  host.release_descriptor(descriptor);
  state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);  // pairs
}
BENCHMARK(BM_WholeTest)
    ->Args({10, 20, 2})
    ->Args({100, 50, 3})
    ->Args({500, 30, 2})
    ->Args({1000, 20, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
