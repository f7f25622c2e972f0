// The math library wrappers: every fault case of log and ldexp with the
// code raised and the value a resumed fault yields, ldexp's clamping and
// subnormal rounding, and frexp and cbrt, which never raise.
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/fault_codes.h"
#include "numeric/math_library.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/quad_reference.h"

namespace qvd {
namespace {

using namespace testing;

constexpr double kMinSubnormal = 0x1p-1074;
constexpr double kMinNormal = 2.2250738585072014e-308;
constexpr double kMaxDouble = 1.7976931348623157e308;

// Expected results are compared bit for bit (so +0 is not -0), NaNs by
// class only.
void expect_same(double got, double want) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << got;
  } else {
    EXPECT_EQ(bits(got), bits(want)) << got << " vs " << want;
  }
}

// The worst error, in ulps, of f(x) under the trap setting against exact(x)
// in quad precision, over x = at(u) for the seeded grid points u of
// [lo, hi]; printed for the test log.
template <class At, class F, class Exact>
double worst_ulp_error(const char *range, double lo, double hi, int count, std::uint64_t seed,
                       At at, F f, Exact exact) {
  WorstError worst{range};
  for_grid(lo, hi, count, seed, [&](double u) {
    const double x = at(u);
    double got;
    {
      TrapSetting traps;
      got = f(x);
    }
    worst.update(ulp_error(got, exact(quad(x))), x);
  });
  worst.report("ulp");
  return worst.error;
}

struct LogCase {
  double x;
  double want;
  std::vector<std::uint32_t> codes;
};

TEST(LibLog, FaultRowsAndResumedValues) {
  const LogCase cases[] = {
      {0.0, -kInf, {kFaultDivideByZero}},
      {-0.0, -kInf, {kFaultDivideByZero}},
      {-1.0, kNaN, {kFaultNegativeLogarithm}},
      {-kMinSubnormal, kNaN, {kFaultNegativeLogarithm}},
      {-kMaxDouble, kNaN, {kFaultNegativeLogarithm}},
      {-kInf, kNaN, {kFaultNegativeLogarithm}},
      {kInf, kInf, {}},
      {kNaN, kNaN, {}},
      {-kNaN, kNaN, {}},
      {1.0, 0.0, {}},
  };
  for (const LogCase &c : cases) {
    SCOPED_TRACE(c.x);
    FaultRecorder recorder;
    TrapSetting traps;
    const double got = lib_log(c.x);
    expect_same(got, c.want);
    EXPECT_EQ(recorder.codes(), c.codes);
  }
}

TEST(LibLog, AccurateOnPositiveNumbers) {
  const double worst = worst_ulp_error(
      "lib_log over 2^-1074 .. 2^1024", -1074.0, 1023.99, 1000, 11,
      [](double e) { return std::exp2(e); }, lib_log,
      [](const quad &x) { return quad(boost::multiprecision::log(x)); });
  EXPECT_LE(worst, 1.0);
}

// The accuracy the module can count on from the C library's cube root
// (glibc's reaches 3.2 ulps on a scan of two million arguments).
constexpr double kCbrtUlps = 4.0;

struct LdexpCase {
  double v;
  int n;
  double want;
  std::vector<std::uint32_t> codes;
};

