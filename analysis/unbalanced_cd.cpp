#include "analysis/unbalanced_cd.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "analysis/errors.h"
#include "analysis/pair_statistics.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Centred sum of squares counted as zero, relative to the uncentred one.
constexpr double kNoVariation = 1e-24;

// rho~ of two rows over their common periods; NaN when it does not exist.
double centred_correlation(const double *a, const double *b, std::size_t periods, int &common) {
  double sum_a = 0, sum_b = 0;
  common = 0;
  for (std::size_t t = 0; t < periods; ++t) {
    if (qvdep_is_missing(a[t]) || qvdep_is_missing(b[t])) continue;
    sum_a += a[t];
    sum_b += b[t];
    ++common;
  }
  if (common < 2) return kNaN;
  const double mean_a = sum_a / common, mean_b = sum_b / common;
  double saa = 0, sbb = 0, sab = 0, raw_aa = 0, raw_bb = 0;
  for (std::size_t t = 0; t < periods; ++t) {
    if (qvdep_is_missing(a[t]) || qvdep_is_missing(b[t])) continue;
    const double da = a[t] - mean_a, db = b[t] - mean_b;
    saa += da * da;
    sbb += db * db;
    sab += da * db;
    raw_aa += a[t] * a[t];
    raw_bb += b[t] * b[t];
  }
  if (saa <= kNoVariation * raw_aa || sbb <= kNoVariation * raw_bb) return kNaN;
  return sab / std::sqrt(saa * sbb);
}

}  // namespace

UnbalancedDependence unbalanced_dependence(const std::vector<double> &residuals, int sections,
                                           int periods, int max_distance) {
  const std::size_t n = static_cast<std::size_t>(sections > 0 ? sections : 0);
  const std::size_t t = static_cast<std::size_t>(periods > 0 ? periods : 0);
  if (max_distance < 1)
    throw InputError("the distance of the local CD must be 1 or more, not " + std::to_string(max_distance));
  UnbalancedDependence r;
  r.correlations.assign(n * n, kNaN);
  double lm = 0, scaled = 0, cd = 0, sum = 0, sum_abs = 0;
  for (std::size_t i = 0; i < n; ++i) {
    r.correlations[i * n + i] = 1.0;
    for (std::size_t j = i + 1; j < n; ++j) {
      int common = 0;
      const double rho = centred_correlation(&residuals[i * t], &residuals[j * t], t, common);
      r.correlations[i * n + j] = r.correlations[j * n + i] = rho;
      if (j - i > static_cast<std::size_t>(max_distance)) continue;
      if (std::isnan(rho)) {
        ++r.omitted_pairs;
        continue;
      }
      ++r.pairs;
      const double tij = common;
      lm += tij * rho * rho;
      scaled += tij * rho * rho - 1.0;
      cd += std::sqrt(tij) * rho;
      sum += rho;
      sum_abs += std::fabs(rho);
    }
  }
  if (r.pairs == 0) {
    r.lm = r.lm_pvalue = r.scaled_lm = r.scaled_lm_pvalue = r.scaled_lm_upper_pvalue = kNaN;
    r.cd = r.cd_pvalue = r.mean_correlation = r.mean_abs_correlation = kNaN;
    return r;
  }
  const double m = static_cast<double>(r.pairs);
  r.lm = lm;
  r.lm_pvalue = chi2_upper_tail(lm, m);
  r.scaled_lm = std::sqrt(1.0 / (2.0 * m)) * scaled;
  r.scaled_lm_pvalue = normal_two_sided(r.scaled_lm);
  r.scaled_lm_upper_pvalue = 0.5 * std::erfc(r.scaled_lm / std::sqrt(2.0));
  r.cd = std::sqrt(1.0 / m) * cd;
  r.cd_pvalue = normal_two_sided(r.cd);
  r.mean_correlation = sum / m;
  r.mean_abs_correlation = sum_abs / m;
  return r;
}

}  // namespace qvd::analysis
