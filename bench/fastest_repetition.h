// A console reporter that also keeps the fastest repetition of every
// benchmark (in seconds of the processor time it measured, or of wall time
// for a benchmark that asked for it with UseRealTime), for the ratios a
// benchmark program prints after its runs; and the main of such a program.
// A name's "/process_time" and "/real_time" suffixes are left off.
#ifndef QVDEP_BENCH_FASTEST_REPETITION_H
#define QVDEP_BENCH_FASTEST_REPETITION_H

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

class FastestRepetition : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> best;

  // The fastest repetition's seconds, -1 when the benchmark did not run.
  double get(const std::string &name) const {
    auto it = best.find(name);
    return it == best.end() ? -1.0 : it->second;
  }

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      std::string name = r.run_name.str();
      const bool wall = name.find("/real_time") != std::string::npos;
      name = name.substr(0, std::min(name.find("/process_time"), name.find("/real_time")));
      const double s = (wall ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime()) /
                       benchmark::GetTimeUnitMultiplier(r.time_unit);
      auto it = best.find(name);
      if (it == best.end() || s < it->second) best[name] = s;
      keep(name, r);
    }
  }

 protected:
  // What else a program keeps of an iteration's run (its counters).
  virtual void keep(const std::string &, const Run &) {}
};

// Runs the benchmarks the arguments select, then print(reporter).
template <typename Reporter, typename Print>
int run_benchmarks(int argc, char **argv, Reporter &reporter, Print print) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print(reporter);
  benchmark::Shutdown();
  return 0;
}

#endif
