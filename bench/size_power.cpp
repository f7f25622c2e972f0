// Size and power of every reported test by Monte Carlo: the share of
// replications in which each row of the result rejects at the 5 % level,
// on panels simulated in memory and run through the analysis library as a
// binding runs them. Four designs:
//
//  (a) independent errors, N = 30, T = 20, an intercept and 2 regressors:
//      every test is under its null, so a rate near 5 % is the right size;
//  (b) N = 200, T = 50, one factor whose loadings average zero: the errors
//      are dependent, but the mean correlation is about zero, the case the
//      CD cannot see and the LM-type tests and CDw+ can;
//  (c) N = 100, T = 50, two strong factors (loadings 1 + N(0, 1)) and CD*
//      taking 4 factors out: CD* should keep its size, CD reject always;
//  (d) as (c) with loadings U(0.5, 1.5), nearly alike across cross-sections:
//      the weights 1 - sigma_i gamma_i'phi of CD*'s correction are then all
//      near zero, w is about 0.01, and CD*, which divides by w, is far from
//      its limit at this N and T. The table shows the mean w of each design.
//
// In every design y_it = 1 + sum_v x_itv + e_it with x_itv ~ N(0, 1).
// Replication r of design d draws from its own seed, so the table does not
// depend on the number of threads. Not a test: scripts/size-power runs it.
//
//   qvdep_size_power [--replications N] [--threads N] [--module PATH]
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/driver/analysis.h"
#include "analysis/input/long_panel.h"

namespace {

using qvd::analysis::LongPanel;
using qvd::analysis::Options;
using qvd::analysis::Result;
using qvd::analysis::TestKind;

constexpr double kLevel = 0.05;
constexpr std::uint64_t kSeed = 20240517;

// Errors of a design: independent N(0, 1), plus common factors f_t ~ N(0, 1)
// whose loadings are N(0, 1) demeaned across the cross-sections (mean
// exactly zero), 1 + N(0, 1) (mean one: strong factors) or U(0.5, 1.5)
// (strong, and nearly alike).
enum class Loadings { none, mean_zero, strong, strong_alike };

struct Design {
  const char *label;
  const char *description;
  int sections, periods, regressors;  // regressors besides the intercept
  int factors;                        // in the errors
  Loadings loadings;
  int cd_star_factors;                // Options::factors, 0 for the default (4)
};

const Design kDesigns[] = {
    {"(a)", "independent N(0,1) errors, N = 30, T = 20, k = 3 (intercept + 2 regressors)", 30, 20, 2,
     0, Loadings::none, 0},
    {"(b)", "one factor, loadings N(0,1) demeaned (mean 0), N = 200, T = 50, k = 2", 200, 50, 1, 1,
     Loadings::mean_zero, 0},
    {"(c)", "two factors, loadings 1 + N(0,1), N = 100, T = 50, k = 2, CD* with p = 4", 100, 50, 1,
     2, Loadings::strong, 4},
    {"(d)", "as (c), loadings U(0.5,1.5)", 100, 50, 1, 2, Loadings::strong_alike, 4},
};

// A simulated panel, cross-section after cross-section: value (i, t) at
// i * periods + t.
struct Simulated {
  int sections = 0, periods = 0;
  std::vector<double> y;
  std::vector<std::vector<double>> x;  // one column per regressor
};

Simulated simulate(const Design &d, std::mt19937_64 &rng) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> alike(0.5, 1.5);
  const int n = d.sections, t = d.periods;
  const std::size_t cells = static_cast<std::size_t>(n) * t;
  std::vector<double> f(static_cast<std::size_t>(d.factors) * t);
  for (double &v : f) v = normal(rng);
  std::vector<double> gamma(static_cast<std::size_t>(d.factors) * n);
  for (double &g : gamma)
    g = d.loadings == Loadings::strong_alike ? alike(rng)
        : d.loadings == Loadings::strong     ? 1.0 + normal(rng)
                                             : normal(rng);
  if (d.loadings == Loadings::mean_zero)
    for (int l = 0; l < d.factors; ++l) {
      double mean = 0;
      for (int i = 0; i < n; ++i) mean += gamma[static_cast<std::size_t>(l) * n + i];
      mean /= n;
      for (int i = 0; i < n; ++i) gamma[static_cast<std::size_t>(l) * n + i] -= mean;
    }

