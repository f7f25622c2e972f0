// exp_guarded: its limits and faults, and its accuracy against a quad
// precision exponential.
//
// Error model. The reduction r = k(-ln 2) + x uses one stored ln 2 (off by
// 2.3e-17) and one rounded product k ln 2 (off by up to half an ulp of it),
// so r carries an absolute error of about |k| (2.3e-17 + 0.693 * 2^-53),
// which becomes the relative error of the result: at most 0.9 |k| ulps, or
// 1.3 |x| ulps, on top of the 2 ulps of the rational form and the final
// rounding. The tests assert 2 ulps for k = 0 and 3 + 1.3 |x| beyond.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/exp_guarded.h"
#include "numeric/fault_codes.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/quad_reference.h"

namespace qvd {
namespace {

using namespace testing;

const std::vector<std::uint32_t> kOverflow{kFaultOverflow};
const std::vector<std::uint32_t> kOverflowTwice{kFaultOverflow,
                                                kFaultOverflow};

struct ExpCase {
  double x;
  double want;  // compared bit for bit; NaN by class
  std::vector<std::uint32_t> codes;
};

TEST(ExpGuarded, LimitsAndFaults) {
  const ExpCase cases[] = {
      {0.0, 1.0, kNoFaults},
      {-0.0, 1.0, kNoFaults},
      {1e-21, 1.0, kNoFaults},
      {-2.71e-20, 1.0, kNoFaults},
      {2.7105e-20, 1.0, kNoFaults},
      {-708.4, 0.0, kNoFaults},
      {-708.39641851, 0.0, kNoFaults},
      {-1000.0, 0.0, kNoFaults},
      {-kInf, 0.0, kNoFaults},
      // Raised once in exp_guarded and, resumed, once more by the scaling.
      {709.79, kInf, kOverflowTwice},
      {709.7827128934, kInf, kOverflowTwice},
      {1000.0, kInf, kOverflowTwice},
      // k does not fit in 32 bits: the same two faults and +inf.
      {1e10, kInf, kOverflowTwice},
      {1.7976931348623157e308, kInf, kOverflowTwice},
      {kInf, kInf, kOverflowTwice},
      // Below the explicit limit the scaling alone overflows.
      {709.782712893384, kInf, kOverflow},
      {std::numeric_limits<double>::quiet_NaN(),
       std::numeric_limits<double>::quiet_NaN(), kNoFaults},
  };
  for (const ExpCase &c : cases) {
    SCOPED_TRACE(c.x);
    FaultRecorder recorder;
    TrapSetting traps;
    const double got = exp_guarded(c.x);
    if (std::isnan(c.want)) {
      EXPECT_TRUE(std::isnan(got));
    } else {
      EXPECT_EQ(bits(got), bits(c.want)) << got;
    }
    EXPECT_EQ(recorder.codes(), c.codes);
  }
}

TEST(ExpGuarded, JustInsideTheLimitsIsFinite) {
  FaultRecorder recorder;
  TrapSetting traps;
  const double high = exp_guarded(709.78);
  EXPECT_GT(high, 1.79e308);
  EXPECT_LT(high, kInf);
  // Just above the lower limit the result is about the smallest normal.
  const double low = exp_guarded(-708.3964185);
  EXPECT_GT(low, 2.2e-308);
  EXPECT_LT(low, 2.3e-308);
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

double exp_error(double x) {
  double got;
  {
    TrapSetting traps;
    got = exp_guarded(x);
  }
  return testing::ulp_error(got, boost::multiprecision::exp(testing::quad(x)));
}

TEST(ExpGuarded, AccuracyAgainstQuadPrecision) {
  struct Range {
    double lo, hi;
    bool k_zero;
  };
  const Range ranges[] = {
      {-0.34657359, 0.34657359, true},  // |x| < ln(2)/2: k = 0
      {0.34657360, 20.0, false},
      {-20.0, -0.34657360, false},
      {20.0, 709.78, false},
      {-708.39, -20.0, false},
  };
  std::uint64_t seed = 100;
  for (const Range &r : ranges) {
    testing::WorstError worst{"exp_guarded [" + std::to_string(r.lo) + ", " +
                              std::to_string(r.hi) + "]"};
    double worst_per_x = 0.0;
    testing::for_grid(r.lo, r.hi, 1500, seed++, [&](double x) {
      const double err = exp_error(x);
      const double bound = r.k_zero ? 2.0 : 3.0 + 1.3 * std::fabs(x);
      EXPECT_LE(err, bound) << "x = " << x;
      worst.update(err, x);
      if (!r.k_zero) worst_per_x = std::max(worst_per_x, err / std::fabs(x));
    });
    worst.report("ulp");
    if (!r.k_zero) std::printf("    (largest error / |x|: %.3f)\n", worst_per_x);
  }
}

}  // namespace
}  // namespace qvd
