// Result records made by hand for the tests of the pictures: labelled
// cross-sections and their correlation matrix, nothing else.
#ifndef QVDEP_TESTS_REPORT_RANDOM_RESULT_H
#define QVDEP_TESTS_REPORT_RANDOM_RESULT_H

#include <cstddef>
#include <limits>
#include <random>
#include <string>

#include "analysis/result/result.h"

namespace qvd::testing {

// n cross-sections with symmetric correlations uniform on (-1, 1), 1 on
// the diagonal and about one pair in twenty NaN.
inline analysis::Result random_result(std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> rho(-1.0, 1.0), u(0.0, 1.0);
  analysis::Result r;
  r.dependent = "y";
  for (std::size_t i = 0; i < n; ++i) r.section_labels.push_back("s" + std::to_string(i));
  r.correlations = host::OwnedArray<double>(analysis::packed_cells(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j)
      r.correlations[analysis::packed_index(i, j)] =
          i == j ? 1.0 : u(rng) < 0.05 ? std::numeric_limits<double>::quiet_NaN() : rho(rng);
  return r;
}

}  // namespace qvd::testing

#endif
