// ln Gamma(x) for x > 0, and the tail of Stirling's series.
//
// For x >= 15, Stirling's series: ln Gamma(x) = ln sqrt(2 pi) - x
// + (x - 1/2) ln x + S(x), S the correction below, whose truncation error is
// far below an ulp there. For x < 15, the recurrence Gamma(x + 1) = x Gamma(x)
// brings the argument into [1, 2] (Gamma(x) = a Gamma(b)) and ln Gamma(b) is
// a rational function of degree 6/6 about 1 (b < 1.5) or 2 (b >= 1.5), with
// the exact zeros at 1 and 2 built in. Half-integers take the stored value
// of ln Gamma(1.5) instead. Accuracy: within 3 ulps for most arguments;
// near b = 1.5 the Horner sums about 2 cancel and leave up to about 10 ulps
// of the small value there (under 2^-52 absolute), between 2 and 3 the sum
// ln a + ln Gamma(b) cancels to 5 ulps, and just below 1, where b = x + 1 is
// rounded, only the absolute error stays small (about 2^-52).
#include "prob/log_gamma.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "numeric/double_constants.h"
#include "numeric/math_library.h"

namespace qvd {
namespace {

// One ulp above the smallest normal double: the smallest normal itself is
// refused along with zero, negatives and subnormals.
constexpr double kDomainLimit = 2.225073858507202e-308;
static_assert(std::bit_cast<std::uint64_t>(kDomainLimit) ==
              0x0010000000000001ull);
// Two units above 2^-53: the width of the exact zeros at 1 and 2 and of
// the half-integer test.
constexpr double kTolerance = kHalfEpsilonPlus2Ulps;

constexpr double kStirlingFrom = 15.0;
constexpr double kMinusLnGammaHalf3 = 0.12078223763524522;  // -ln Gamma(1.5)

// Stirling's series coefficients B_2k / (2k (2k - 1)).
constexpr double c0 = 0.08333333333333333;      // 1/12
constexpr double c1 = -0.002777777777777778;    // -1/360
constexpr double c2 = 0.0007936507936507937;    // 1/1260
constexpr double c3 = -0.0005952380952380953;   // -1/1680
constexpr double c4 = 0.0008417508417508417;    // 1/1188
constexpr double c5 = -0.0019175269175269176;   // -691/360360

// ln Gamma(1 + y) = y N1(y)/D1(y) on 0 <= y < 0.5; N1 highest power first.
constexpr double N1[7] = {0.002126546376940967, 0.05692342633165193,
                          0.36252537533106266,  0.7494577256954738,
                          0.2079812846119617,   -0.8017986934675778,
                          -0.5772156649015329};
// D1 = 1 + y E1(y); E1 highest power first.
constexpr double E1[6] = {0.0005124543681927987, 0.026724016735058816,
                          0.31469269123782706,   1.4276752135116328,
                          2.9550965510668346,    2.8139668163177345};
// ln Gamma(2 + z) = z N2(z)/D2(z) on -0.5 <= z <= 0.
constexpr double N2[7] = {9.627912858833401e-05, 0.004410493669232917,
                          0.05678875296955259,   0.3098673634213962,
                          0.8058203645027399,    0.9712118746069075,
                          0.42278433509846713};
constexpr double E2[6] = {2.1326962979603636e-05, 0.0016767266689027731,
                          0.03194668377437606,    0.24611091348667924,
                          0.8949255863507323,     1.5344580849517535};

template <int N>
double horner(const double (&coef)[N], double x) {
  double sum = coef[0];
  for (int i = 1; i < N; ++i) sum = sum * x + coef[i];
  return sum;
}

// t ln Gamma(c + t) / t about c = 1 or 2: t N(t)/D(t), D = 1 + t E(t).
double rational(const double (&n)[7], const double (&e)[6], double t) {
  const double num = horner(n, t);
  const double den = 1.0 + t * horner(e, t);
  return t * (num / den);
}

}  // namespace

double stirling_correction(double x) {
  const double r = 1.0 / x;
  const double r2 = r * r;
  return r * (c0 + r2 * (c1 + r2 * (c2 + r2 * (c3 + r2 * (c4 + r2 * c5)))));
}

double log_gamma(double x) {
  // A NaN comes back as its quiet form. It is caught by its bits before any
  // arithmetic: a signalling NaN would trap in the first comparison or
  // subtraction, where a quiet one would pass through as itself.
  if (is_nan_bits(x)) return quieted_nan(x);
  if (std::islessequal(x, kDomainLimit)) return LGAMMA_DOMAIN;
  if (std::isless(std::fabs(x - 1.0), kTolerance) ||
      std::isless(std::fabs(x - 2.0), kTolerance)) {
    return 0.0;
  }
  if (!std::isless(x, kStirlingFrom)) {
    // ln Gamma(+inf) = +inf; the formula would form -inf + inf.
    if (std::isinf(x)) return x;
    return ((kLnSqrt2Pi - x) + (x - 0.5) * lib_log(x)) + stirling_correction(x);
  }

  // Gamma(x) = a Gamma(b) with 1 <= b <= 2.
  double a = 1.0;
  double b = x;
  if (x < 1.0) {
    do {
      a = a / b;
      b = b + 1.0;
    } while (b < 1.0);
  }
  while (b > 2.0) {
    b = b - 1.0;
    a = a * b;
  }

  const int k = static_cast<int>(x);
  if (std::fabs((x - 0.5) - k) < kTolerance) {
    return lib_log(a) - kMinusLnGammaHalf3;  // b = 1.5
  }
  if (b < 1.5) return lib_log(a) + rational(N1, E1, b - 1.0);
  return lib_log(a) + rational(N2, E2, b - 2.0);
}

}  // namespace qvd
