#include "report/block_means.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qvd::report {

std::vector<double> block_row_means(const analysis::Result &result, std::size_t block,
                                    std::size_t row) {
  const std::size_t n = result.section_labels.size(), m = blocks_along(n, block);
  std::vector<double> sum(m, 0.0), count(m, 0.0);
  for (std::size_t i = row * block; i < std::min(n, (row + 1) * block); ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double r = analysis::correlation_of(result, i, j);
      if (std::isnan(r)) continue;
      sum[j / block] += r;
      count[j / block] += 1;
    }
  for (std::size_t k = 0; k < m; ++k)
    sum[k] = count[k] > 0 ? sum[k] / count[k] : std::numeric_limits<double>::quiet_NaN();
  return sum;
}

}  // namespace qvd::report
