// e^x by the rational form of Cody and Waite.
//
// The argument is reduced by a single-constant ln 2: x = k ln 2 + r with
// |r| <= ln(2)/2, and e^r / 2 is approximated by 0.5 + P/(Q - P), where
// P = r p(r^2) is odd and Q = q(r^2) even (a (2,2) rational form of
// (e^r - 1)/(e^r + 1) in disguise). The result is scaled by 2^(k+1) with
// ldexp. Within 2 ulps for |x| < ln(2)/2 (k = 0); beyond, the single rounded
// product k ln 2 and the error of the stored ln 2 leave r off by up to
// |k| (0.69 * 2^-53 + 2.3e-17), which adds up to about 1.3 |x| ulps (600
// near the ends of the range).
//
// Faults: above 709.78271289339 the overflow fault is raised explicitly;
// when resumed the scaling overflows as well and the result is +inf. Below
// -708.3964185 (ln of the smallest normal double) the result is +0 without
// any fault.
#include "numeric/exp_guarded.h"

#include <cmath>

#include "platform/raise_exception.h"
#include "numeric/double_constants.h"
#include "numeric/fault_codes.h"
#include "numeric/math_library.h"

namespace qvd {
namespace {

// Slightly above ln(DBL_MAX) = 709.782712893384.
constexpr double kUpperLimit = 709.78271289339;
// Below this e^x is 1 to double precision.
constexpr double kOneLimit = 2.710505e-20;
constexpr double kLog2e = 1.4426950408889634;  // 1/ln 2
constexpr double kMinusLn2 = -0.6931471805599453;

// p(z) = P1 z^2 + P2 z + 1/4 and q(z) = Q1 z^2 + Q2 z + 1/2 (Cody & Waite).
constexpr double kP1 = 1.6520330026827912e-05;
constexpr double kP2 = 0.006943600015117929;
constexpr double kP3 = 0.25;
constexpr double kQ1 = 0.0004958628849054413;
constexpr double kQ2 = 0.05555386669690012;
constexpr double kQ3 = 0.5;

// Well below (2^31 - 1/2) ln 2 = 1.49e9, where k = trunc(|x|/ln 2 + 0.5)
// stops fitting in 32 bits.
constexpr double kHugeArgument = 1e9;

}  // namespace

double exp_guarded(double x) {
  // A NaN passes every test below and comes out as NaN. It is handed back
  // quietened without a comparison, which would trap under the host's
  // setting, and without the integer conversion of step 4.
  if (is_nan_bits(x)) return quieted_nan(x);
  if (x > kUpperLimit) {
    raise_exception(kFaultOverflow);
    // Resumed. Where k would not fit in 32 bits (+inf included) scale by
    // the largest power ldexp accepts: it overflows and raises again, just
    // as the ordinary scaling below does for the smaller arguments.
    if (x > kHugeArgument) return lib_ldexp(1.0, 65536);
  }
  if (x < kExpLowerLimit) return 0.0;
  if (std::fabs(x) < kOneLimit) return 1.0;

  int k = static_cast<int>(std::fabs(x) * kLog2e + 0.5);
  if (x < 0.0) k = -k;
  const double r = k * kMinusLn2 + x;

  const double z = r * r;
  const double p = r * ((kP1 * z + kP2) * z + kP3);
  const double q = (kQ1 * z + kQ2) * z + kQ3;
  return lib_ldexp(0.5 + p / (q - p), k + 1);
}

}  // namespace qvd
