// Speed of the matrix kernels: the sweep in its three forms and the
// rank-one accumulation, over the orders a regression meets.
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "matrix/cross_products.h"
#include "matrix/sweep.h"
#include "platform/fp_control.h"

namespace {

using SweepFunction = void (*)(double *, int, int, char *, double *, double);

// A positive definite packed matrix of order n: X'X of random rows.
std::vector<double> spd_matrix(int n) {
  std::mt19937_64 rng(n);
  std::normal_distribution<double> normal;
  std::vector<double> s(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  std::vector<double> row(n);
  for (int r = 0; r < 2 * n; ++r) {
    for (double &v : row) v = normal(rng);
    for (int i = 0, cell = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j) s[cell++] += row[i] * row[j];
  }
  return s;
}

// One full pass: every pivot swept in, then every pivot swept out again.
template <SweepFunction sweep>
void BM_Sweep(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<double> s = spd_matrix(n), work(n);
  std::vector<char> flags(n, '0');
  qvd::write_mxcsr(qvd::kMxcsrTrapMasks);
  for (auto _ : state) {
    for (int k = 0; k < n; ++k) sweep(s.data(), k, n, flags.data(), work.data(), 1e-16);
    for (int k = 0; k < n; ++k) sweep(s.data(), k, n, flags.data(), work.data(), 1e-16);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * 2 * n);
}
BENCHMARK(BM_Sweep<qvd::sweep_reference>)->RangeMultiplier(2)->Range(4, 256);
BENCHMARK(BM_Sweep<qvd::sweep_sse2>)->RangeMultiplier(2)->Range(4, 256);
BENCHMARK(BM_Sweep<qvd::sweep_avx>)->RangeMultiplier(2)->Range(4, 256);

void BM_AccumulateCrossProducts(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  std::vector<double> row(n), s(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  for (double &v : row) v = normal(rng);
  qvd::write_mxcsr(qvd::kMxcsrTrapMasks);
  for (auto _ : state) {
    benchmark::DoNotOptimize(qvd::accumulate_cross_products(row.data(), n, 1.0, s.data()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AccumulateCrossProducts)->RangeMultiplier(2)->Range(2, 128);

}  // namespace
