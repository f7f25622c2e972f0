// Regularized incomplete gamma function
//
//   P(s, x) = gamma(s, x) / Gamma(s),   Q(s, x) = 1 - P(s, x),
//
// and the gamma density x^(s-1) e^(-x) / Gamma(s).
//
// Only the smaller-looking tail is computed: the lower tail when x <= s (or
// x <= 1), the upper tail otherwise; the other is 1 minus it. Each tail is
// e^l * y, where l is the log-density and y comes from
//
//   - the power series  P = e^l x sum_i x^i / (s (s+1) ... (s+i))  for the
//     lower tail at shapes below 1e9,
//   - Legendre's continued fraction for Q (upper tail, any shape),
//   - a continued fraction for P at shapes of 1e9 and more,
// or, at shapes of 1e9 and more near the centre, the cube-root (Wilson and
// Hilferty) normal approximation with its first correction term.
//
// Shapes below 1 are raised by one and brought back with the recurrence
// P(s, x) = P(s + 1, x) + x^s e^(-x) / Gamma(s + 1).
//
// Accuracy: the tails are limited by the log-density, whose terms of size
// about s ln x (or s, in the Stirling form) cancel. Against quad-precision
// references the relative error of the directly computed tail is below
// 1e-14 for shapes under 10, about 2e-12 near 1000 and 1e-11 near 1e5; the
// normal approximation at 1e9 is good to about 1e-10 and its density to
// 1e-7. For shapes far below 1 the upper tail Q(s, x) = Q(s + 1, x) - d
// cancels and loses about log10(x/s) digits. The series gives up (failure)
// with x at or just below the shape once the shape reaches about 7e4.
#include "prob/incomplete_gamma.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "numeric/double_constants.h"
#include "numeric/exp_guarded.h"
#include "prob/log_gamma.h"
#include "numeric/math_library.h"
#include "prob/normal_cdf.h"

namespace qvd {
namespace {

// Tolerance of the series and of both continued fractions.
constexpr double kEpsilon = 5.551115123125785e-16;
static_assert(std::bit_cast<std::uint64_t>(kEpsilon) == 0x3CC4000000000002ull);

// 1 / sqrt(2 pi) as stored.
constexpr double kInvSqrt2Pi = 0.3989422804014327;

// From this shape on, the normal approximation serves near the centre and
// the lower tail is taken from its continued fraction instead of the series.
constexpr double kLargeShape = 1000000000.0;

// Iteration limits: terms after the first (series), last step index of the
// lower-tail fraction (steps 2..1000) and of the upper-tail fraction
// (steps 0..1000).
constexpr int kSeriesTerms = 2000;
constexpr int kLowerFractionLastStep = 1000;
constexpr int kUpperFractionLastStep = 1000;

// Rescaling window of the continued fractions: just above 2^512 and 2^-511.
constexpr double kRescaleAbove = 1.3407807929943e154;
constexpr double kRescaleBelow = 1.491668147e-154;

int fail(double *lower, double *upper, double *density) {
  *lower = kIncompleteGammaFailed;
  *upper = kIncompleteGammaFailed;
  *density = 0.0;
  return 1;
}

double clamp01(double v) {
  if (v < 0.0) return 0.0;
  if (v > 1.0) return 1.0;
  return v;
}

// l = ln(x^(s-1) e^(-x) / Gamma(s)) for s >= 1, x > 0. Near the centre at
// larger shapes Stirling's series is written out so that the large terms
// s ln x and ln Gamma(s) cancel analytically:
//   l = (s - ln sqrt(2 pi) - x) + (s - 1) ln(x/s) - ln(s)/2 - stirling(s).
double log_density(double x, double s) {
  const double ratio = x / s;
  if (s < 10.0 || std::fabs(ratio - 1.0) > 0.3) {
    return ((s - 1.0) * lib_log(x) - x) - log_gamma(s);
  }
  return ((((s - kLnSqrt2Pi) - x) + (s - 1.0) * lib_log(ratio)) -
          0.5 * lib_log(s)) -
         stirling_correction(s);
}

// The last two numerators and denominators of a continued fraction
// evaluated forward: A(n) = A(n-1) + w A(n-2), B(n) = w B(n-2) + B(n-1).
struct Convergents {
  double a_prev;  // A(n-1)
  double a;       // A(n)
  double b_prev;  // B(n-1)
  double b;       // B(n)

  // Takes one more partial numerator w, shifts, and returns A(n)/B(n).
  double advance(double w) {
    const double a_next = a + w * a_prev;
    const double b_next = w * b_prev + b;
    a_prev = a;
    a = a_next;
    b_prev = b;
    b = b_next;
    return a_next / b_next;
  }

  // Keeps the recurrence in range: when the older numerator leaves
  // [2^-511, 2^512] (or is not positive) all four values are divided by
  // the same power of two, which leaves every ratio unchanged.
  void rescale() {
    if (a_prev > kRescaleAbove || a_prev < kRescaleBelow) {
      int e = 0;
      a_prev = lib_frexp(a_prev, &e);
      const double scale = lib_ldexp(1.0, -e);
      a = a * scale;
      b_prev = b_prev * scale;
      b = b * scale;
    }
  }