TEST(LibLdexp, EveryRuleOfTheTable) {
  const LdexpCase cases[] = {
      // Zeros, infinities and NaN come back unchanged, whatever n.
      {0.0, 5, 0.0, {}},
      {-0.0, 5, -0.0, {}},
      {-0.0, -5000, -0.0, {}},
      {kInf, -100000, kInf, {}},
      {-kInf, INT_MAX, -kInf, {}},
      {kNaN, 7, kNaN, {}},
      {kNaN, INT_MIN, kNaN, {}},
      // Ordinary scaling is exact.
      {1.5, 10, 1536.0, {}},
      {-3.0, -2, -0.75, {}},
      {0.75, 0, 0.75, {}},
      {0x1.fffffffffffffp-1, 1024, kMaxDouble, {}},
      // Overflow raises and yields a signed infinity.
      {1.0, 1024, kInf, {kFaultOverflow}},
      {-1.0, 1024, -kInf, {kFaultOverflow}},
      {0.5, 1025, kInf, {kFaultOverflow}},
      {kMaxDouble, 1, kInf, {kFaultOverflow}},
      {kMinSubnormal, 2098, kInf, {kFaultOverflow}},
      {kMinSubnormal, 2097, 0x1p1023, {}},
      // n is clamped to [-65536, 65536] first; the extreme ints must not
      // overflow the exponent arithmetic.
      {1.0, INT_MAX, kInf, {kFaultOverflow}},
      {-kMinSubnormal, INT_MAX, -kInf, {kFaultOverflow}},
      {1.0, 65537, kInf, {kFaultOverflow}},
      {kMaxDouble, INT_MIN, 0.0, {}},
      {1.0, -65537, 0.0, {}},
      // Too small even for a subnormal: +0 whatever the sign.
      {1.0, -1076, 0.0, {}},
      {-1.0, -1076, 0.0, {}},
      {-1.0, -1075, 0.0, {}},  // exactly half the smallest subnormal: even
      {-kMaxDouble, -3000, 0.0, {}},
      // A non-zero subnormal scaled down is +0, even when exact.
      {kMinSubnormal, -1, 0.0, {}},
      {4 * kMinSubnormal, -1, 0.0, {}},
      {-0x1p-1030, -1, 0.0, {}},
      // A subnormal scaled up is exact.
      {kMinSubnormal, 1074, 1.0, {}},
      {-3 * kMinSubnormal, 1, -6 * kMinSubnormal, {}},
      // Subnormal results are rounded to nearest, ties to even.
      {kMinNormal, -1, 0x1p-1023, {}},
      {1.5, -1074, 2 * kMinSubnormal, {}},
      {2.5, -1074, 2 * kMinSubnormal, {}},
      {1.25, -1074, kMinSubnormal, {}},
      {-1.75, -1074, -2 * kMinSubnormal, {}},
      {0x1.0000000000001p0, -1075, kMinSubnormal, {}},
      {0x1.fffffffffffffp-1, -1022, kMinNormal, {}},  // tie, up to even
      {0x1.ffffffffffffep-1, -1022, 0x0.fffffffffffffp-1022, {}},
  };
  for (const LdexpCase &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.v << " * 2^" << c.n);
    FaultRecorder recorder;
    TrapSetting traps;
    const double got = lib_ldexp(c.v, c.n);
    expect_same(got, c.want);
    EXPECT_EQ(recorder.codes(), c.codes);
  }
}

TEST(LibLdexp, SmallestNormalHalvedIsTheSubnormalHalf) {
  TrapSetting traps;
  const double got = lib_ldexp(2.2250738585072014e-308, -1);
  EXPECT_EQ(got, 1.1125369292536007e-308);
  EXPECT_EQ(bits(got), 0x0008000000000000ull);
}

TEST(LibFrexp, SplitsAndNeverRaises) {
  struct Case {
    double x;
    double fraction;
    int exponent;
  };
  const Case cases[] = {
      {1.0, 0.5, 1},           {-3.0, -0.75, 2},
      {0.1, 0.8, -3},          {kMaxDouble, 0x1.fffffffffffffp-1, 1024},
      {kMinNormal, 0.5, -1021}, {kMinSubnormal, 0.5, -1073},
      {-3 * kMinSubnormal, -0.75, -1072},
      {0.0, 0.0, 0},           {-0.0, -0.0, 0},
      {kInf, kInf, 0},         {-kInf, -kInf, 0},
      {kNaN, kNaN, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    FaultRecorder recorder;
    TrapSetting traps;
    int e = 12345;
    const double f = lib_frexp(c.x, &e);
    expect_same(f, c.fraction);
    EXPECT_EQ(e, c.exponent);
    EXPECT_EQ(recorder.codes(), kNoFaults);
  }
}

TEST(LibCbrt, RealRootNeverRaises) {
  struct Case {
    double x;
    double root;
  };
  // The C library's cube root is not correctly rounded (cbrt(27) comes out
  // one ulp above 3), so exact results are required only where no
  // rounding happens at all.
  const Case cases[] = {{0.0, 0.0},   {-0.0, -0.0},   {kInf, kInf},
                        {-kInf, -kInf}, {kNaN, kNaN}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    FaultRecorder recorder;
    TrapSetting traps;
    expect_same(lib_cbrt(c.x), c.root);
    EXPECT_EQ(recorder.codes(), kNoFaults);
  }
  for (const double x : {27.0, -27.0, 0.125, -8.0, 0x1p-1074, -0x1p-1071}) {
    double got;
    {
      FaultRecorder recorder;
      TrapSetting traps;
      got = lib_cbrt(x);
      EXPECT_EQ(recorder.codes(), kNoFaults);
    }
    EXPECT_LE(testing::ulp_error(got, boost::multiprecision::cbrt(
                                          testing::quad(x))),
              kCbrtUlps)
        << x;
    EXPECT_EQ(std::signbit(got), std::signbit(x));
  }
  const double worst = worst_ulp_error(
      "lib_cbrt over +-[1e-300, 1e300]", -690.0, 690.0, 500, 12,
      [](double l) { return (l < 0 ? -1.0 : 1.0) * std::exp(std::fabs(l)); }, lib_cbrt,
      [](const quad &x) { return quad(boost::multiprecision::cbrt(x)); });
  EXPECT_LE(worst, kCbrtUlps);
}

}  // namespace
}  // namespace qvd
