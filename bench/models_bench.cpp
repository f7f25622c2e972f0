// The panel models' estimation against the module's own run, on the
// synthetic 2000/250/4 panel with a common factor (factor_panel.h),
// balanced and with 5 % of its values missing:
//
// - Unit/miss: the module's whole test on the panel (its per-cross-section
//   regressions and the pairwise statistics), the reference;
// - Fit/model/effect/miss: fit_model alone, the residuals of pooled, within
//   and random effects models;
// - Cce/miss: the CCE panel formed and the module run on it; CcePanel/miss:
//   the forming alone;
// - Analysis/model/effect/miss: the whole analysis (run_analysis on the
//   panel as a binding's array: the layout, the model's residuals, the
//   module's run where it has one, every statistic), in wall time, the
//   analysis library's threads working beside the caller's.
//
// A model's whole run is its estimation and one module run over its
// residuals, which has no regressors to fit and so costs at most the unit
// run: the printed ratio (estimation + unit) / unit bounds it, against the
// target of 2. CCE's is its own module run over unit. Times are the
// fastest repetition, in processor time of the whole process (the module's
// threads too), which other work on the machine disturbs least; the whole
// analyses' are wall times, printed as ratios to model unit's.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "analysis/driver/analysis.h"
#include "analysis/models/cce_panel.h"
#include "analysis/models/panel_model.h"
#include "factor_panel.h"
#include "fastest_repetition.h"
#include "module_runs.h"

namespace {

using qvd::analysis::Effect;
using qvd::analysis::Model;

constexpr int kN = 2000, kT = 250, kK = 4;

qvd::analysis::WidePanel panel(int missing_percent) {
  qvd::analysis::WidePanel w;
  w.panel = factor_panel(kN, kT, kK, missing_percent);
  return w;
}

void BM_Unit(benchmark::State &state) {
  ModuleInstance module;
  run_each_iteration(state, module, factor_panel(kN, kT, kK, static_cast<int>(state.range(0))));
}

void BM_Fit(benchmark::State &state) {
  const qvd::analysis::WidePanel w = panel(static_cast<int>(state.range(2)));
  const qvd::analysis::ModelChoice choice{static_cast<Model>(state.range(0)),
                                          static_cast<Effect>(state.range(1)), true};
  const std::vector<std::string> names(kK, "x");
  for (auto _ : state) benchmark::DoNotOptimize(qvd::analysis::fit_model(w, choice, names));
}

void BM_Cce(benchmark::State &state) {
  ModuleInstance module;
  const qvd::analysis::WidePanel w = panel(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const qvd::analysis::WidePanel cce = qvd::analysis::cce_panel(w);
    DependenceRequest request = qvd::host::make_request(cce.panel, {});
    if (module.host.run(module.instance, &request).status != 0) {
      state.SkipWithError("run failed");
      break;
    }
    module.host.free_block(module.instance, request.correlations);
  }
}

void BM_CcePanel(benchmark::State &state) {
  const qvd::analysis::WidePanel w = panel(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(qvd::analysis::cce_panel(w));
}

void BM_Analysis(benchmark::State &state) {
  const qvd::host::Panel p = factor_panel(kN, kT, kK, static_cast<int>(state.range(2)));
  qvd::analysis::ArrayPanel array;
  array.values = p.values.data();
  for (int i = 0; i < kN; ++i) array.section_labels.push_back(std::to_string(i));
  for (int t = 0; t < kT; ++t) array.period_labels.push_back(std::to_string(t));
  array.regressor_names.assign(kK, "x");
  for (int v = 0; v < kK; ++v) array.regressor_names[v] += std::to_string(v);
  qvd::analysis::Options options;
  options.module_path = QVDEP_MODULE_PATH;
  options.model = static_cast<Model>(state.range(0));
  if (qvd::analysis::has_effects(options.model))
    options.effect = static_cast<Effect>(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(qvd::analysis::run_analysis(array, options));
}

void fits(benchmark::internal::Benchmark *b) {
  for (int m : {0, 5}) {
    b->Args({static_cast<int>(Model::pooling), 0, m});
    for (int e = 0; e < 3; ++e) {
      b->Args({static_cast<int>(Model::within), e, m});
      b->Args({static_cast<int>(Model::random), e, m});
    }
  }
}

// Every model, each effect of those that have effects.
void analyses(benchmark::internal::Benchmark *b) {
  for (int m : {0, 5})
    for (Model model : {Model::unit, Model::pooling, Model::within, Model::random, Model::cce,
                        Model::none})
      for (int e = 0; e < (qvd::analysis::has_effects(model) ? 3 : 1); ++e)
        b->Args({static_cast<int>(model), e, m});
}

BENCHMARK(BM_Unit)->Arg(0)->Arg(5)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fit)->Apply(fits)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cce)->Arg(0)->Arg(5)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CcePanel)->Arg(0)->Arg(5)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Analysis)->Apply(analyses)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each model's whole analysis over model unit's, wall time, on the same panel.
void print_analysis_ratios(const FastestRepetition &c) {
  std::printf("\n%-28s %10s %10s %8s\n", "whole analysis, 2000/250/4", "model ms", "unit ms",
              "ratio");
  for (const char *miss : {"0", "5"}) {
    const double unit = c.get(std::string("BM_Analysis/0/0/") + miss);
    if (unit < 0) continue;
    for (const auto &[name, seconds] : c.best) {
      if (name.rfind("BM_Analysis/", 0) != 0 || name.substr(name.rfind('/') + 1) != miss) continue;
      const auto model = static_cast<Model>(name[12] - '0');
      std::string what = qvd::analysis::model_name(model);
      if (qvd::analysis::has_effects(model)) {
        what += ' ';
        what += qvd::analysis::effect_name(static_cast<Effect>(name[14] - '0'));
      }
      what += ", ";
      what += miss;
      what += "% missing";
      std::printf("%-28s %10.1f %10.1f %8.2f\n", what.c_str(), seconds * 1e3, unit * 1e3,
                  seconds / unit);
    }
  }
}