  // One step of a fraction: takes the partial numerator w; when the new
  // convergent y agrees with the previous one to epsilon, y is the value
  // and goes to y_out; otherwise the recurrence is rescaled and y kept.
  bool converged(double w, double &y_prev, double *y_out) {
    const double y = advance(w);
    if (kEpsilon * y > std::fabs(y - y_prev)) {
      *y_out = y;
      return true;
    }
    rescale();
    y_prev = y;
    return false;
  }
};

// y with P(s, x) = e^l y, by the power series; false if 2000 further terms
// do not bring the last term below epsilon times the sum.
bool lower_series(double x, double s, double *y_out) {
  double m = 1.0 / s;
  double y = m;
  for (int i = 1; i <= kSeriesTerms; ++i) {
    m = m * (x / (s + i));
    y = y + m;
    if (m / y <= kEpsilon) {
      *y_out = y * x;
      return true;
    }
  }
  return false;
}

// y with P(s, x) = e^l y, by the continued fraction
//   y = h / (1 + b1 / (1 + b2 / (1 + ...))),  h = x/s,
//   b1 = -x/(s+1), b_k = x (k/2) / ((s+k-1)(s+k))          (k even),
//                  b_k = -x (s + (k-1)/2) / ((s+k-1)(s+k))  (k odd).
bool lower_fraction(double x, double s, double *y_out) {
  const double h = x / s;
  double m = s + 1.0;
  Convergents c{h, h, 1.0, 1.0 - x / m};
  double y_prev = c.a / c.b;
  double v = 0.0;
  for (int k = 2; k <= kLowerFractionLastStep; ++k) {
    m = m + 1.0;
    double w;
    if (k % 2 == 0) {
      v = v + 1.0;
      w = (x / (m - 1.0)) * (v / m);
    } else {
      w = ((-x) / (m - 1.0)) * ((s + v) / m);
    }
    if (c.converged(w, y_prev, y_out)) return true;
  }
  return false;
}

// y with Q(s, x) = e^l y, by Legendre's continued fraction
//   y = 1 / (1 + a1 / (1 + a2 / (1 + ...))),
//   a_(2j-1) = (j - s)/x,  a_(2j) = j/x.
bool upper_fraction(double x, double s, double *y_out) {
  const double inv_x = 1.0 / x;
  const double s_over_x = s * inv_x;
  Convergents c{0.0, 1.0, 1.0, 1.0};
  double y_prev = 1.0;
  double t = 0.0;
  for (int i = 0; i <= kUpperFractionLastStep; ++i) {
    double w;
    if (i % 2 == 0) {
      t = t + inv_x;
      w = t - s_over_x;
    } else {
      w = t;
    }
    if (c.converged(w, y_prev, y_out)) return true;
  }
  return false;
}

// Wilson and Hilferty: (x/s)^(1/3) is nearly normal with mean 1 - 1/(9s)
// and variance 1/(9s); K is the first correction term of the expansion.
int normal_approximation(double x, double s, double l, double *lower,
                         double *upper, double *density) {
  const double h = x / s;
  const double f = 9.0 * s;
  const double q = std::sqrt(f);
  const double t = ((lib_cbrt(h) - 1.0) + 1.0 / f) * q;
  const double u = t * t;
  const double k =
      ((exp_guarded(-0.5 * u) * kInvSqrt2Pi) *
       ((((0.3333333333333333 * u - 1.0) * 0.25) * t) -
        (7.0 - u * (4.0 + u)) / (15.0 * q))) /
      f;
  const double phi = normal_cdf(-std::fabs(t));
  double p;
  double qt;
  if (t > 0.0) {
    qt = phi - k;
    p = 1.0 - qt;
  } else {
    p = k + phi;
    qt = 1.0 - p;
  }
  if (qt > p) {
    *lower = clamp01(p);
    *upper = 1.0 - *lower;
  } else {
    *upper = clamp01(qt);
    *lower = 1.0 - *upper;
  }
  *density = exp_guarded(l);
  return 0;
}

}  // namespace

int incomplete_gamma(double x, double s, double *lower, double *upper,
                     double *density) {
  if (s < 0.0 || x < 0.0) return fail(lower, upper, density);
  if (s == 0.0) {
    *lower = 1.0;
    *upper = 0.0;
    *density = 0.0;
    return 0;
  }
  if (x == 0.0) {
    *lower = 0.0;
    *upper = 1.0;
    *density = (s == 1.0) ? 1.0 : 0.0;
    return 0;
  }

  const bool shifted = s < 1.0;
  const double sp = shifted ? s + 1.0 : s;
  const double l = log_density(x, sp);
  const bool lower_tail = x <= sp || x <= 1.0;

  double y = 0.0;
  bool converged;
  if (sp >= kLargeShape) {
    if (std::fabs(x - sp) <= 0.7 * std::sqrt(sp) + 0.02 * sp) {
      return normal_approximation(x, sp, l, lower, upper, density);
    }
    converged = lower_tail ? lower_fraction(x, sp, &y)
                           : upper_fraction(x, sp, &y);
  } else {
    converged = lower_tail ? lower_series(x, sp, &y)
                           : upper_fraction(x, sp, &y);
  }
  if (!converged) return fail(lower, upper, density);

  double tail = exp_guarded(lib_log(y) + l);
  double d;
  if (l < -kLnLargestDouble) {
    d = 0.0;
  } else if (l > kLnLargestDouble) {
    d = kLargestDouble;
  } else {
    d = exp_guarded(l);
  }
  if (shifted) {
    // d = x^s e^(-x) / Gamma(s + 1) is the gap between P(s, x) and
    // P(s + 1, x); times s/x it is the density at the shape passed in.
    tail = lower_tail ? tail + d : tail - d;
    d = d * ((sp - 1.0) / x);
  }
  tail = clamp01(tail);
  if (lower_tail) {
    *lower = tail;
    *upper = 1.0 - tail;
  } else {
    *upper = tail;
    *lower = 1.0 - tail;
  }
  *density = d;
  return 0;
}

}  // namespace qvd
