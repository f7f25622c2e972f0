// Quad-precision references for the incomplete gamma and noncentral
// chi-square tests, and the error bookkeeping they share.
//
// The references run in software floating point (113-bit significands), so
// they are evaluated outside the trap setting; only the module calls run
// under it.
#ifndef QVDEP_TESTS_PROB_GAMMA_REFERENCE_H
#define QVDEP_TESTS_PROB_GAMMA_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <boost/math/distributions/non_central_chi_squared.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/multiprecision/cpp_bin_float.hpp>

namespace qvd::testing {

using Quad = boost::multiprecision::cpp_bin_float_quad;

struct GammaReference {
  double lower;    // P(s, x)
  double upper;    // Q(s, x)
  double density;  // x^(s-1) e^(-x) / Gamma(s)
};

// With tails = false only the density is evaluated (its tails are left 0):
// far from the centre at shapes of 1e9 the reference's own series would not
// converge.
inline GammaReference gamma_reference(double x, double s, bool tails = true) {
  const Quad qs(s);
  const Quad qx(x);
  GammaReference ref{0.0, 0.0,
                     static_cast<double>(boost::math::gamma_p_derivative(qs, qx))};
  if (tails) {
    ref.lower = static_cast<double>(boost::math::gamma_p(qs, qx));
    ref.upper = static_cast<double>(boost::math::gamma_q(qs, qx));
  }
  return ref;
}

struct Chi2Reference {
  double cdf;
  double upper;
};

inline Chi2Reference noncentral_chi2_reference(double x, double df,
                                               double nc) {
  const boost::math::non_central_chi_squared_distribution<Quad> dist{
      Quad(df), Quad(nc)};
  const Quad qx(x);
  return {static_cast<double>(cdf(dist, qx)),
          static_cast<double>(cdf(complement(dist, qx)))};
}

// Below this a reference value counts as underflowed: the module's
// exponential gives 0 under about 2.2e-308, and results near that limit are
// subnormal, so only the absolute error is meaningful.
inline constexpr double kUnderflowFloor = 1e-300;

// Relative error of v against ref; against an underflowed reference, the
// absolute error scaled so that anything at or below the floor counts as
// exact.
inline double relative_error(double v, double ref) {
  const double diff = std::fabs(v - ref);
  if (ref < kUnderflowFloor) return diff <= kUnderflowFloor ? 0.0 : diff;
  return diff / ref;
}

// The largest error seen over a range, with the arguments where it occurred.
struct WorstError {
  double error = 0.0;
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;

  void note(double e, double a_arg, double b_arg, double c_arg = 0.0) {
    if (e > error) {
      error = e;
      a = a_arg;
      b = b_arg;
      c = c_arg;
    }
  }
};

// One line per function and range, so the figures can be read off the
// test output.
inline void print_worst(const std::string &what, const WorstError &w,
                        double bound) {
  std::printf("[ worst    ] %-52s %.3e (bound %.1e) at (%.17g, %.17g, %.17g)\n",
              what.c_str(), w.error, bound, w.a, w.b, w.c);
}

}  // namespace qvd::testing

#endif
