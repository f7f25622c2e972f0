#include "analysis/power_enhanced_cd.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace qvd::analysis {

double power_enhancement(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  if (n < 2) return 0.0;
  const double log_n = std::log(static_cast<double>(n));
  // A usable pair shares at least one period. The table starts at a count
  // of 0 all the same, where the screen is infinite and nothing passes it.
  PerCommonPeriods screen([log_n](int common) {
    return common > 0 ? 2.0 * std::sqrt(log_n / common) : std::numeric_limits<double>::infinity();
  });
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = pairs.correlations[i * n + j];
      if (std::isnan(rho)) continue;
      if (std::fabs(rho) > screen(pairs.common_periods[i * n + j])) sum += std::fabs(rho);
    }
  return sum;
}

double power_enhanced_cd(const PairTable &pairs, double weighted_cd) {
  return weighted_cd + power_enhancement(pairs);
}

}  // namespace qvd::analysis
