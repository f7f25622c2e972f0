// Tests of the regularized incomplete gamma function against quad-precision
// references, its failure values and the identities it must keep.
#include "prob/incomplete_gamma.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric/fault_codes.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "gamma_reference.h"

namespace qvd {
namespace {

using namespace testing;

struct Result {
  int rc;
  double lower;
  double upper;
  double density;
};

// Calls the module under the host's trap setting; the outputs start out as
// a recognisable garbage value so that a missing write shows. No argument
// used here may raise a fault.
Result call(double x, double s) {
  Result r{7, 123.0, 123.0, 123.0};
  testing::FaultRecorder faults;
  {
    TrapSetting traps;
    r.rc = incomplete_gamma(x, s, &r.lower, &r.upper, &r.density);
  }
  EXPECT_TRUE(faults.codes().empty()) << "x = " << x << ", s = " << s;
  return r;
}

struct Point {
  double x;
  double s;
};

// A range of arguments that exercises one method (or one side of a method
// boundary), with the relative error bounds it is held to.
struct AccuracyRange {
  std::string name;
  std::vector<Point> points;
  double lower_bound;    // relative error of P
  double upper_bound;    // relative error of Q
  double density_bound;  // relative error of the density
};

std::vector<Point> grid(const std::vector<double> &shapes,
                        const std::function<std::vector<double>(double)> &xs) {
  std::vector<Point> points;
  for (double s : shapes) {
    for (double x : xs(s)) points.push_back({x, s});
  }
  return points;
}

std::vector<double> scaled(double s, const std::vector<double> &ratios) {
  std::vector<double> xs;
  for (double r : ratios) xs.push_back(s * r);
  return xs;
}

// The bounds are a small margin above the worst errors measured. They grow
// with the shape because the log-density is a difference of terms of size
// about s ln x (or s, in the Stirling form), each rounded to its last place.
// Where a bound is loose on one side it is because that side is formed as 1
// minus the other, or, for shapes far below 1, because s + 1 keeps only
// about 16 + log10(s) digits of s.
std::vector<AccuracyRange> accuracy_ranges() {
  const std::vector<double> small_shapes = {0.1, 0.25, 0.5, 0.75, 0.9, 0.999};
  const std::vector<double> tiny_shapes = {1e-8, 1e-5, 1e-3, 0.01, 0.05};
  const std::vector<double> low_shapes = {1.0, 1.5, 2.0, 3.7, 5.0, 9.99};
  const std::vector<double> mid_shapes = {10.0, 10.5, 25.0, 99.5, 333.3,
                                          999.5};
  const std::vector<double> large_shapes = {3e3, 1e4, 3.3e4, 1e5};
  const std::vector<double> huge_shapes = {1e9};

  // Lower tail with the shift: x at or below s + 1, or at most 1.
  auto shifted_lower = [](double s) {
    return std::vector<double>{1e-12, 1e-6, 1e-3, 0.05,         0.3,
                               0.7,   1.0,  1.0 + s / 2, s + 1.0};
  };
  // Upper tail with the shift: x above s + 1.
  auto shifted_upper = [](double s) {
    return std::vector<double>{std::nextafter(s + 1.0, 2.0 * (s + 1.0)),
                               1.01 * (s + 1.0), 2.5, 4.0, 8.0, 20.0, 60.0,
                               200.0, 700.0};
  };
  auto series_low = [](double s) {
    std::vector<double> xs = scaled(s, {1e-4, 0.01, 0.3, 0.7, 0.9, 1.0});
    xs.push_back(1.0);  // x <= 1 takes the lower tail whatever the shape
    return xs;
  };
  auto fraction_low = [](double s) {
    std::vector<double> xs = scaled(s, {1.001, 1.3, 2.0, 5.0, 20.0});
    xs.push_back(std::nextafter(s, 2.0 * s));
    xs.push_back(std::nextafter(1.0, 2.0) + s);
    xs.push_back(700.0);
    return xs;
  };
  // Around both sides of the switch to the Stirling form at |x/s - 1| = 0.3.
  auto series_mid = [](double s) {
    return scaled(s, {0.01, 0.3, 0.69999, 0.7, 0.70001, 0.8, 0.95, 0.99, 1.0});
  };
  auto fraction_mid = [](double s) {
    std::vector<double> xs =
        scaled(s, {1.01, 1.1, 1.29999, 1.3, 1.30001, 1.6, 2.5, 5.0});
    xs.push_back(std::nextafter(s, 2.0 * s));
    return xs;
  };
  auto series_large = [](double s) {
    return scaled(s, {0.5, 0.7, 0.8, 0.9, 0.95, 0.97});
  };
  auto fraction_large = [](double s) {
    return scaled(s, {1.01, 1.02, 1.05, 1.1, 1.3, 1.5, 2.0});
  };
  // The normal approximation: x within 0.7 sqrt(s) + 0.02 s of s.
  auto normal_band = [](double s) {
    std::vector<double> xs;
    for (double c : {-8.0, -5.0, -3.0, -1.0, -0.3, 0.0, 0.3, 1.0, 3.0, 5.0,
                     8.0}) {
      xs.push_back(s + c * std::sqrt(s));
    }
    return xs;
  };

  return {
      {"shape in [0.1, 1), lower tail (shifted series)",
       grid(small_shapes, shifted_lower), 2e-14, 2e-14, 2e-14},
      {"shape in [0.1, 1), upper tail (shifted fraction)",
       grid(small_shapes, shifted_upper), 4e-15, 1e-10, 1e-13},
      {"shape in [1e-8, 0.1), lower tail (shifted series)",
       grid(tiny_shapes, shifted_lower), 1e-14, 1e-6, 5e-8},
      // Q(s, x) = Q(s + 1, x) - d cancels: Q(s, x) is about d s/x, so the
      // error of Q(s + 1, x) grows by about x/s (2e10 at s = 1e-8, x = 200).
      {"shape in [1e-8, 0.1), upper tail (shifted fraction)",
       grid(tiny_shapes, shifted_upper), 4e-15, 1e-3, 5e-8},
      {"shape in [1, 10), lower tail (series)", grid(low_shapes, series_low),
       2e-14, 1e-14, 1e-14},
      {"shape in [1, 10), upper tail (fraction)",
       grid(low_shapes, fraction_low), 1e-14, 5e-13, 5e-13},
      {"shape in [10, 1000), lower tail (series)",
       grid(mid_shapes, series_mid), 5e-12, 5e-12, 5e-12},
      {"shape in [10, 1000), upper tail (fraction)",
       grid(mid_shapes, fraction_mid), 5e-12, 5e-12, 5e-12},
      {"shape in [3e3, 1e5], lower tail (series)",
       grid(large_shapes, series_large), 5e-11, 5e-11, 5e-11},
      {"shape in [3e3, 1e5], upper tail (fraction)",
       grid(large_shapes, fraction_large), 5e-11, 5e-11, 5e-11},
      // The tails come from the normal approximation, the density from e^l
      // with l accurate to a few units of the last place of s.
      {"shape 1e9, normal approximation", grid(huge_shapes, normal_band),
       5e-10, 5e-10, 1e-6},
  };
}

TEST(IncompleteGammaAccuracy, AgreesWithQuadPrecisionReference) {
  for (const AccuracyRange &range : accuracy_ranges()) {
    SCOPED_TRACE(range.name);
    WorstError worst_lower, worst_upper, worst_density;
    for (const Point &p : range.points) {
      const Result r = call(p.x, p.s);
      ASSERT_EQ(r.rc, 0) << "x = " << p.x << ", s = " << p.s;
      const auto ref = gamma_reference(p.x, p.s);
      const double e_lower = relative_error(r.lower, ref.lower);
      const double e_upper = relative_error(r.upper, ref.upper);
      const double e_density = relative_error(r.density, ref.density);
      worst_lower.note(e_lower, p.x, p.s);
      worst_upper.note(e_upper, p.x, p.s);
      worst_density.note(e_density, p.x, p.s);
      EXPECT_LE(e_lower, range.lower_bound)
          << "P at x = " << p.x << ", s = " << p.s << ": " << r.lower
          << " vs " << ref.lower;
      EXPECT_LE(e_upper, range.upper_bound)
          << "Q at x = " << p.x << ", s = " << p.s << ": " << r.upper
          << " vs " << ref.upper;
      EXPECT_LE(e_density, range.density_bound)
          << "density at x = " << p.x << ", s = " << p.s << ": " << r.density
          << " vs " << ref.density;
    }
    print_worst("P, " + range.name, worst_lower, range.lower_bound);
    print_worst("Q, " + range.name, worst_upper, range.upper_bound);
    print_worst("density, " + range.name, worst_density, range.density_bound);
  }
}

// Outside the band of the normal approximation at shapes of 1e9 and more
// the continued fractions serve, and every tail there lies far below the
// double range. The reference series does not reach these points, so the
// tail is bounded instead through the density d: the terms of the series
// for P fall at least by x/s each, so P <= d x/(s - x) below the shape, and
// likewise Q <= d x/(x - s + 1) above it.
TEST(IncompleteGammaAccuracy, ContinuedFractionsAtHugeShapes) {
  for (double s : {1e9, 3.7e9}) {
    const double edge = 0.7 * std::sqrt(s) + 0.02 * s;
    for (double x : {0.5 * s, s - edge * 1.000001, s + edge * 1.000001,
                     1.5 * s, 3.0 * s}) {
      const Result r = call(x, s);
      ASSERT_EQ(r.rc, 0) << "x = " << x << ", s = " << s;
      const double d = gamma_reference(x, s, false).density;
      const double bound =
          x < s ? d * (x / (s - x)) : d * (x / (x - s + 1.0));
      ASSERT_LT(bound, testing::kUnderflowFloor);
      EXPECT_EQ(r.lower, x < s ? 0.0 : 1.0) << "x = " << x << ", s = " << s;
      EXPECT_EQ(r.upper, x < s ? 1.0 : 0.0) << "x = " << x << ", s = " << s;
      EXPECT_EQ(r.density, 0.0) << "x = " << x << ", s = " << s;
    }
  }
}

// Every row of the failure table, and the exact values of the trivial
// cases. Each output must be written, whatever the outcome.
TEST(IncompleteGammaFailures, FailureTableAndExactCases) {
  struct Row {
    const char *what;
    double x, s;
    int rc;
    double lower, upper, density;
  };
  const Row rows[] = {
      {"negative shape", 1.0, -1.0, 1, -2.0, -2.0, 0.0},
      {"negative limit", -0.5, 2.0, 1, -2.0, -2.0, 0.0},
      {"both negative", -1.0, -1.0, 1, -2.0, -2.0, 0.0},
      {"negative limit, zero shape", -0.5, 0.0, 1, -2.0, -2.0, 0.0},
      {"series exhausted at x = s = 1e5", 1e5, 1e5, 1, -2.0, -2.0, 0.0},
      {"series exhausted just below s = 1e5", 99900.0, 1e5, 1, -2.0, -2.0,
       0.0},
      {"series exhausted at x = s = 7e4", 7e4, 7e4, 1, -2.0, -2.0, 0.0},
      // x/s underflows to 0, so every convergent of the fraction is 0 and
      // the relative test can never pass.
      {"lower fraction exhausted at s = 1e9",
       std::numeric_limits<double>::denorm_min(), 1e9, 1, -2.0, -2.0, 0.0},
      {"upper fraction exhausted at s = 1e6", 1.0001e6, 1e6, 1, -2.0, -2.0,
       0.0},
      {"upper fraction exhausted at s = 1e8", 1.000001e8, 1e8, 1, -2.0, -2.0,
       0.0},
      {"zero shape", 2.5, 0.0, 0, 1.0, 0.0, 0.0},
      {"zero shape and zero limit", 0.0, 0.0, 0, 1.0, 0.0, 0.0},
      {"zero limit, shape 1", 0.0, 1.0, 0, 0.0, 1.0, 1.0},
      {"zero limit, shape 2", 0.0, 2.0, 0, 0.0, 1.0, 0.0},
      {"zero limit, shape 1/2", 0.0, 0.5, 0, 0.0, 1.0, 0.0},
      {"negative zero limit", -0.0, 2.0, 0, 0.0, 1.0, 0.0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const Result r = call(row.x, row.s);
    EXPECT_EQ(r.rc, row.rc);
    EXPECT_EQ(bits(r.lower), bits(row.lower));
    EXPECT_EQ(bits(r.upper), bits(row.upper));
    EXPECT_EQ(bits(r.density), bits(row.density));
  }
}

// A limit so close to zero that x times the series underflows to zero: the
// logarithm of zero raises the division-by-zero fault, and when the handler
// resumes, the tail is e^-inf = 0.
TEST(IncompleteGammaFailures, UnderflowingSeriesRaisesDivisionByZero) {
  testing::FaultRecorder faults;
  double lower = 123.0, upper = 123.0, density = 123.0;
  int rc;
  {
    TrapSetting traps;
    rc = incomplete_gamma(std::numeric_limits<double>::denorm_min(), 3.0,
                          &lower, &upper, &density);
  }
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(faults.codes(),
            std::vector<std::uint32_t>{kFaultDivideByZero});
  EXPECT_EQ(lower, 0.0);
  EXPECT_EQ(upper, 1.0);
  EXPECT_EQ(density, 0.0);
}

// The series gives out only near the shape: one per cent above it the
// upper fraction serves, and far enough below it the series converges.
TEST(IncompleteGammaFailures, SeriesFailsOnlyNearTheShape) {
  EXPECT_EQ(call(1e5, 1e5).rc, 1);
  EXPECT_EQ(call(1.01e5, 1e5).rc, 0);
  EXPECT_EQ(call(0.97e5, 1e5).rc, 0);
  // Up to about 6e4 the series reaches the shape itself.
  EXPECT_EQ(call(6e4, 6e4).rc, 0);
  EXPECT_EQ(call(7e4, 7e4).rc, 1);
}

// Random arguments over the working range: the two tails are complements
// (one of them is exactly 1 minus the other), both lie in [0, 1].
TEST(IncompleteGammaIdentities, TailsAreComplements) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> log_shape(std::log(1e-3),
                                                   std::log(3e3));
  std::normal_distribution<double> log_ratio(0.0, 0.6);
  for (int i = 0; i < 3000; ++i) {
    const double s = std::exp(log_shape(rng));
    const double x = s * std::exp(log_ratio(rng));
    const Result r = call(x, s);
    ASSERT_EQ(r.rc, 0) << "x = " << x << ", s = " << s;
    EXPECT_GE(r.lower, 0.0);
    EXPECT_LE(r.lower, 1.0);
    EXPECT_GE(r.upper, 0.0);
    EXPECT_LE(r.upper, 1.0);
    EXPECT_GE(r.density, 0.0);
    EXPECT_TRUE(r.lower == 1.0 - r.upper || r.upper == 1.0 - r.lower)
        << "x = " << x << ", s = " << s << ": " << r.lower << " + "
        << r.upper;
  }
}

// P rises and Q falls with x, through every method and every switch
// between them.
TEST(IncompleteGammaIdentities, MonotoneInTheLimit) {
  auto check = [](double s, const std::vector<double> &xs) {
    Result prev = call(xs.front(), s);
    ASSERT_EQ(prev.rc, 0);
    for (std::size_t i = 1; i < xs.size(); ++i) {
      const Result r = call(xs[i], s);
      ASSERT_EQ(r.rc, 0) << "x = " << xs[i] << ", s = " << s;
      EXPECT_GE(r.lower, prev.lower) << "x = " << xs[i] << ", s = " << s;
      EXPECT_LE(r.upper, prev.upper) << "x = " << xs[i] << ", s = " << s;
      prev = r;
    }
  };
  for (double s : {0.3, 1.0, 4.5, 60.0, 2500.0, 4e4}) {
    std::vector<double> xs;
    for (int i = 0; i <= 100; ++i) {
      const double x = (s < 1.0 ? s + 1.0 : s) * std::exp(-4.0 + 0.08 * i);
      if (s < 4e4 || std::fabs(x / s - 1.0) > 0.03) xs.push_back(x);
    }
    check(s, xs);
  }
  std::vector<double> xs;
  for (int i = -40; i <= 40; ++i) xs.push_back(1e9 + 0.25 * i * std::sqrt(1e9));
  check(1e9, xs);
}

// No jump where the method changes: the direction switch at x = s, the
// shift at s = 1, the Stirling form of the log-density at s = 10 and at
// |x/s - 1| = 0.3, and the series against the upper fraction at x = 1.
TEST(IncompleteGammaIdentities, ContinuousAcrossMethodSwitches) {
  struct Pair {
    const char *what;
    double x1, s1, x2, s2;
  };
  const double below_one = std::nextafter(1.0, 0.0);
  const double below_ten = std::nextafter(10.0, 0.0);
  const Pair pairs[] = {
      {"direction at x = s", 50.0, 50.0, std::nextafter(50.0, 51.0), 50.0},
      {"direction at x = s, s < 1", 1.5, 0.5, std::nextafter(1.5, 2.0), 0.5},
      {"direction at x = 1", 1.0, 0.2, std::nextafter(1.0, 2.0), 0.2},
      {"shift at s = 1", 0.7, below_one, 0.7, 1.0},
      {"shift at s = 1, upper tail", 4.0, below_one, 4.0, 1.0},
      {"Stirling form at s = 10", 9.0, below_ten, 9.0, 10.0},
      {"Stirling form at x = 0.7 s", 140.0, 200.0,
       std::nextafter(140.0, 0.0), 200.0},
      {"Stirling form at x = 1.3 s", 260.0, 200.0,
       std::nextafter(260.0, 300.0), 200.0},
  };
  for (const Pair &p : pairs) {
    SCOPED_TRACE(p.what);
    const Result a = call(p.x1, p.s1);
    const Result b = call(p.x2, p.s2);
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(b.rc, 0);
    EXPECT_NEAR(a.lower, b.lower, 1e-13 * std::fmax(a.lower, 1e-300));
    EXPECT_NEAR(a.upper, b.upper, 1e-13 * std::fmax(a.upper, 1e-300));
    EXPECT_NEAR(a.density, b.density, 1e-13 * a.density);
  }
}

// The recurrence in the shape: P(a, x) - P(a + 1, x) = x^a e^-x / Gamma(a+1),
// which is the density returned at shape a + 1; and that density is the
// density at shape a times x/a.
TEST(IncompleteGammaIdentities, ShapeRecurrence) {
  for (double a : {0.3, 1.0, 2.5, 7.0, 30.0, 120.0, 800.0}) {
    for (double ratio : {0.2, 0.8, 1.0, 1.2, 3.0}) {
      const double x = a * ratio;
      const Result ra = call(x, a);
      const Result rb = call(x, a + 1.0);
      ASSERT_EQ(ra.rc, 0);
      ASSERT_EQ(rb.rc, 0);
      // Difference of the directly computed (smaller) tails.
      const bool lower_side = x <= a;
      const double gap =
          lower_side ? ra.lower - rb.lower : rb.upper - ra.upper;
      const double scale =
          lower_side ? ra.lower + rb.lower : ra.upper + rb.upper;
      EXPECT_NEAR(gap, rb.density, 1e-12 * scale)
          << "a = " << a << ", x = " << x;
      EXPECT_NEAR(rb.density, ra.density * (x / a), 1e-12 * rb.density)
          << "a = " << a << ", x = " << x;
    }
  }
}

}  // namespace
}  // namespace qvd
