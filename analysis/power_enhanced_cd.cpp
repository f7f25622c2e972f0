#include "analysis/power_enhanced_cd.h"

#include <cstddef>

namespace qvd::analysis {

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

}  // namespace qvd::analysis
