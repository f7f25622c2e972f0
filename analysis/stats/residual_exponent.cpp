#include "analysis/stats/residual_exponent.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"
#include "analysis/stats/tail_probability.h"
#include "analysis/stats/unbalanced_cd.h"

namespace qvd::analysis {
namespace {

// A figure as a message shows it: 0.1, 1.5, nan.
std::string shown(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

ResidualExponent refused(std::string reason) {
  ResidualExponent r;
  r.reason = std::move(reason);
  r.alpha = r.threshold = r.bootstrap_standard_error = r.quantile_2_5 = r.quantile_97_5 = kNaN;
  return r;
}

// An index in [0, n) from the engine's 64-bit outputs: those below 2^64 mod n
// are drawn again, so that every index has the same chance.
std::size_t uniform_index(std::mt19937_64 &engine, std::uint64_t n) {
  const std::uint64_t redraw_below = (0 - n) % n;
  for (;;) {
    const std::uint64_t x = engine();
    if (x >= redraw_below) return static_cast<std::size_t>(x % n);
  }
}

// The q quantile of sorted values, interpolating between order statistics
// (Hyndman and Fan's definition 7).
double quantile(const std::vector<double> &sorted, double q) {
  const double h = static_cast<double>(sorted.size() - 1) * q;
  const std::size_t below = static_cast<std::size_t>(std::floor(h));
  if (below + 1 >= sorted.size()) return sorted.back();
  return sorted[below] + (h - static_cast<double>(below)) * (sorted[below + 1] - sorted[below]);
}

double exponent(double n, double nonzero_pairs) {
  return std::log(n + 2 * nonzero_pairs) / (2 * std::log(n));
}

}  // namespace

void check_residual_exponent_options(const ResidualExponentOptions &o) {
  if (!(o.size > 0 && o.size < 1))
    throw InputError("the exponent's size p must be in (0, 1), not " + shown(o.size));
  if (!(o.tuning > 0 && o.tuning <= 1))
    throw InputError("the exponent's tuning delta must be in (0, 1], not " + shown(o.tuning));
  if (o.draws < 0)
    throw InputError("the exponent's bootstrap takes 0 (none) or more draws, not " +
                     std::to_string(o.draws));
}

ResidualExponent residual_exponent(const PairTable &correlations,
                                   const ResidualExponentOptions &options) {
  check_residual_exponent_options(options);
  const std::size_t n =
      static_cast<std::size_t>(correlations.sections > 0 ? correlations.sections : 0);
  if (n < 2) return refused("the exponent needs 2 or more cross-sections");
  const double dn = static_cast<double>(n);
  // Phi^-1(1 - (p/2)/n^delta).
  const double tail = options.size / 2 / std::pow(dn * (dn - 1) / 2, options.tuning);
  const double quantile_of_tail = normal_upper_quantile(tail);
  const PerCommonPeriods threshold_at(
      [&](int common) { return quantile_of_tail / std::sqrt(static_cast<double>(common)); },
      most_common_periods(correlations));

  // The pairs declared non-zero are kept for the bootstrap only.
  std::vector<std::pair<std::size_t, std::size_t>> nonzero;
  long pairs = 0, count = 0;
  PairRows rows(correlations);
  for (std::size_t i = 0; i < n; ++i) {
    const PairRow row = rows.row(i);
    for (std::size_t j = i + 1; j < n; ++j) {
      const int common = row.common(j);
      if (std::isnan(row.rho[j]) || common < 1) continue;
      ++pairs;
      if (!(std::fabs(row.rho[j]) > threshold_at(common))) continue;
      ++count;
      if (options.draws > 0) nonzero.emplace_back(i, j);
    }
  }
  if (pairs == 0) return refused("no pair of cross-sections has a correlation");

  ResidualExponent r;
  r.available = true;
  r.pairs = pairs;
  r.nonzero_pairs = count;
  r.alpha = exponent(dn, static_cast<double>(count));
  r.threshold = threshold_at(most_common_periods(correlations));
  r.draws = options.draws;
  if (options.draws == 0) {
    r.bootstrap_standard_error = r.quantile_2_5 = r.quantile_97_5 = kNaN;
    return r;
  }

  std::mt19937_64 engine(options.seed);
  std::vector<double> alphas(static_cast<std::size_t>(options.draws));
  std::vector<double> times(n);
  for (double &alpha : alphas) {
    std::fill(times.begin(), times.end(), 0.0);
    for (std::size_t k = 0; k < n; ++k) times[uniform_index(engine, n)] += 1;
    double count = 0;
    for (const auto &[i, j] : nonzero) count += times[i] * times[j];
    alpha = exponent(dn, count);
  }
  double mean = 0;
  for (const double a : alphas) mean += a;
  mean /= static_cast<double>(alphas.size());
  double square = 0;
  for (const double a : alphas) square += (a - mean) * (a - mean);
  r.bootstrap_standard_error =
      alphas.size() > 1 ? std::sqrt(square / static_cast<double>(alphas.size() - 1)) : kNaN;
  std::sort(alphas.begin(), alphas.end());
  r.quantile_2_5 = quantile(alphas, 0.025);
  r.quantile_97_5 = quantile(alphas, 0.975);
  return r;
}

ResidualExponent residual_exponent(const double *residuals, int sections, int periods,
                                   const ResidualExponentOptions &options) {
  check_residual_exponent_options(options);
  return residual_exponent(centred_pair_table(residuals, sections, periods), options);
}

}  // namespace qvd::analysis