  Simulated s{n, t, std::vector<double>(cells), {}};
  s.x.assign(static_cast<std::size_t>(d.regressors), std::vector<double>(cells));
  for (int i = 0; i < n; ++i)
    for (int p = 0; p < t; ++p) {
      const std::size_t c = static_cast<std::size_t>(i) * t + p;
      double y = 1.0 + normal(rng);
      for (int l = 0; l < d.factors; ++l)
        y += gamma[static_cast<std::size_t>(l) * n + i] * f[static_cast<std::size_t>(l) * t + p];
      for (auto &column : s.x) y += (column[c] = normal(rng));
      s.y[c] = y;
    }
  return s;
}

// The one place that knows how a LongPanel holds its rows: ids and periods
// interned once, each row naming them by code, one row per (i, t).
LongPanel long_panel(const Simulated &s) {
  LongPanel data;
  for (std::size_t v = 0; v < s.x.size(); ++v) {
    std::string name = "x";
    data.regressor_names.push_back(name.append(std::to_string(v + 1)));
  }
  data.regressors = s.x;
  data.dependent = s.y;
  for (int i = 0; i < s.sections; ++i) data.id_labels.push_back(std::to_string(i + 1));
  for (int t = 0; t < s.periods; ++t) data.time_labels.push_back(std::to_string(t + 1));
  for (int i = 0; i < s.sections; ++i)
    for (int t = 0; t < s.periods; ++t) {
      data.id_of_row.push_back(static_cast<std::uint32_t>(i));
      data.time_of_row.push_back(static_cast<std::uint32_t>(t));
    }
  return data;
}

// The p-value of every row of one replication (NaN: not available), and
// the rows' names; empty after a run that threw.
struct Replication {
  std::vector<std::pair<TestKind, double>> pvalues;
  std::map<TestKind, std::string> names;
  double cd_star_w = std::nan("");  // CD*'s w, NaN when not available
  std::string error;
};

Replication replicate(const Design &d, int design_index, int r, const std::string &module) {
  std::mt19937_64 rng(kSeed + 1000003ull * static_cast<std::uint64_t>(design_index) +
                      static_cast<std::uint64_t>(r));
  Options options;
  options.module_path = module;
  options.factors = d.cd_star_factors;
  options.seed = rng();  // the weighted CD's signs, new in every replication
  Replication out;
  try {
    const Result result = qvd::analysis::run_analysis(long_panel(simulate(d, rng)), options);
    for (const auto &row : result.tests) {
      out.pvalues.emplace_back(row.kind, row.pvalue);
      out.names[row.kind] = row.name;
    }
    out.cd_star_w = result.cd_star_w;
  } catch (const std::exception &e) {
    out.error = e.what();
  }
  return out;
}

// Runs the replications of a design on `threads` threads, each taking the
// next replication not yet taken.
std::vector<Replication> run_design(const Design &d, int index, int replications, int threads,
                                    const std::string &module) {
  std::vector<Replication> reps(static_cast<std::size_t>(replications));
  std::atomic<int> next{0};
  auto work = [&] {
    for (int r; (r = next.fetch_add(1)) < replications;)
      reps[static_cast<std::size_t>(r)] = replicate(d, index, r, module);
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < threads; ++k) pool.emplace_back(work);
  work();
  for (auto &th : pool) th.join();
  return reps;
}

// Rejections and available p-values of one row over a design's replications.
struct Count {
  int rejected = 0, available = 0;
};

// The rows in the library's order, as kinds.
const TestKind kRows[] = {
    TestKind::lm,          TestKind::scaled_lm,        TestKind::cd,
    TestKind::local_cd,    TestKind::weighted_cd,      TestKind::weighted_cd_plus,
    TestKind::bias_adjusted_lm, TestKind::cd_star,     TestKind::friedman,
    TestKind::frees};