void print_ratios(const FastestRepetition &c) {
  auto get = [&](const std::string &name) { return c.get(name); };
  std::printf("\n%-28s %10s %10s %8s  (target 2)\n", "2000/250/4", "fit ms", "unit ms", "ratio");
  for (const char *miss : {"0", "5"}) {
    const double unit = get(std::string("BM_Unit/") + miss);
    if (unit < 0) continue;
    for (const auto &[name, seconds] : c.best) {
      if (name.rfind("BM_Fit/", 0) != 0 || name.substr(name.rfind('/') + 1) != miss) continue;
      const int model = name[7] - '0', effect = name[9] - '0';
      const std::string what = std::string(qvd::analysis::model_name(static_cast<Model>(model))) +
                               " " + qvd::analysis::effect_name(static_cast<Effect>(effect)) +
                               ", " + miss + "% missing";
      const double ratio = (seconds + unit) / unit;
      std::printf("%-28s %10.2f %10.2f %8.2f  %s\n", what.c_str(), seconds * 1e3, unit * 1e3, ratio,
                  ratio <= 2 ? "met" : "NOT MET");
    }
    const double cce = get(std::string("BM_Cce/") + miss);
    if (cce < 0) continue;
    std::printf("%-28s %10.2f %10.2f %8.2f  %s\n",
                (std::string("cce, ") + miss + "% missing").c_str(), cce * 1e3, unit * 1e3,
                cce / unit, cce / unit <= 2 ? "met" : "NOT MET");
  }
  print_analysis_ratios(c);
}

}  // namespace

int main(int argc, char **argv) {
  FastestRepetition fastest;
  return run_benchmarks(argc, argv, fastest, print_ratios);
}
