// log_gamma and stirling_correction: the domain value, the exact zeros, the
// half-integer and integer paths, and accuracy range by range against
// Boost.Math's quad-precision lgamma.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <boost/math/special_functions/gamma.hpp>
#include <gtest/gtest.h>

#include "prob/log_gamma.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/quad_reference.h"

namespace qvd {
namespace {

using namespace testing;

constexpr double kLnGammaHalf3 = -0.12078223763524522;

double lgam(double x) {
  TrapSetting traps;
  return log_gamma(x);
}

quad lgam_exact(double x) { return boost::math::lgamma(quad(x)); }

TEST(LogGamma, DomainValue) {
  FaultRecorder recorder;
  // The limit itself, one ulp above the smallest normal, is refused too.
  const double limit = std::nextafter(2.2250738585072014e-308, 1.0);
  for (const double x : {0.0, -0.0, -3.5, -1.0, -kInf, 0x1p-1074,
                         2.2250738585072014e-308, limit, -1e300}) {
    EXPECT_EQ(lgam(x), LGAMMA_DOMAIN) << x;
  }
  const double first = std::nextafter(limit, 1.0);
  EXPECT_LE(testing::ulp_error(lgam(first), lgam_exact(first)), 1.0);
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

TEST(LogGamma, ExactZerosAtOneAndTwo) {
  for (const double x : {1.0, 2.0, 1.0 - 0x1p-53}) {
    EXPECT_EQ(bits(lgam(x)), 0u) << x;
  }
  // Just outside the tolerance the rational forms take over, with the
  // right sign and relative accuracy.
  for (const double x : {1.0 + 0x1p-52, 1.0 - 0x1p-52, 2.0 + 0x1p-51,
                         2.0 - 0x1p-52, 1.0 + 0x1p-40, 2.0 - 0x1p-40}) {
    const double got = lgam(x);
    EXPECT_NE(got, 0.0) << x;
    EXPECT_LE(testing::ulp_error(got, lgam_exact(x)), 4.0) << x;
  }
}

TEST(LogGamma, HalfIntegersTakeTheStoredValueOfLnGammaOfThreeHalves) {
  EXPECT_EQ(bits(lgam(1.5)), bits(kLnGammaHalf3));
  EXPECT_EQ(lgam(0.5), std::log(2.0) + kLnGammaHalf3);
  double product = 1.0;
  for (double b = 9.5; b >= 1.5; b -= 1.0) product *= b;
  EXPECT_EQ(lgam(10.5), std::log(product) + kLnGammaHalf3);
  for (double x = 0.5; x < 15.0; x += 1.0) {
    EXPECT_LE(testing::ulp_error(lgam(x), lgam_exact(x)), 2.0) << x;
  }
}

TEST(LogGamma, IntegersBelowFifteenAreLogFactorials) {
  double factorial = 1.0;  // (n - 1)!, exact up to 13!
  for (int n = 3; n <= 14; ++n) {
    factorial *= n - 1;
    EXPECT_EQ(lgam(n), std::log(factorial)) << n;
  }
  EXPECT_EQ(lgam(3.0), std::log(2.0));
}

TEST(LogGamma, BothSidesOfTheStirlingSwitch) {
  for (const double x : {14.999, std::nextafter(15.0, 0.0), 15.0,
                         std::nextafter(15.0, 16.0)}) {
    EXPECT_LE(testing::ulp_error(lgam(x), lgam_exact(x)), 3.0) << x;
  }
}

TEST(LogGamma, NotANumberAndInfinity) {
  FaultRecorder recorder;
  EXPECT_TRUE(std::isnan(lgam(kNaN)));
  EXPECT_EQ(lgam(kInf), kInf);
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

// ln Gamma(x) - ((x - 1/2) ln x - x + ln sqrt(2 pi)) to quad precision.
quad stirling_exact(double x) {
  const quad q(x);
  return boost::math::lgamma(q) -
         ((q - quad(0.5)) * boost::multiprecision::log(q) - q +
          boost::multiprecision::log(
              boost::math::constants::root_two_pi<quad>()));
}

TEST(StirlingCorrection, AtTenWithinAnUlpOfLnGamma) {
  const double got = stirling_correction(10.0);
  const quad exact = stirling_exact(10.0);
  // In units of the last place of ln Gamma(10) = 12.80.
  EXPECT_LE(testing::ulp_error(got, exact) *
                static_cast<double>(testing::ulp_at(exact) /
                                    testing::ulp_at(lgam_exact(10.0))),
            1.0);
}

// The series stops at x^-11; the first omitted term is 1/(156 x^13). Beyond
// that, 1/x, its square and the leading product and sum are rounded once
// each, and 1/12 is stored with a third of an ulp of error: 3 ulps.
TEST(StirlingCorrection, AccuracyAgainstQuadPrecision) {
  // Up to 1e5, where quad-precision ln Gamma still resolves the correction.
  testing::WorstError worst{"stirling_correction [20, 1e5]"};
  testing::for_grid(std::log(10.0), std::log(1e5), 1000, 300, [&](double l) {
    const double x = std::exp(l);
    const double got = stirling_correction(x);
    const quad exact = stirling_exact(x);
    const double truncation =
        static_cast<double>(quad(1) / (156 * boost::multiprecision::pow(
                                                 quad(x), 13)) /
                            testing::ulp_at(exact));
    const double err = testing::ulp_error(got, exact);
    EXPECT_LE(err, 3.0 + 1.01 * truncation) << x;
    if (x >= 20.0) worst.update(err, x);
  });
  for (const double x : {20.0, 21.5, 30.0, 50.0}) {
    worst.update(testing::ulp_error(stirling_correction(x), stirling_exact(x)),
                 x);
  }
  worst.report("ulp");
  EXPECT_LE(worst.error, 3.0);
}

struct LgammaRange {
  const char *name;
  double lo, hi;
  bool log_spaced;
  double bound;
  bool absolute;  // error in units of 2^-52 rather than ulps of the value
};

// Ranges by the method: reduction from below 1, the two rational forms on
// [1, 2] (switch at 1.5), upward reduction below 15, Stirling from 15.
const LgammaRange kRanges[] = {
    {"(0, 1e-8], -ln x dominates", 2.3e-308, 1e-8, true, 1.0, false},
    {"[1e-8, 0.5], reduced by 1/x", 1e-8, 0.5, true, 3.0, false},
    // b = x + 1 is rounded, so near the zero at 1 only the absolute error
    // is small.
    {"[0.5, 1), reduced by 1/x (absolute)", 0.5, 1.0 - 0x1p-52, false, 1.5,
     true},
    {"(1, 1.5), rational about 1", 1.0 + 0x1p-52, 1.5, false, 4.0, false},
    // Near b = 1.5 the Horner sums of N2 and D2 cancel by factors of about
    // 5 and 2.4 (z = -0.5): about 9 ulps of ln Gamma ~ -0.12, though under
    // 2^-52 in absolute terms.
    {"[1.5, 2), rational about 2", 1.5, 2.0 - 0x1p-52, false, 12.0, false},
    // ln a and ln Gamma(b) cancel near 2 by a factor 1/(1 - gamma).
    {"(2, 3), reduced once", 2.0 + 0x1p-51, 3.0, false, 6.0, false},
    {"[3, 15), reduced", 3.0, 15.0 - 0x1p-49, false, 3.0, false},
    {"[15, 1e6], Stirling", 15.0, 1e6, true, 3.0, false},
    {"[1e6, 1e300], Stirling", 1e6, 1e300, true, 2.0, false},
};

TEST(LogGamma, AccuracyAgainstQuadPrecision) {
  FaultRecorder recorder;
  std::uint64_t seed = 400;
  for (const LgammaRange &r : kRanges) {
    testing::WorstError worst{r.name};
    const auto check = [&](double x) {
      const double got = lgam(x);
      const quad exact = lgam_exact(x);
      const double err = r.absolute ? testing::abs_error_eps(got, exact)
                                    : testing::ulp_error(got, exact);
      EXPECT_LE(err, r.bound) << x;
      worst.update(err, x);
    };
    if (r.log_spaced) {
      testing::for_grid(std::log(r.lo), std::log(r.hi), 1000, seed++,
                        [&](double l) {
                          check(std::min(std::max(std::exp(l), r.lo), r.hi));
                        });
    } else {
      testing::for_grid(r.lo, r.hi, 1000, seed++, check);
    }
    worst.report(r.absolute ? "x 2^-52" : "ulp");
  }
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

}  // namespace
}  // namespace qvd
