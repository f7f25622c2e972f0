// The cost of the test against the physical limits of its two stages, on
// synthetic panels with a common factor (factor_panel.h) with 0 % or 5 % of
// the panel's values missing. Measured in one run:
//
// - Run/N/T/K/miss: the whole test through the loaded module and the
//   reference host;
// - Regression/...: the per-cross-section regressions alone;
// - Pairwise/...: the pairwise statistics alone (and, for comparison, the
//   straightforward loop over pairs and periods);
// - Dsyrk/N/T: one-thread OpenBLAS dsyrk forming E E' for an N-by-T matrix,
//   the same products fused and halved by symmetry: the physical limit of
//   the pairwise stage;
// - MaskedCall/K: one masked BLAS update of the lengths a regression row of
//   K regressors and intercept makes; times the number of such updates a
//   panel needs, the floor of the regression stage.
//
// Every stage is reported as a ratio to its reference from the same run,
// so the figures hold on a loaded machine. The reference OpenBLAS is opened
// privately (RTLD_LOCAL) and called through dlsym: neither the module nor
// the stages linked into this program can bind to it, nor it to them.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/pairwise.h"
#include "engine/regression.h"
#include "host/dependence_run.h"
#include "host/service_hooks.h"
#include "matrix/cross_products.h"
#include "matrix/packed_storage.h"

#include "factor_panel.h"
#include "fastest_repetition.h"
#include "module_runs.h"

namespace {

constexpr const char *kSerialOpenBlas =
    "/usr/lib/x86_64-linux-gnu/openblas-serial/libopenblas.so.0";

using Dsyrk = void (*)(const char *uplo, const char *trans, const int *n,
                       const int *k, const double *alpha, const double *a,
                       const int *lda, const double *beta, double *c,
                       const int *ldc, std::size_t, std::size_t);

Dsyrk serial_dsyrk() {
  static Dsyrk f = [] {
    void *h = dlopen(kSerialOpenBlas, RTLD_NOW | RTLD_LOCAL);
    return h ? reinterpret_cast<Dsyrk>(dlsym(h, "dsyrk_")) : nullptr;
  }();
  return f;
}

// The request with local work buffers, as the run frame lays them out.
struct Stage {
  qvd::host::Panel panel;
  DependenceRequest request{};
  std::vector<double> row, work, sscp, saved, coefficients, residuals, corr;
  std::vector<char> flags;

