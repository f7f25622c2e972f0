#include "analysis/pair_statistics.h"

#include <cmath>
#include <limits>
#include <random>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/special_functions/erf.hpp>

#include "analysis/wide_panel.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::size_t packed_index(std::size_t i, std::size_t j) { return i + j * (j + 1) / 2; }

}  // namespace

PairTable pair_table(const std::vector<double> &residuals, int sections, int periods,
                     const std::vector<double> &packed) {
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  PairTable table;
  table.sections = sections;
  table.correlations.assign(n * n, kNaN);
  table.common_periods.assign(n * n, 0);
  double sum = 0, sum_abs = 0;
  for (std::size_t i = 0; i < n; ++i) {
    table.correlations[i * n + i] = 1.0;
    for (std::size_t s = 0; s < t; ++s)
      table.common_periods[i * n + i] += qvdep_is_missing(residuals[i * t + s]) ? 0 : 1;
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      double s_ii = 0, s_jj = 0;
      int common = 0;
      for (std::size_t s = 0; s < t; ++s) {
        const double a = residuals[i * t + s], b = residuals[j * t + s];
        if (qvdep_is_missing(a) || qvdep_is_missing(b)) continue;
        s_ii += a * a;
        s_jj += b * b;
        ++common;
      }
      table.common_periods[i * n + j] = table.common_periods[j * n + i] = common;
      if (!(s_ii > QVDEP_MIN_SUM_OF_SQUARES && s_jj > QVDEP_MIN_SUM_OF_SQUARES && common > 0)) {
        ++table.unusable;
        continue;
      }
      const double rho = packed[packed_index(i, j)];
      table.correlations[i * n + j] = table.correlations[j * n + i] = rho;
      ++table.usable;
      sum += rho;
      sum_abs += std::fabs(rho);
    }
  table.mean = table.usable > 0 ? sum / static_cast<double>(table.usable) : kNaN;
  table.mean_abs = table.usable > 0 ? sum_abs / static_cast<double>(table.usable) : kNaN;
  return table;
}

std::vector<int> random_signs(int sections, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<int> signs(static_cast<std::size_t>(sections > 0 ? sections : 0));
  for (int &w : signs) w = (engine() >> 63) != 0 ? -1 : 1;
  return signs;
}

double weighted_cd(const PairTable &pairs, const std::vector<int> &signs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  if (n < 2) return 0.0;
  const double q = 1.0 / std::sqrt(static_cast<double>(n) * static_cast<double>(n - 1));
  double cd = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = pairs.correlations[i * n + j];
      if (std::isnan(rho)) continue;
      const double r = std::sqrt(2.0 * pairs.common_periods[i * n + j]);
      cd += (q * r) * (static_cast<double>(signs[i] * signs[j]) * rho);
    }
  return cd;
}

double chi2_upper_tail(double x, double df) {
  if (!(df >= 1) || std::isnan(x)) return kNaN;
  if (x <= 0) return 1.0;
  const boost::math::chi_squared_distribution<double> chi2(df);
  return boost::math::cdf(boost::math::complement(chi2, x));
}

double normal_two_sided(double z) {
  return boost::math::erfc(std::fabs(z) / std::sqrt(2.0));
}

}  // namespace qvd::analysis
