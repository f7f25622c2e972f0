// Tail probabilities of the tests' reference distributions, computed from
// the statistic with full relative precision far into the tails.
//
// A p-value formed as 1 - Phi(z) or 1 - P(x) keeps only an absolute
// accuracy of about 1e-16, so below 1e-13 its leading digits are rounding
// noise (Produc's CD(1): 2.70894e-14 for 2.71478e-14). These functions form
// the complement directly:
//
//  - the normal tail as erfc(z / sqrt 2) / 2, the quotient and erfc taken in
//    the 64-bit significand of long double: erfc's relative condition near
//    z is about z^2 (1400 at 1e-300), which the extra 11 bits absorb;
//  - the chi-square tail as Boost.Math's regularised upper incomplete gamma
//    Q(df/2, x/2) in long double where it uses Temme's uniform expansion
//    (tails above about 1e-6), and in 113-bit software floating point
//    beyond, where its continued fraction loses about eps * df relative
//    (1e-11 at df = 1e9 in long double).
//
// Relative error within a few parts in 1e16 down to 1e-300 (checked
// against MPFR references by tests/analysis/tail_probability_test.cpp);
// below that the result runs into the double's subnormal range and then 0.
#ifndef QVDEP_ANALYSIS_STATS_TAIL_PROBABILITY_H
#define QVDEP_ANALYSIS_STATS_TAIL_PROBABILITY_H

namespace qvd::analysis {

// P(Z > z) for a standard normal Z; NaN for NaN.
double normal_upper_tail(double z);

// P(|Z| > |z|) = erfc(|z| / sqrt 2); NaN for NaN.
double normal_two_sided(double z);

// z with P(Z > z) = tail, the inverse of normal_upper_tail, as
// sqrt 2 erfc^-1(2 tail) (Boost.Math, within a few ulps); NaN outside
// (0, 1).
double normal_upper_quantile(double tail);

// P(X > x) for X chi-square with df degrees of freedom; NaN when df < 1 or
// x is NaN, 1 for x <= 0.
double chi2_upper_tail(double x, double df);

}  // namespace qvd::analysis

#endif