  Stage(int n, int t, int k, int missing)
      : panel(factor_panel(n, t, k, missing)),
        request(qvd::host::make_request(panel, {})) {
    const int m = k + 2;
    row.resize(k + 2);
    work.resize(m);
    flags.resize(m);
    sscp.resize(std::size_t(m) * (m + 1) / 2);
    saved.resize(sscp.size());
    coefficients.resize(k + 1);
    residuals.resize(std::size_t(n) * t);
    corr.resize(std::size_t(n) * (n + 1) / 2);
    request.row = row.data();
    request.sweep_work = work.data();
    request.pivot_flags = flags.data();
    request.sscp = sscp.data();
    request.sscp_saved = saved.data();
    request.correlations = corr.data();
  }
  void regressions() {
    const int n = request.n_sections;
    for (int i = 1; i <= n; ++i)
      qvd::regress_cross_section(request, i, coefficients.data(),
                                         residuals.data() + (i - 1), n);
  }
  // Masked BLAS updates the accumulation makes: rows of length 3 or more
  // whose owning value is not zero, in every complete period.
  long masked_updates() const {
    const int k = request.n_regressors;
    long calls = 0;
    for (std::size_t o = 0; o + k < panel.values.size(); o += k + 1) {
      const double *v = panel.values.data() + o;
      if (qvd::any_missing(v, k + 1)) continue;
      for (int i = 2; i <= k + 1; ++i) calls += v[i - 1] != 0.0;
    }
    return calls;
  }
};

// Blocks the host grants while it is set as the host's hooks.
struct BlockTally : qvd::host::ServiceHooks {
  std::size_t blocks = 0;
  double bytes = 0;
  void block_granted(const HostPool *, void *, std::uint64_t size, std::uint32_t) override {
    ++blocks;
    bytes += static_cast<double>(size);
  }
};

void BM_Run(benchmark::State &state) {
  const auto panel = factor_panel(state.range(0), state.range(1), state.range(2),
                                  state.range(3));
  ModuleInstance module;
  run_each_iteration(state, module, panel);
  qvd::host::ReferenceHost &host = module.host;
  TestInstance *instance = module.instance;
  // Memory of one more run: every block the module took from the pool,
  // against the eight buffers of the run frame, counted by the host's hooks.
  BlockTally tally;
  host.set_hooks(&tally);
  DependenceRequest request = qvd::host::make_request(panel, {});
  host.run(instance, &request);
  host.set_hooks(nullptr);
  state.counters["pool_blocks"] = static_cast<double>(tally.blocks);
  state.counters["pool_bytes"] = tally.bytes;
  const double n = panel.sections, t = panel.periods, kc = panel.regressors + 1,
               m = kc + 1;
  state.counters["eight_buffers_bytes"] = (8 * kc + 8) + (8 * kc + 8) + (kc + 1) +
                                         2 * 8 * (m * (m + 1) / 2) + 8 * n * t +
                                         8 * kc + 8 * (n * (n + 1) / 2);
  host.free_block(instance, request.correlations);
}

void BM_Regression(benchmark::State &state) {
  Stage s(state.range(0), state.range(1), state.range(2), state.range(3));
  for (auto _ : state) s.regressions();
  state.counters["masked_calls"] = static_cast<double>(s.masked_updates());
}

void BM_Pairwise(benchmark::State &state) {
  Stage s(state.range(0), state.range(1), state.range(2), state.range(3));
  s.regressions();
  for (auto _ : state) qvd::pairwise_statistics(s.request, s.residuals.data());
}

void BM_PairwiseStraightforward(benchmark::State &state) {
  Stage s(state.range(0), state.range(1), state.range(2), state.range(3));
  s.regressions();
  for (auto _ : state)
    qvd::pairwise_statistics_straightforward(s.request, s.residuals.data());
}

void BM_Dsyrk(benchmark::State &state) {
  const int n = state.range(0), t = state.range(1);
  const Dsyrk dsyrk = serial_dsyrk();
  if (dsyrk == nullptr) {
    state.SkipWithError("serial OpenBLAS not found (libopenblas0-serial)");
    return;
  }
  std::mt19937_64 rng(n + t);
  std::normal_distribution<double> normal;
  std::vector<double> e(std::size_t(n) * t), c(std::size_t(n) * n);
  for (double &v : e) v = normal(rng);
  const double one = 1.0, zero = 0.0;
  for (auto _ : state) {
    dsyrk("L", "N", &n, &t, &one, e.data(), &n, &zero, c.data(), &n, 1, 1);
    benchmark::DoNotOptimize(c.data());
  }
}

// One masked update of each length 3 .. K + 2 in turn: K updates an
// iteration.
void BM_MaskedCall(benchmark::State &state) {
  const int longest = state.range(0) + 2;
  std::vector<double> x(longest, 1.25), y(longest * (longest + 1) / 2, 0.0);
  double a = 1e-3;
  long updates = 0;
  for (auto _ : state) {
    for (int n = 3; n <= longest; ++n)
      qvd::scaled_add(y.data() + n * (n - 1) / 2, x.data(), n, a);
    updates += longest - 2;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(updates);
}

constexpr int kSections[] = {50, 500, 2000};
constexpr int kPeriods[] = {50, 250};
constexpr int kRegressors[] = {1, 4, 10};
constexpr int kMissing[] = {0, 5};

void grid(benchmark::internal::Benchmark *b) {
  for (int n : kSections)
    for (int t : kPeriods)
      for (int k : kRegressors)
        for (int m : kMissing) b->Args({n, t, k, m});
}

void sizes(benchmark::internal::Benchmark *b) {
  for (int n : kSections)
    for (int t : kPeriods) b->Args({n, t});
}

BENCHMARK(BM_Dsyrk)->Apply(sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskedCall)->DenseRange(1, 10)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Run)->Apply(grid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regression)->Apply(grid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pairwise)->Apply(grid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PairwiseStraightforward)
    ->Args({2000, 250, 4, 0})
    ->Args({2000, 250, 4, 5})
    ->Unit(benchmark::kMillisecond);

// The fastest repetitions, and the counters of the runs.
class Collector : public FastestRepetition {
 public:
  std::map<std::string, double> masked_calls;
  std::map<std::string, std::map<std::string, double>> memory;