std::string cell(const Count &c, int replications) {
  if (c.available == 0) return "not available";
  char text[48];
  if (c.available == replications)
    std::snprintf(text, sizeof text, "%.1f", 100.0 * c.rejected / c.available);
  else
    std::snprintf(text, sizeof text, "%.1f (of %d)", 100.0 * c.rejected / c.available, c.available);
  return text;
}

int usage() {
  std::fprintf(stderr, "usage: qvdep_size_power [--replications N] [--threads N] [--module PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  int replications = 500, threads = 2;
  std::string module = QVDEP_MODULE_PATH;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (a + 1 >= argc) return usage();
    if (arg == "--replications")
      replications = std::atoi(argv[++a]);
    else if (arg == "--threads")
      threads = std::atoi(argv[++a]);
    else if (arg == "--module")
      module = argv[++a];
    else
      return usage();
  }
  if (replications < 1 || threads < 1) return usage();

  const auto start = std::chrono::steady_clock::now();
  std::map<TestKind, std::string> names;  // a row's name, e.g. "CD*(4)"
  std::vector<std::map<TestKind, Count>> counts;
  std::vector<int> failures;
  std::vector<double> mean_w;  // CD*'s w over the replications that have it
  int index = 0;
  for (const Design &d : kDesigns) {
    std::map<TestKind, Count> design_counts;
    std::map<TestKind, std::string> design_names;
    int failed = 0, with_w = 0;
    double w_sum = 0;
    for (const Replication &rep : run_design(d, index, replications, threads, module)) {
      if (!rep.error.empty()) {
        if (failed++ == 0) std::fprintf(stderr, "%s: %s\n", d.label, rep.error.c_str());
        continue;
      }
      if (!std::isnan(rep.cd_star_w)) w_sum += rep.cd_star_w, ++with_w;
      for (const auto &[kind, p] : rep.pvalues) {
        Count &c = design_counts[kind];
        if (std::isnan(p)) continue;
        ++c.available;
        c.rejected += p < kLevel;
      }
      for (const auto &[kind, name] : rep.names) design_names[kind] = name;
    }
    for (const auto &[kind, name] : design_names) {  // "CD*(4)", or "CD*(4)/CD*(2)" if p differs
      std::string &label = names[kind];
      if (label.empty()) label = name;
      else if (!label.ends_with(name)) label += "/" + name;
    }
    counts.push_back(design_counts);
    failures.push_back(failed);
    mean_w.push_back(with_w > 0 ? w_sum / with_w : std::nan(""));
    ++index;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("Rejection rates at the 5 %% level, in %%, over %d replications (seed %llu)\n\n",
              replications, static_cast<unsigned long long>(kSeed));
  for (const Design &d : kDesigns) std::printf("%s %s\n", d.label, d.description);
  std::printf("\n| %-14s |", "test");
  for (const Design &d : kDesigns) std::printf(" %-14s |", d.label);
  std::printf("\n|%s|", std::string(16, '-').c_str());
  for (std::size_t k = 0; k < std::size(kDesigns); ++k) std::printf("%s|", std::string(16, '-').c_str());
  std::printf("\n");
  for (const TestKind kind : kRows) {
    const std::string name = names.contains(kind) ? names[kind] : "?";
    std::printf("| %-14s |", name.c_str());
    for (std::size_t k = 0; k < counts.size(); ++k)
      std::printf(" %-14s |", cell(counts[k][kind], replications - failures[k]).c_str());
    std::printf("\n");
  }
  std::printf("| %-14s |", "mean w of CD*");
  for (const double w : mean_w) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", w);
    std::printf(" %-14s |", text);
  }
  std::printf("\n");
  for (std::size_t k = 0; k < counts.size(); ++k)
    if (failures[k] > 0)
      std::printf("%s: %d of %d replications failed (first error above)\n", kDesigns[k].label,
                  failures[k], replications);
  std::printf("\nMonte Carlo standard error of a rate of 5 %%: %.1f points.\n",
              100.0 * std::sqrt(kLevel * (1 - kLevel) / replications));
  std::printf("elapsed: %.1f s on %d thread%s\n", seconds, threads, threads == 1 ? "" : "s");
  return 0;
}
