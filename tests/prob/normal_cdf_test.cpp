// normal_cdf: special values, saturation at both ends, the near-symmetry of
// the two halves, and accuracy range by range against quad-precision erf and
// erfc from Boost.Math.
//
// Error model. In the upper half the result is (1 + erf)/2 rounded against
// 1: within 2 ulps. In the lower half beyond |x/sqrt 2| = 0.46875 the result
// is erfc(y)/2 with y = 0.7071067811865476 x rounded (relative error 2^-53,
// which erfc turns into 2 y^2 2^-53) and e^(-y^2) taken from one rounded
// square (y^2 2^-53) through exp_guarded (whose reduction adds up to
// 0.9 k = 1.3 y^2 ulps). The kernels themselves (measured at the rounded
// argument) are held to 4 + 2.5 y^2 ulps and Phi to 4 + 4.5 y^2 ulps, in
// units of the result's last place.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <boost/math/constants/constants.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <gtest/gtest.h>

#include "prob/normal_cdf.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/quad_reference.h"

namespace qvd {
namespace {

using namespace testing;

constexpr double kInvSqrt2 = 0.7071067811865476;  // as the module rounds x

double phi(double x) {
  TrapSetting traps;
  return normal_cdf(x);
}

// Phi(x) to quad precision.
quad phi_exact(double x) {
  const quad v = quad(x) * boost::math::constants::one_div_root_two<quad>();
  return boost::math::erfc(-v) / 2;
}

TEST(NormalCdf, SpecialValues) {
  struct Case {
    double x;
    double want;
  };
  const Case cases[] = {
      {0.0, 0.5},      {-0.0, 0.5},     {1e-300, 0.5},  {-1e-300, 0.5},
      {1e-17, 0.5},    {-1e-17, 0.5},   {kInf, 1.0},    {-kInf, 0.0},
      {1e300, 1.0},    {-1e300, 0.0},   {40.0, 1.0},    {-40.0, 0.0},
  };
  FaultRecorder recorder;
  for (const Case &c : cases) {
    EXPECT_EQ(bits(phi(c.x)), bits(c.want)) << c.x;
  }
  EXPECT_TRUE(std::isnan(phi(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(phi(-std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

TEST(NormalCdf, UpperHalfSaturatesAtOne) {
  EXPECT_LT(phi(8.0), 1.0);
  EXPECT_EQ(phi(8.3), 1.0);
  // From 8.3 on every argument gives exactly 1.
  testing::for_grid(8.3, 1003.0 * std::sqrt(2.0) + 10.0, 500, 3, [](double x) {
    EXPECT_EQ(phi(x), 1.0) << x;
  });
}

// erfc(y) below the smallest normal double makes the halving give +0; the
// tail kernel's own exponential limit does so from about x = -37.64.
TEST(NormalCdf, LowerTailReachesZero) {
  FaultRecorder recorder;
  testing::for_grid(-1e6, -37.64, 500, 4, [](double x) {
    EXPECT_EQ(bits(phi(x)), 0u) << x;
  });
  const quad smallest_normal = quad(2.2250738585072014e-308);
  int zeros = 0;
  int subnormals = 0;
  testing::for_grid(-37.64, -37.5, 500, 5, [&](double x) {
    const double got = phi(x);
    const quad twice = 2 * phi_exact(x);
    if (twice < smallest_normal * (1 - quad(1e-11))) {
      EXPECT_EQ(bits(got), 0u) << x;
    } else if (twice > smallest_normal * (1 + quad(1e-11))) {
      EXPECT_GT(got, 0.0) << x;
      // Relative error as in the tail, in units of a normal ulp.
      const quad rel = boost::multiprecision::abs(quad(got) / (twice / 2) - 1);
      EXPECT_LT(rel, quad(4 + 4.5 * 710) * quad(0x1p-52)) << x;
    }
    if (got == 0.0) ++zeros;
    if (got > 0.0 && got < 2.2250738585072014e-308) ++subnormals;
  });
  EXPECT_GT(zeros, 0);
  EXPECT_GT(subnormals, 0);
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

TEST(NormalCdf, HalvesAlmostSymmetric) {
  testing::WorstError worst{"|Phi(x) + Phi(-x) - 1|, 0 <= x <= 6"};
  testing::for_grid(0.0, 6.0, 3000, 6, [&](double x) {
    const quad sum = quad(phi(x)) + quad(phi(-x));
    const double off = testing::abs_error_eps(0.0, sum - 1);
    EXPECT_LE(off, 1.0) << x;
    worst.update(off, x);
  });
  worst.report("ulp of 1");
}

struct PhiRange {
  const char *name;
  double lo, hi;  // in x
  bool lower_tail;  // error grows with y^2
};

// Every range boundary of y = |x|/sqrt 2 (0.46875 and 4) lies on a range
// end, and the doubles right around it are included.
const PhiRange kRanges[] = {
    {"upper, y <= 0.46875 (erf kernel)", 1e-300, 0.6629126073623883, false},
    {"upper, 0.46875 < y <= 4 (middle)", 0.6629126073623883,
     5.656854249492381, false},
    {"upper, 4 < y, until 1 (tail)", 5.656854249492381, 8.3, false},
    {"lower, y <= 0.46875 (1 - erf)", -0.6629126073623883, -1e-300, false},
    {"lower, 0.46875 < y <= 4 (middle)", -5.656854249492381,
     -0.6629126073623883, true},
    {"lower, 4 < y <= 26.5 (tail)", -37.5, -5.656854249492381, true},
};

template <class F>
void for_range(const PhiRange &r, std::uint64_t seed, F &&f) {
  testing::for_grid(r.lo, r.hi, 2000, seed, f);
  for (const double end : {r.lo, r.hi}) {
    double below = end;
    double above = end;
    for (int i = 0; i < 8; ++i) {
      below = std::nextafter(below, -kInf);
      above = std::nextafter(above, kInf);
      if (below >= r.lo) f(below);
      if (above <= r.hi) f(above);
    }
  }
}

TEST(NormalCdf, AccuracyAgainstQuadPrecision) {
  FaultRecorder recorder;
  std::uint64_t seed = 200;
  for (const PhiRange &r : kRanges) {
    testing::WorstError worst{std::string("Phi ") + r.name};
    testing::WorstError worst_kernel{std::string("kernel ") + r.name};
    for_range(r, seed++, [&](double x) {
      const double got = phi(x);
      const double y = std::fabs(kInvSqrt2 * x);
      const double err = testing::ulp_error(got, phi_exact(x));
      EXPECT_LE(err, r.lower_tail ? 4.0 + 4.5 * y * y : 2.0) << x;
      worst.update(err, x);
      // The same against the function at the argument the module rounds to:
      // what is left is the error of the kernels and of e^(-y^2).
      const double v = kInvSqrt2 * x;
      const quad at_v = x > 0 ? 1 - boost::math::erfc(quad(v)) / 2
                              : boost::math::erfc(-quad(v)) / 2;
      const double kerr = testing::ulp_error(got, at_v);
      EXPECT_LE(kerr, r.lower_tail ? 4.0 + 2.5 * y * y : 2.0) << x;
      worst_kernel.update(kerr, x);
    });
    worst.report("ulp");
    worst_kernel.report("ulp");
  }
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

}  // namespace
}  // namespace qvd
