// Phi(x), the standard normal distribution function.
//
// Phi(x) = (1 + erf(x/sqrt 2))/2 for x > 0 and erfc(-x/sqrt 2)/2 for x <= 0,
// with erf and erfc from W. J. Cody's rational Chebyshev approximations
// (Math. Comp. 23, 1969) in three ranges of y = |x|/sqrt 2:
//   y <= 0.46875      erf(y) = y N(y^2)/M(y^2), degree 4/4;
//   0.46875 < y <= 4  erfc(y) = e^(-y^2) N(y)/M(y), degree 8/8;
//   y > 4             erfc(y) = e^(-y^2)/y (1/sqrt(pi) - N(1/y^2)/M(1/y^2)).
// The lower half never forms a difference from 1 beyond y = 0.46875, so
// lower-tail probabilities keep their relative precision, except that
// e^(-y^2) is taken from one rounded square: its relative error grows like
// y^2 ulps far out in the tail. The upper half is rounded against 1.
// No argument raises a fault or traps. A NaN comes back as its quiet form:
// a signalling NaN would trap in the first multiplication, so every NaN is
// recognised by its bits and returned before any arithmetic, the way a
// quiet one would have come through the kernels.
#include "prob/normal_cdf.h"

#include <cmath>

#include "numeric/double_constants.h"

#include "numeric/exp_guarded.h"
#include "numeric/math_library.h"

namespace qvd {
namespace {

constexpr double A[5] = {3.1611237438705655, 113.86415415105016,
                         377.485237685302, 3209.3775891384694,
                         0.18577770618460315};
constexpr double B[4] = {23.601290952344122, 244.02463793444417,
                         1282.6165260773723, 2844.236833439171};
constexpr double C[9] = {0.5641884969886701, 8.883149794388377,
                         66.11919063714163,  298.6351381974001,
                         881.952221241769,   1712.0476126340707,
                         2051.0783778260716, 1230.3393547979972,
                         2.1531153547440383e-08};
constexpr double D[8] = {15.744926110709835, 117.6939508913125,
                         537.1811018620099,  1621.3895745666903,
                         3290.7992357334597, 4362.619090143247,
                         3439.3676741437216, 1230.3393548037495};
constexpr double P[6] = {0.30532663496123236, 0.36034489994980445,
                         0.12578172611122926, 0.016083785148742275,
                         0.0006587491615298378, 0.016315387137302097};
constexpr double Q[5] = {2.568520192289822, 1.8729528499234604,
                         0.5279051029514285, 0.06051834131244132,
                         0.0023352049762686918};

constexpr double kInvSqrt2 = 0.7071067811865476;
constexpr double kInvSqrtPi = 0.5641895835477563;
constexpr double kSmallLimit = 0.46875;
constexpr double kMiddleLimit = 4.0;
// erfc(y) is below the smallest subnormal double beyond this.
constexpr double kTailLimit = 1003.7843389117924;
// Below this y^2 is zero to double precision in 1 + y^2 ...
constexpr double kTinyLimit = 4.2e-16;

// erf(y) for 0 <= y <= 0.46875. The comparison is a quiet one so that a NaN
// passes through without trapping (and gives NaN).
double erf_small(double y) {
  const double s = std::isgreater(y, kTinyLimit) ? y * y : 0.0;
  const double n = (((A[4] * s + A[0]) * s + A[1]) * s + A[2]) * s + A[3];
  const double m = (((s + B[0]) * s + B[1]) * s + B[2]) * s + B[3];
  return (y * n) / m;
}

// erfc(y) for 0.46875 < y <= 4.
double erfc_middle(double y) {
  const double e = exp_guarded(-(y * y));
  double n = C[8] * y + C[0];
  for (int i = 1; i <= 7; ++i) n = n * y + C[i];
  double m = D[0] + y;
  for (int i = 1; i <= 6; ++i) m = m * y + D[i];
  m = y * m + D[7];
  return (n * e) / m;
}

// erfc(y) for y > 4.
double erfc_tail(double y) {
  if (y > kTailLimit) return 0.0;
  const double z = y * y;
  const double r = 1.0 / z;
  double n = P[5] * r + P[0];
  for (int i = 1; i <= 4; ++i) n = n * r + P[i];
  n = n * r;
  double m = Q[0] + r;
  for (int i = 1; i <= 3; ++i) m = m * r + Q[i];
  m = r * m + Q[4];
  if (-z < kExpLowerLimit) return 0.0;
  return (kInvSqrtPi - n / m) * (exp_guarded(-z) / y);
}

double erfc_large(double y) {
  return y <= kMiddleLimit ? erfc_middle(y) : erfc_tail(y);
}

}  // namespace

double normal_cdf(double x) {
  if (is_nan_bits(x)) return quieted_nan(x);
  const double v = kInvSqrt2 * x;
  double result;
  if (std::isgreater(x, 0.0)) {
    result = v <= kSmallLimit ? 1.0 + erf_small(v)
                              : 1.0 + (1.0 - erfc_large(v));
  } else {
    // x <= 0 or -0.
    const double w = 0 - v;
    result = std::isgreater(w, kSmallLimit) ? erfc_large(w)
                                            : 1.0 - erf_small(w);
  }
  return lib_ldexp(result, -1);
}

}  // namespace qvd
