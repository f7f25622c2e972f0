// Phi(x), the standard normal distribution function, from Cody's rational
// Chebyshev approximations of erf and erfc.
#ifndef QVDEP_PROB_NORMAL_CDF_H
#define QVDEP_PROB_NORMAL_CDF_H

namespace qvd {

double normal_cdf(double x);

}  // namespace qvd

#endif
