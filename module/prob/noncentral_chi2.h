// The noncentral chi-square distribution function F(x; df, nc) and 1 - F.
#ifndef QVDEP_PROB_NONCENTRAL_CHI2_H
#define QVDEP_PROB_NONCENTRAL_CHI2_H

namespace qvd {

// Returns 0 on success, 1 for invalid arguments or a computation that cannot
// start or complete, -1 when the sum needs 1000 terms or more.
int noncentral_chi2_cdf(double x, double df, double nc, double *cdf,
                        double *upper);

}  // namespace qvd

#endif
