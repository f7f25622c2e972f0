// Residual cross-correlation statistics
//
// For every pair of cross-sections i < j the raw (uncentred) residuals are
// correlated over the periods both observe:
//
//   rho_ij = S_ij / (sqrt(S_ii) sqrt(S_jj)),   S_ab = sum_t e_a(t) e_b(t),
//
// and the correlations of the usable pairs are condensed into
//
//   LM        = sum T_ij rho_ij^2                      ~ chi2(N(N-1)/2)
//   scaled LM = sum (T_ij rho_ij^2 - 1) / sqrt(N(N-1))  ~ N(0, 1), one-sided
//   CD        = sqrt(2/(N(N-1))) sum sqrt(T_ij) rho_ij  ~ N(0, 1), two-sided
//   CD(p)     = sum_{j-i<=p} sqrt(2 T_ij) rho_ij / sqrt(D)         two-sided
//
// where D = (2N - p - 1) p is twice the number of pairs at most p apart.
// Once p reaches N - 1 every pair is at most p apart, so larger orders are
// taken as N - 1: the pairs and the normalisation then stay those of the
// complete statistic (CD(p) = CD), instead of D shrinking towards zero and
// turning negative (and overflowing 32 bits) for orders the panel cannot
// have.
//
// The sums are accumulated pair by pair in panel order, each in the form
// written below; the results are exact to the rounding of those sums.
#include "engine/pairwise.h"

#include <cmath>
#include <cstdint>

#include "matrix/packed_storage.h"
#include "prob/missing_value.h"
#include "prob/noncentral_chi2.h"
#include "prob/normal_cdf.h"

namespace qvd {
namespace {

// A pair is usable when both residual sums of squares exceed this.
constexpr double kMinSumOfSquares = 1e-12;

// The cross products of two residual rows over their common periods.
struct PairSums {
  double s_ii = 0.0;
  double s_jj = 0.0;
  double s_ij = 0.0;
  std::int32_t periods = 0;  // T_ij
};

PairSums pair_sums(const double *e_i, const double *e_j, std::int32_t periods) {
  PairSums s;
  for (std::int32_t t = 0; t < periods; ++t) {
    if (is_missing(e_i[t]) || is_missing(e_j[t])) continue;
    s.s_ii += e_i[t] * e_i[t];
    s.s_jj += e_j[t] * e_j[t];
    s.s_ij += e_i[t] * e_j[t];
    ++s.periods;
  }
  return s;
}

// Ordinary comparisons: a NaN sum of squares (a residual that is NaN without
// being marked missing) is not data the statistics can use, and under the
// host's trap setting it ends the call with an invalid-operation fault
// instead of silently dropping the pair while F still counts it.
bool usable(const PairSums &s) {
  return s.s_ii > kMinSumOfSquares && s.s_jj > kMinSumOfSquares && s.periods > 0;
}

// min(p, N - 1): beyond N - 1 no further pair can join the local statistic.
std::int32_t effective_order(std::int32_t order, std::int32_t sections) {
  return order < sections - 1 ? order : sections - 1;
}

// D = (2N - p - 1) p for 1 <= p <= N - 1, formed in 64 bits. At p = N - 1 it
// equals N(N - 1), which the run frame keeps below 2^31.
double local_normaliser(std::int32_t order, std::int32_t sections) {
  const std::int64_t p = order, n = sections;
  return static_cast<double>((2 * n - p - 1) * p);
}

}  // namespace

void pairwise_statistics(DependenceRequest &request, const double *residuals) {
  const std::int32_t n = request.n_sections;
  const std::int32_t periods = request.n_periods;
  const std::int32_t order = effective_order(request.cdp_order, n);
  double *const corr = request.correlations;

  request.lm = 0.0;
  request.scaled_lm = 0.0;
  request.cd = 0.0;
  request.cdp = 0.0;
  const std::int32_t f = n * (n - 1);  // N(N + 1) < 2^31 by the run frame

  for (std::int32_t i = 1; i < n; ++i) {
    const double *e_i = residuals + static_cast<std::int64_t>(i - 1) * periods;
    for (std::int32_t j = i + 1; j <= n; ++j) {
      const double *e_j =
          residuals + static_cast<std::int64_t>(j - 1) * periods;
      const PairSums s = pair_sums(e_i, e_j, periods);
      // The diagonal cells keep the working sums of the latest pair; the
      // off-diagonal cell keeps S_ij unless the pair is usable.
      double &c_ij = corr[packed_index(i - 1, j - 1)];
      corr[packed_index(i - 1, i - 1)] = s.s_ii;
      corr[packed_index(j - 1, j - 1)] = s.s_jj;
      c_ij = s.s_ij;
      if (!usable(s)) continue;

      c_ij = c_ij / std::sqrt(s.s_ii);
      c_ij = c_ij / std::sqrt(s.s_jj);
      const double rho = c_ij;
      const double t_ij = static_cast<double>(s.periods);

      request.lm += (rho * t_ij) * rho;
      const double q = 1.0 / std::sqrt(static_cast<double>(f));
      request.scaled_lm += ((t_ij * rho) * rho - 1.0) * q;
      const double r = std::sqrt(static_cast<double>(2 * s.periods));
      request.cd += (q * r) * rho;
      if (j - i <= order)
        request.cdp += (r * rho) / std::sqrt(local_normaliser(order, n));
    }
  }

  // LM p-value: upper tail of chi2 with N(N-1)/2 degrees of freedom. The
  // lower tail is not needed; a failure leaves the p-value missing.
  double lower = 0.0;
  if (noncentral_chi2_cdf(request.lm, static_cast<double>(f / 2), 0.0, &lower,
                          &request.lm_pvalue) != 0)
    request.lm_pvalue = MISSING_RESULT;
  request.scaled_lm_pvalue = 1.0 - normal_cdf(request.scaled_lm);
  request.cd_pvalue = (1.0 - normal_cdf(std::fabs(request.cd))) * 2.0;
  request.cdp_pvalue = 2.0 * (1.0 - normal_cdf(std::fabs(request.cdp)));
}

}  // namespace qvd
