// Noncentral chi-square distribution function
//
// With x' = x/2, k = df/2 and lambda = nc/2, F is the Poisson mixture
//
//   F(x; df, nc) = sum_j p_j P(k + j, x'),   p_j = e^(-lambda) lambda^j / j!,
//
// of regularized incomplete gamma functions. Since the weights add up to 1,
//
//   F = P_n + sum_(j != n) p_j (P_j - P_n)
//
// for any start index n. One incomplete gamma evaluation gives P_n at an n
// near the largest weights; the differences P_j - P_n are sums of gamma
// densities by the shape recurrence P(a, x') - P(a + 1, x') =
// x'^a e^(-x') / Gamma(a + 1), so the sum walks away from n in both
// directions with a few multiplications per term until the corrections no
// longer change it. The start index is lambda pulled down by half a Poisson
// standard deviation, or more when x lies far below the centre (measured by
// the cube-root normal score of x').
//
// With nc = 0 the result is exactly P(df/2, x/2) and Q(df/2, x/2). Otherwise
// the accuracy is that of the incomplete gamma term (relative error about
// 1e-12 for noncentralities up to 1000), except far below the centre, where
// P_n can exceed F by orders of magnitude and the corrections cancel it:
// the relative error then grows with P_n / F. The upper tail is 1 - F. The
// sum is abandoned after 1000 terms.
#include "prob/noncentral_chi2.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "numeric/double_constants.h"
#include "numeric/exp_guarded.h"
#include "prob/incomplete_gamma.h"
#include "prob/log_gamma.h"
#include "numeric/math_library.h"
#include "numeric/missing_value.h"
#include "numeric/pow_guarded.h"

namespace qvd {
namespace {

// The cube-root exponent and 1/9 of the start estimate, as written in
// decimal (not 1/3 and 1/9 to full precision).
constexpr double kCubeRootExponent = 0.333333;
constexpr double kOneNinth = 0.11111111111;
static_assert(std::bit_cast<std::uint64_t>(kCubeRootExponent) ==
              0x3FD55553EF6B5D46ull);
static_assert(std::bit_cast<std::uint64_t>(kOneNinth) ==
              0x3FBC71C71C708E5Cull);

// Largest start estimate that fits a 32-bit index.
constexpr double kLargestIndex = 2147483647.0;

// A correction counts as negligible below this fraction of the sum (two
// units above 2^-53).
constexpr double kTolerance = kHalfEpsilonPlus2Ulps;

// The sum is abandoned when it reaches this many terms.
constexpr int kTermLimit = 1000;

// Start index for lambda > 0: under the noncentral distribution the cube
// root of x'/f, f = lambda + k, has mean about 1 - h and variance h; z is
// -1.2 rho times the normal score of x'. Returns false when the estimate
// does not fit a 32-bit index.
bool start_index(double xh, double k, double lambda, int *n) {
  const double f = lambda + k;
  const double rho = lambda / f;
  const double h = ((1.0 + rho) * kOneNinth) / f;
  const double p = pow_guarded(xh / f, kCubeRootExponent);
  const double z = ((((p - 1.0) + h) * (-1.2)) / std::sqrt(h)) * rho;
  const double pull = z < 1.0 ? 1.0 : z;
  const double mu = lambda / (1.0 + (0.5 / std::sqrt(lambda)) * pull);
  if (mu > kLargestIndex) return false;
  *n = static_cast<int>(mu);
  return true;
}

// ln(x'^g e^(-x') / Gamma(g + 1)) = ln(P(g, x') - P(g + 1, x')). Above
// g = 15 Stirling's series for ln Gamma(g + 1) is written out so that the
// large terms cancel analytically.
double log_gamma_gap(double xh, double g) {
  const double g1 = g + 1.0;
  if (g > 15.0) {
    return g1 + (((((lib_log(xh / g1) * (g1 - 0.5)) - kLnSqrt2Pi) - xh) -
                  lib_ldexp(lib_log(xh), -1)) -
                 stirling_correction(g1));
  }
  return ((lib_log(xh) * g) - xh) - log_gamma(g1);
}

}  // namespace

int noncentral_chi2_cdf(double x, double df, double nc, double *cdf,
                        double *upper) {
  *upper = kMissingResult;
  if (x < 0.0 || df <= 0.0 || nc < 0.0) {
    *cdf = kMissingResult;
    return 1;
  }
  if (x == 0.0) {
    *cdf = 0.0;
    *upper = 1.0;
    return 0;
  }
  const double lambda = nc * 0.5;
  const double xh = x * 0.5;
  const double k = df * 0.5;
  *cdf = kMissingResult;

  int n = 0;
  if (lambda != 0.0 && !start_index(xh, k, lambda, &n)) return 1;

  // The central term P_n = P(g, x'), left in *cdf and *upper.
  const double g = k + n;
  double density_unused = 0.0;
  if (incomplete_gamma(xh, g, cdf, upper, &density_unused) != 0) return 1;
  if (lambda == 0.0) return 0;

  // H = ln(P_n - P_(n+1)) and M = ln p_n.
  const double big_h = log_gamma_gap(xh, g);
  const double big_m = ((lib_log(lambda) * n) - lambda) - log_gamma(n + 1.0);
  if (big_h + big_m <= kExpLowerLimit) return 1;

  const double weight_n = exp_guarded(big_m);
  double o = exp_guarded(big_h);           // P_(r-1) - P_r, forward side
  double v = o;                            // P_n - P_r
  double t = (g / xh) * o;                 // P_(j-1) - P_j, backward side
  double a = t;                            // P_(j-1) - P_n
  double w = (n / lambda) * weight_n;      // p_(j-1)
  double u = (lambda * weight_n) / (n + 1.0);  // p_r
  // The forward index can pass 2^31 - 1 only by the term limit's margin;
  // 64 bits keep it exact.
  int j = n;
  std::int64_t r = std::int64_t{n} + 1;
  double sum = 0.0;
  int count = 1;
  for (;;) {
    double beta = 0.0;
    j = j - 1;
    if (j >= 0) {
      beta = w * a;  // p_j (P_j - P_n)
      t = t * ((k + j) / xh);
      sum = sum + beta;
      w = w * (j / lambda);
      a = a + t;
      count = count + 1;
    }  // below j = 0 the backward side is used up and adds nothing
    r = r + 1;
    const double alpha = u * v;  // p_(r-1) (P_n - P_(r-1))
    u = u * (lambda / static_cast<double>(r));
    count = count + 1;
    sum = sum - alpha;
    o = o * (xh / (static_cast<double>(r) + (k - 1.0)));
    v = v + o;

    const bool converged = beta + alpha < std::fabs(sum) * kTolerance;
    if (count >= kTermLimit) return -1;
    if (converged) break;
  }

  double f = sum + *cdf;
  if (f < 0.0) f = 0.0;
  if (f > 1.0) f = 1.0;
  *cdf = f;
  *upper = 1.0 - f;
  return 0;
}

}  // namespace qvd
