#include "analysis/stats/weighted_cd.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/common/errors.h"

namespace qvd::analysis {

std::vector<int> random_signs(int sections, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<int> signs(static_cast<std::size_t>(sections > 0 ? sections : 0));
  for (int &w : signs) w = (engine() >> 63) != 0 ? -1 : 1;
  return signs;
}

double weighted_cd(const PairTable &pairs, const std::vector<int> &signs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  if (n < 2) return 0.0;
  const auto qr = weighted_cd_weights(pairs);
  PairRows rows(pairs);
  double cd = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const PairRow row = rows.row(i);
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = row.rho[j];
      if (std::isnan(rho)) continue;
      cd += weighted_cd_term(qr(row.common(j)), signs[i], signs[j], rho);
    }
  }
  return cd;
}

double weighted_cd_draws(const PairTable &pairs, int draws, std::uint64_t seed,
                         const StopFlag &stop) {
  if (draws < 1)
    throw InputError("the weighted CD needs 1 or more draws of the signs, not " + std::to_string(draws));
  std::mt19937_64 engine(seed);
  std::vector<int> signs(static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0));
  double sum = 0;
  for (int r = 0; r < draws; ++r) {
    stop.check();
    for (int &w : signs) w = (engine() >> 63) != 0 ? -1 : 1;  // as random_signs draws them
    const double cd = weighted_cd(pairs, signs);
    sum = r == 0 ? cd : sum + cd;  // the first draw as it is (0 + -0 would be +0)
  }
  return sum / std::sqrt(static_cast<double>(draws));
}

}  // namespace qvd::analysis
