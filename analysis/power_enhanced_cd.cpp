#include "analysis/power_enhanced_cd.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <limits>

namespace qvd::analysis {
namespace {

// x when `keep`, else +0, by masking x's bits rather than by a branch
// (which compilers make of a conditional expression).
double kept_if(bool keep, double x) {
  const std::uint64_t mask = -static_cast<std::uint64_t>(keep);
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) & mask);
}

}  // namespace

double power_enhancement(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  if (n < 2) return 0.0;
  const double log_n = std::log(static_cast<double>(n));
  // A usable pair shares at least one period. The table starts at a count
  // of 0 all the same, where the screen is infinite and nothing passes it.
  const PerCommonPeriods screen(
      [log_n](int common) {
        return common > 0 ? 2.0 * std::sqrt(log_n / common)
                          : std::numeric_limits<double>::infinity();
      },
      most_common_periods(pairs));
  // An unusable pair's NaN fails the comparison, and a pair that does not
  // pass adds +0, which leaves the sum as it was (it starts at +0 and only
  // grows, so it is never -0): the same sum as skipping both, without a
  // branch, which pairs near the screen would make unpredictable.
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double magnitude = std::fabs(pairs.correlations[i * n + j]);
      sum += kept_if(magnitude > screen(pairs.common_periods[i * n + j]), magnitude);
    }
  return sum;
}

double power_enhanced_cd(const PairTable &pairs, double weighted_cd) {
  return weighted_cd + power_enhancement(pairs);
}

}  // namespace qvd::analysis
