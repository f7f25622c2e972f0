// The regularized incomplete gamma function P(s, x), its complement Q(s, x)
// and the gamma density x^(s-1) e^(-x) / Gamma(s).
#ifndef QVDEP_PROB_INCOMPLETE_GAMMA_H
#define QVDEP_PROB_INCOMPLETE_GAMMA_H

namespace qvd {

// Written to *lower and *upper when the computation fails.
inline constexpr double kIncompleteGammaFailed = -2.0;

// Returns 0 on success and 1 on failure; all three outputs are always
// written.
int incomplete_gamma(double x, double s, double *lower, double *upper,
                     double *density);

}  // namespace qvd

#endif