 protected:
  void keep(const std::string &name, const Run &r) override {
    auto c = r.counters.find("masked_calls");
    if (c != r.counters.end()) masked_calls[name] = c->second;
    for (const char *key : {"pool_blocks", "pool_bytes", "eight_buffers_bytes"})
      if (r.counters.count(key)) memory[name][key] = r.counters.at(key);
  }
};

std::string args(int n, int t, int k, int m) {
  return std::to_string(n) + "/" + std::to_string(t) + "/" + std::to_string(k) +
         "/" + std::to_string(m);
}

void print_ratios(const Collector &c) {
  auto get = [&](const std::string &name) { return c.get(name); };
  std::printf("\nRatios to the references of this run (fastest repetition)\n");
  std::printf("%-18s %8s %9s %9s %9s %10s %10s\n", "N/T/K/miss%", "run ms",
              "run/syrk", "pair/syrk", "regr/floor", "syrk ms", "floor ms");
  for (int n : kSections)
    for (int t : kPeriods)
      for (int k : kRegressors)
        for (int m : kMissing) {
          const std::string a = args(n, t, k, m);
          const double syrk = get("BM_Dsyrk/" + std::to_string(n) + "/" + std::to_string(t));
          const double call = get("BM_MaskedCall/" + std::to_string(k)) / k;
          const auto calls = c.masked_calls.find("BM_Regression/" + a);
          const double floor = calls == c.masked_calls.end() ? -1 : calls->second * call;
          const double run = get("BM_Run/" + a);
          std::printf("%-18s %8.2f %9.2f %9.2f %9.2f %10.3f %10.3f\n", a.c_str(),
                      run * 1e3, run / syrk, get("BM_Pairwise/" + a) / syrk,
                      get("BM_Regression/" + a) / floor, syrk * 1e3, floor * 1e3);
        }
  const double syrk = get("BM_Dsyrk/2000/250");
  const double floor = c.masked_calls.count("BM_Regression/2000/250/4/0")
                           ? c.masked_calls.at("BM_Regression/2000/250/4/0") *
                                 get("BM_MaskedCall/4") / 4
                           : -1;
  struct Target { const char *what; double ratio, limit; };
  const Target targets[] = {
      {"pairwise, balanced, 2000/250 / dsyrk", get("BM_Pairwise/2000/250/4/0") / syrk, 3},
      {"pairwise, 5% missing, 2000/250 / dsyrk", get("BM_Pairwise/2000/250/4/5") / syrk, 8},
      {"regression, 2000/250/4 / its floor", get("BM_Regression/2000/250/4/0") / floor, 1.3},
      {"whole run, 2000/250/4 / dsyrk", get("BM_Run/2000/250/4/0") / syrk, 6},
      {"(straightforward pairwise, balanced / dsyrk)",
       get("BM_PairwiseStraightforward/2000/250/4/0") / syrk, 0},
      {"(straightforward pairwise, 5% missing / dsyrk)",
       get("BM_PairwiseStraightforward/2000/250/4/5") / syrk, 0}};
  auto mem = c.memory.find("BM_Run/2000/250/4/0");
  if (mem != c.memory.end()) {
    std::map<std::string, double> m = mem->second;
    std::printf("\nmemory of a run 2000/250/4/0: %.0f pool blocks, %.0f bytes; "
                "the eight buffers: %.0f bytes  %s\n",
                m["pool_blocks"], m["pool_bytes"], m["eight_buffers_bytes"],
                m["pool_blocks"] == 8 && m["pool_bytes"] == m["eight_buffers_bytes"]
                    ? "met" : "NOT MET");
  }
  std::printf("\n%-48s %8s %8s\n", "target", "ratio", "limit");
  for (const Target &t : targets) {
    if (t.limit > 0)
      std::printf("%-48s %8.2f %8.2f  %s\n", t.what, t.ratio, t.limit,
                  t.ratio <= t.limit ? "met" : "NOT MET");
    else
      std::printf("%-48s %8.2f\n", t.what, t.ratio);
  }
}

}  // namespace

int main(int argc, char **argv) {
  Collector collector;
  return run_benchmarks(argc, argv, collector, print_ratios);
}
