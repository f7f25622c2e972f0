// Monte Carlo of the rank tests and the exponents of cross-sectional
// dependence (analysis/stats/rank_tests.h, residual_exponent.h,
// variable_exponent.h); not a test, minutes at most:
//
//  (a) size: N = 30, T = 10, e_it independent N(0, 1): how often Friedman's
//      and Frees' tests reject at the 5 % level (their null holds);
//  (b) the exponents: N = T = 200, x_it = v_i f_t + u_it with f_t, u_it
//      ~ N(0, 1) and v_i ~ U(0.5, 1.5) for the first round(N^alpha)
//      cross-sections, 0 for the others, alpha in {0.5, 0.75, 1}: the mean
//      and root mean square error of the variable's bias-adjusted alpha (BKP
//      2016) and of the residuals' alpha~ (BKP 2019) taking x as residuals,
//      and how often the intervals alpha +- 1.96 se and the bootstrap's
//      [2.5 %, 97.5 %] cover alpha.
//
// Replication r of a design draws from the seed kSeed + r; runs on one
// thread (the pair tables on the shared pool).
//
//   qvdep_strength_monte_carlo [--size-replications R] [--exponent-replications R]
//                              [--draws R]
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "analysis/stats/rank_tests.h"
#include "analysis/stats/residual_exponent.h"
#include "analysis/stats/variable_exponent.h"

namespace {

using namespace qvd::analysis;

constexpr std::uint64_t kSeed = 20190417;

// N rows of T: v_i f_t + u_it, v_i non-zero for the first round(N^alpha).
std::vector<double> panel(std::mt19937_64 &rng, int n, int t, double alpha) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> loading(0.5, 1.5);
  std::vector<double> f(static_cast<std::size_t>(t)), x;
  for (double &v : f) v = normal(rng);
  const long strong = alpha > 0 ? std::lround(std::pow(n, alpha)) : 0;
  for (int i = 0; i < n; ++i) {
    const double v = i < strong ? loading(rng) : 0.0;
    for (int s = 0; s < t; ++s) x.push_back(v * f[static_cast<std::size_t>(s)] + normal(rng));
  }
  return x;
}

struct Moments {
  double sum = 0, square = 0, covered = 0;
  long count = 0, missing = 0;
  void add(double estimate, double truth, bool covers) {
    if (std::isnan(estimate)) {
      ++missing;
      return;
    }
    ++count;
    sum += estimate;
    square += (estimate - truth) * (estimate - truth);
    covered += covers ? 1 : 0;
  }
  double mean() const { return sum / static_cast<double>(count); }
  double rmse() const { return std::sqrt(square / static_cast<double>(count)); }
  double coverage() const { return 100 * covered / static_cast<double>(count); }
};

int value_of(int argc, char **argv, const std::string &flag, int fallback) {
  for (int a = 1; a + 1 < argc; ++a)
    if (argv[a] == flag) return std::atoi(argv[a + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char **argv) {
  const int size_replications = value_of(argc, argv, "--size-replications", 2000);
  const int exponent_replications = value_of(argc, argv, "--exponent-replications", 200);
  const int draws = value_of(argc, argv, "--draws", 100);
  const auto start = std::chrono::steady_clock::now();

  long friedman = 0, frees = 0, frees_by_critical = 0;
  for (int r = 0; r < size_replications; ++r) {
    std::mt19937_64 rng(kSeed + static_cast<std::uint64_t>(r));
    const std::vector<double> e = panel(rng, 30, 10, 0);
    const RankTests t = rank_tests(e.data(), 30, 10);
    friedman += t.friedman.pvalue < 0.05 ? 1 : 0;
    frees += t.frees.pvalue < 0.05 ? 1 : 0;
    frees_by_critical += t.frees.statistic > t.frees.critical_5 ? 1 : 0;
  }
  const double reps = size_replications;
  std::printf("(a) rejection at 5 %% under the null, N = 30, T = 10, %d replications\n",
              size_replications);
  std::printf("    Friedman FR (chi2(T-1))         %5.1f %%\n", 100 * friedman / reps);
  std::printf("    Frees FRE (Q p-value)           %5.1f %%\n", 100 * frees / reps);
  std::printf("    Frees FRE (> Q's 5 %% critical)  %5.1f %%\n", 100 * frees_by_critical / reps);

  std::printf("\n(b) exponents, N = T = 200, %d replications, bootstrap %d draws\n",
              exponent_replications, draws);
  std::printf(
      "    alpha | variable: mean   RMSE   cover(+-1.96se) | residual: mean   RMSE   "
      "cover(bootstrap)\n");
  for (const double alpha : {0.5, 0.75, 1.0}) {
    Moments variable, residual;
    for (int r = 0; r < exponent_replications; ++r) {
      std::mt19937_64 rng(kSeed + 1000003 * static_cast<std::uint64_t>(alpha * 100) +
                          static_cast<std::uint64_t>(r));
      const std::vector<double> x = panel(rng, 200, 200, alpha);
      const VariableExponent v = variable_exponent(x.data(), 200, 200);
      variable.add(v.available ? v.alpha : NAN, alpha,
                   std::fabs(v.alpha - alpha) <= 1.96 * v.standard_error);
      const ResidualExponent e = residual_exponent(
          x.data(), 200, 200, {0.10, 0.5, draws, kSeed + static_cast<std::uint64_t>(r)});
      residual.add(e.available ? e.alpha : NAN, alpha,
                   e.quantile_2_5 <= alpha && alpha <= e.quantile_97_5);
    }
    std::printf(
        "    %4.2f  |          %6.3f %6.3f %6.1f %%          |           %6.3f %6.3f "
        "%6.1f %%\n",
        alpha, variable.mean(), variable.rmse(), variable.coverage(), residual.mean(),
        residual.rmse(), residual.coverage());
    if (variable.missing + residual.missing > 0)
      std::printf("           not available: variable %ld, residual %ld\n", variable.missing,
                  residual.missing);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\n%.1f s\n", seconds);
  return 0;
}
