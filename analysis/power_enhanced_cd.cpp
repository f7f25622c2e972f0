#include "analysis/power_enhanced_cd.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <limits>
#include <vector>

namespace qvd::analysis {
namespace {

// x when `keep`, else +0, by masking x's bits rather than by a branch
// (which compilers make of a conditional expression).
double kept_if(bool keep, double x) {
  const std::uint64_t mask = -static_cast<std::uint64_t>(keep);
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) & mask);
}

// The screen 2 sqrt(ln N / T_ij) for each count of shared periods. A
// usable pair shares at least one period; the table starts at a count of 0
// all the same, where the screen is infinite and nothing passes it.
auto screens(const PairTable &pairs) {
  const double log_n = std::log(static_cast<double>(pairs.sections));
  return PerCommonPeriods(
      [log_n](int common) {
        return common > 0 ? 2.0 * std::sqrt(log_n / common)
                          : std::numeric_limits<double>::infinity();
      },
      most_common_periods(pairs));
}

// |rho| when it passes the screen, else +0. An unusable pair's NaN fails
// the comparison, and a pair that does not pass adds +0, which leaves the
// sum as it was (it starts at +0 and only grows, so it is never -0): the
// same sum as skipping both, without a branch, which pairs near the screen
// would make unpredictable.
double screened(double rho, double screen) {
  const double magnitude = std::fabs(rho);
  return kept_if(magnitude > screen, magnitude);
}

}  // namespace

double power_enhancement(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  if (n < 2) return 0.0;
  const auto screen = screens(pairs);
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      sum += screened(pairs.correlations[i * n + j], screen(common_periods_of(pairs, i, j)));
  return sum;
}

// Each sum is a chain of additions, each waiting on the one before, and a
// pass reads the two N-by-N tables from memory: in one pass the two chains
// run side by side and the tables are read once.
WeightedCdTerms weighted_cd_and_power_enhancement(const PairTable &pairs,
                                                  const std::vector<int> &signs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  if (n < 2) return {};
  const auto qr = weighted_cd_weights(pairs);
  const auto screen = screens(pairs);
  double cd = 0, sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = pairs.correlations[i * n + j];
      const int common = common_periods_of(pairs, i, j);
      sum += screened(rho, screen(common));
      if (!std::isnan(rho)) cd += weighted_cd_term(qr(common), signs[i], signs[j], rho);
    }
  return {cd, sum};
}

}  // namespace qvd::analysis
