// The null law of Frees' test statistic (Frees 1995, "Assessing
// cross-sectional correlation in panel data", J. Econometrics 69; Frees
// 2004, Longitudinal and Panel Data, section 8.3): for T periods
//
//   Q = a (X1 - (T - 1)) + b (X2 - T(T - 3)/2),
//   a = 4(T + 2) / (5 (T - 1)^2 (T + 1)),   b = 2(5T + 6) / (5 T (T - 1)(T + 1)),
//
// X1 ~ chi-square(T - 1) and X2 ~ chi-square(T(T - 3)/2) independent (at
// T = 3 the second term is absent).
//
// Method: a X1 and b X2 are gamma variables of shapes k1 = (T - 1)/2 and
// k2 = T(T - 3)/4 and scales s1 = 2a, s2 = 2b. A gamma variable of the
// larger scale s_l is a negative-binomial mixture of gamma variables of the
// smaller scale s_s (its moment generating function (1 - s_l u)^-k
// is the probability generating function of NB(k, r), r = s_s/s_l, at
// 1/(1 - s_s u), times (1 - s_s u)^-k):
//
//   Gamma(k, s_l) = sum_j w_j Gamma(k + j, s_s),
//   w_j = Gamma(k + j) / (Gamma(k) j!) r^k (1 - r)^j,
//
// so a X1 + b X2 is the mixture of Gamma(k1 + k2 + j, s_s) with weights w_j
// and, with c = a(T - 1) + b T(T - 3)/2,
//
//   P(Q > q) = sum_j w_j Qgamma(k1 + k2 + j, (q + c)/s_s)
//
// (Moschopoulos 1985, "The distribution of the sum of independent gamma
// random variables", Ann. Inst. Statist. Math. 37, for two terms). Every
// term is positive, so the sum loses nothing to cancellation. It runs over
// the weights around the mode of the negative binomial, from where the
// weights below add up to less than 1e-20 of the mode's weight, up to where
// those above (bounded by a geometric series, the weights being
// log-concave) add up to less than 1e-20 of the sum, since Qgamma <= 1;
// Qgamma(s + 1, x) = Qgamma(s, x) + x^s e^-x / Gamma(s + 1) and the weights
// go by their ratios, both formed afresh by Boost.Math in long double every
// 256 terms.
//
// Accuracy: the tail probability within a relative 1e-13 of mpmath's
// quadrature of the convolution at 50 digits, from 0.68 down to 3e-39 and
// T = 3 to 60 (tests/analysis/strength_test.cpp); the critical values
// solve P(Q > q) = alpha by TOMS 748 to a relative 1e-14 in q.
#ifndef QVDEP_ANALYSIS_STATS_FREES_Q_H
#define QVDEP_ANALYSIS_STATS_FREES_Q_H

namespace qvd::analysis {

// P(Q > q) for T = `periods` (3 or more); 1 below Q's least value -c, NaN
// for NaN. Throws InputError for fewer than 3 periods.
double frees_q_upper_tail(double q, int periods);

// The q with P(Q > q) = alpha, 0 < alpha < 1. Throws InputError for fewer
// than 3 periods or alpha outside (0, 1).
double frees_q_critical_value(double alpha, int periods);

}  // namespace qvd::analysis

#endif
