// The exponent of cross-sectional dependence of a variable, Bailey,
// Kapetanios and Pesaran (2016), "Exponent of cross-sectional dependence:
// estimation and inference", J. Applied Econometrics 31 (BKP): the
// bias-adjusted alpha (their equation 13) and its standard error (their
// online appendix, B47), as Stata's xtcse2 1.04 forms them, for N series
// of T periods tested as they are. With each series x_i centred on its mean:
//
//  1. xbar_t = N^-1 sum_i x_it, sigma^2 its variance (divisor T - 1),
//       alpha^ = 1 + ln sigma^2 / (2 ln N);
//  2. u_it the residuals of x_i on the first `components` principal
//     components of the series (principal_components.h), ubar_t their
//     average, c_N = N var(ubar) (divisor T - 1),
//       alpha~ = alpha^ - c_N / (2 N ln N sigma^2);
//  3. t_i the t-statistic of the slope of x_i on (1, xbar) (least squares,
//     residual variance with divisor T - 2); ordered by size |t|_(1) >= ...,
//     the j-th is significant when |t|_(j) >= Phi^-1(1 - p/(2(N - j + 1)))
//     (each j on its own, as the thresholds fall with j); mu^2 the variance
//     (divisor T) of the average of the significant series,
//       alpha = alpha~ - ln mu^2 / (2 ln N);
//  4. z_t = (xbar_t - mean)/sigma, q = ceil(T^(1/3)); an AR(q) with
//     intercept fitted by least squares to z_t^2, V = s^2 / (1 - sum of its
//     q coefficients)^2, s^2 its residual variance (divisor T - 2q - 1);
//     delta_i the slope of x_i on (1, z); S the variance (divisor m - 1) of
//     the m = round(N^alpha) delta_i largest in absolute value;
//       se(alpha) = sqrt(V/T + 4 N^-alpha S / mu^2) / (2 ln N).
//     S / mu^2 is the squared coefficient of variation of the loadings:
//     mu^2 estimates the squared mean loading on the standardised factor,
//     and var(ln mu^2) = 4 S / (m mu^2) by the delta method. S alone, as
//     the equations are usually written, is in the variable's squared units
//     (it presumes series scaled so that the mean loading is about 1), and
//     would make the standard error change with the units of measurement.
//
// BKP's sigma^2 divides by T, and their c_N is N^-1 sum_i of the residual
// variances after the principal components; xtcse2's documentation uses the
// divisor T - 1 and c_N = N var(ubar) (the same as N grows when the u_i are
// independent), and so does this (docs/strength.md).
//
// Method: the principal components by LAPACK (dsyevr), the AR(q) by dgels
// (QR); the other regressions have one regressor and an intercept and are
// formed directly. O(N T min(N, T)). Not available in a build without
// LAPACK.
#ifndef QVDEP_ANALYSIS_STATS_VARIABLE_EXPONENT_H
#define QVDEP_ANALYSIS_STATS_VARIABLE_EXPONENT_H

#include <string>

namespace qvd::analysis {

struct VariableExponentOptions {
  double size = 0.10;  // p of the multiple test, in (0, 1)
  int components = 4;  // principal components c_N takes out, 0 < components < min(N, T)
};

struct VariableExponent {
  bool available = false;
  std::string reason;         // why not, when not available
  double alpha = 0;           // the bias-adjusted alpha (step 3); NaN when not available
  double standard_error = 0;  // NaN when there is none (and standard_error_reason says why)
  std::string standard_error_reason;
  double alpha_hat = 0;            // alpha^ (step 1)
  double alpha_tilde = 0;          // alpha~ (step 2)
  double variance_of_average = 0;  // sigma^2
  double c_n = 0;                  // c_N
  double mu_squared = 0;           // mu^2
  int significant = 0;             // series loading significantly on xbar
  int ar_order = 0;                // q
  double long_run_variance = 0;    // V
  int largest_slopes = 0;          // m
  double slope_variance = 0;       // S
};

// `series`: N rows of T values (missing: qvdep_is_missing). Not available:
// a missing value (unbalanced panel), fewer than 3 periods, an average that
// does not vary, no significant series, a build without LAPACK. The standard error alone is
// not available when T leaves the AR(q) no degree of freedom or m < 2.
// Throws InputError for a size outside (0, 1) or components outside
// 0 < components < min(N, T).
VariableExponent variable_exponent(const double *series, int sections, int periods,
                                   const VariableExponentOptions &options = {});

}  // namespace qvd::analysis

#endif
