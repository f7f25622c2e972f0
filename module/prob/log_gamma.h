// ln Gamma(x) and the tail of Stirling's series.
#ifndef QVDEP_PROB_LOG_GAMMA_H
#define QVDEP_PROB_LOG_GAMMA_H

namespace qvd {

// Returned by log_gamma for x <= 2.225073858507202e-308.
inline constexpr double LGAMMA_DOMAIN = -99.0;

double log_gamma(double x);

// 1/(12x) - 1/(360x^3) + ... - 691/(360360x^11); callers pass x >= 10.
double stirling_correction(double x);

}  // namespace qvd

#endif
