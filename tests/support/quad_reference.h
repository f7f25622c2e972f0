// Quad-precision references for the accuracy tests of the elementary and
// special functions, and error measures in units of the last place.
//
// The references come from Boost.Math evaluated in 113-bit binary floating
// point, an implementation independent of the module's kernels. Errors are
// measured against the unrounded reference, so a correctly rounded double
// shows an error of at most 0.5.
#ifndef QVDEP_TESTS_PROB_QUAD_REFERENCE_H
#define QVDEP_TESTS_PROB_QUAD_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include <boost/multiprecision/cpp_bin_float.hpp>

namespace qvd::testing {

using quad = boost::multiprecision::cpp_bin_float_quad;

// The spacing of doubles at |ref|: 2^(e - 53) for |ref| in [2^(e-1), 2^e),
// never below the subnormal spacing 2^-1074.
inline quad ulp_at(const quad &ref) {
  int e = 0;
  boost::multiprecision::frexp(boost::multiprecision::abs(ref), &e);
  return boost::multiprecision::ldexp(quad(1), std::max(e - 53, -1074));
}

// |got - ref| in units of the last place at ref.
inline double ulp_error(double got, const quad &ref) {
  if (ref == 0) return got == 0.0 ? 0.0 : HUGE_VAL;
  return static_cast<double>(boost::multiprecision::abs(quad(got) - ref) /
                             ulp_at(ref));
}

// |got - ref| in units of 2^-52 (an ulp of 1): absolute error for values
// that pass through zero.
inline double abs_error_eps(double got, const quad &ref) {
  return static_cast<double>(boost::multiprecision::abs(quad(got) - ref) *
                             boost::multiprecision::ldexp(quad(1), 52));
}

// Worst error over a range, with the argument where it occurred; prints a
// line for the test log.
struct WorstError {
  std::string range;
  double error = 0.0;
  double at = 0.0;

  void update(double err, double x) {
    if (err > error || std::isnan(err)) {
      error = err;
      at = x;
    }
  }
  void report(const char *unit) const {
    std::printf("  worst %-44s %10.3f %s at %.17g\n", range.c_str(), error,
                unit, at);
  }
};

// Uniformly spread and seeded points of [lo, hi], both ends included.
template <class F>
void for_grid(double lo, double hi, int count, std::uint64_t seed, F &&f) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  f(lo);
  f(hi);
  for (int i = 0; i < count; ++i) f(dist(gen));
}

}  // namespace qvd::testing

#endif
