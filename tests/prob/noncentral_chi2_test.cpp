// Tests of the noncentral chi-square distribution function against
// quad-precision references, its failure table and its identities.
#include "prob/noncentral_chi2.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "prob/incomplete_gamma.h"
#include "numeric/missing_value.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "gamma_reference.h"

namespace qvd {
namespace {

using namespace testing;

struct Result {
  int rc;
  double cdf;
  double upper;
};

// Calls the module under the host's trap setting, with garbage in the
// outputs beforehand so that a missing write shows. No argument used here
// may raise a fault.
Result call(double x, double df, double nc) {
  Result r{7, 123.0, 123.0};
  testing::FaultRecorder faults;
  {
    TrapSetting traps;
    r.rc = noncentral_chi2_cdf(x, df, nc, &r.cdf, &r.upper);
  }
  EXPECT_TRUE(faults.codes().empty())
      << "x = " << x << ", df = " << df << ", nc = " << nc;
  return r;
}

struct Gamma {
  int rc;
  double lower;
  double upper;
};

Gamma gamma_call(double x, double s) {
  Gamma g{7, 123.0, 123.0};
  double density = 0.0;
  TrapSetting traps;
  g.rc = incomplete_gamma(x, s, &g.lower, &g.upper, &density);
  return g;
}

struct Point {
  double x;
  double df;
  double nc;
};

// The cdf is formed directly and held to a relative bound; the upper tail
// is always 1 - cdf when nc > 0, so only its absolute error is bounded.
struct AccuracyRange {
  std::string name;
  std::vector<Point> points;
  double cdf_bound;    // relative error of the cdf
  double upper_bound;  // absolute error of 1 - cdf
};

std::vector<AccuracyRange> accuracy_ranges() {
  std::vector<Point> small;
  for (double df : {1.0, 2.0, 3.0, 7.5, 10.0, 40.0}) {
    for (double nc : {1e-3, 0.1, 1.0, 5.0, 10.0}) {
      for (double r : {0.01, 0.1, 0.5, 1.0, 1.5, 2.0, 4.0}) {
        small.push_back({r * (df + nc), df, nc});
      }
    }
  }
  // The start-index cases 0, 3 and 17 (forward terms only, both sides).
  for (const Point &p : {Point{5.0, 3.0, 1.0}, Point{5.0, 3.0, 10.0},
                         Point{50.0, 10.0, 40.0}}) {
    small.push_back(p);
  }
  std::vector<Point> large, far_lower;
  for (double df : {1.0, 10.0, 100.0}) {
    for (double nc : {40.0, 200.0, 1000.0}) {
      const double mean = df + nc;
      const double sd = std::sqrt(2.0 * (df + 2.0 * nc));
      for (double c : {-3.0, -1.0, 0.0, 1.0, 3.0, 6.0}) {
        large.push_back({mean + c * sd, df, nc});
      }
      for (double c : {-6.0, -5.0, -4.0}) {
        if (mean + c * sd > 0.0) far_lower.push_back({mean + c * sd, df, nc});
      }
    }
  }
  return {
      {"noncentrality <= 10", small, 1e-13, 1e-14},
      {"noncentrality in [40, 1000]", large, 2e-12, 3e-13},
      // Far below the centre the central term P_n can exceed F by orders of
      // magnitude, and the corrections cancel it down to F: the relative
      // error grows with P_n / F.
      {"noncentrality in [40, 1000], 4 to 6 sd below the mean", far_lower,
       1e-10, 1e-15},
  };
}

TEST(NoncentralChi2Accuracy, AgreesWithQuadPrecisionReference) {
  for (const AccuracyRange &range : accuracy_ranges()) {
    SCOPED_TRACE(range.name);
    WorstError worst_cdf, worst_upper;
    for (const Point &p : range.points) {
      const Result r = call(p.x, p.df, p.nc);
      ASSERT_EQ(r.rc, 0) << "x = " << p.x << ", df = " << p.df
                         << ", nc = " << p.nc;
      const auto ref = noncentral_chi2_reference(p.x, p.df, p.nc);
      const double e_cdf = relative_error(r.cdf, ref.cdf);
      const double e_upper = std::fabs(r.upper - ref.upper);
      worst_cdf.note(e_cdf, p.x, p.df, p.nc);
      worst_upper.note(e_upper, p.x, p.df, p.nc);
      EXPECT_LE(e_cdf, range.cdf_bound)
          << "cdf at x = " << p.x << ", df = " << p.df << ", nc = " << p.nc
          << ": " << r.cdf << " vs " << ref.cdf;
      EXPECT_LE(e_upper, range.upper_bound)
          << "upper at x = " << p.x << ", df = " << p.df << ", nc = " << p.nc
          << ": " << r.upper << " vs " << ref.upper;
    }
    print_worst("cdf (relative), " + range.name, worst_cdf, range.cdf_bound);
    print_worst("upper (absolute), " + range.name, worst_upper,
                range.upper_bound);
  }
}

// Every row of the failure table, with the outputs each row leaves.
TEST(NoncentralChi2Failures, FailureTable) {
  const double missing = kMissingResult;

  // The central term at x' = 5e-13 and g = k + n = 1 + 22: the start index
  // is 50 / (1 + (0.5/sqrt 50) z) = 22.11 with z = 17.8, and
  // H + M = ln(x'^23 e^-x' / 23!) + ln(e^-50 50^22 / 22!) = -703.1 - 12.4
  // lies below the exponential's limit.
  const Gamma tiny_start = gamma_call(0.5e-12, 23.0);
  // The term limit: x' = 5000, k = 1000, lambda = 2500, and the start index
  // is 2500 / (1 + 0.5/50) = 2475.2 (z < 1), so g = 3475.
  const Gamma limit_start = gamma_call(5000.0, 3475.0);
  ASSERT_EQ(tiny_start.rc, 0);
  ASSERT_EQ(limit_start.rc, 0);

  struct Row {
    const char *what;
    double x, df, nc;
    int rc;
    double cdf, upper;
  };
  const Row rows[] = {
      {"negative point", -1.0, 3.0, 1.0, 1, missing, missing},
      {"zero degrees of freedom", 5.0, 0.0, 1.0, 1, missing, missing},
      {"negative degrees of freedom", 5.0, -1.0, 0.0, 1, missing, missing},
      {"negative noncentrality", 5.0, 3.0, -0.5, 1, missing, missing},
      {"zero point with zero degrees of freedom", 0.0, 0.0, 0.0, 1, missing,
       missing},
      {"start estimate beyond 32 bits", 1e10, 1.0, 1e10, 1, missing,
       missing},
      {"incomplete gamma fails at shape 1e5", 200000.0, 200000.0, 0.0, 1,
       -2.0, -2.0},
      // lambda = 5e-301 gives the start index 0 and the shape 100001.
      {"incomplete gamma fails near shape 1e5 with noncentrality", 200000.0,
       200002.0, 1e-300, 1, -2.0, -2.0},
      {"starting factors underflow", 1e-12, 2.0, 100.0, 1, tiny_start.lower,
       tiny_start.upper},
      {"term limit", 10000.0, 2000.0, 5000.0, -1, limit_start.lower,
       limit_start.upper},
      {"zero point", 0.0, 3.0, 1.0, 0, 0.0, 1.0},
      {"zero point, central", 0.0, 3.0, 0.0, 0, 0.0, 1.0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const Result r = call(row.x, row.df, row.nc);
    EXPECT_EQ(r.rc, row.rc);
    EXPECT_EQ(bits(r.cdf), bits(row.cdf));
    EXPECT_EQ(bits(r.upper), bits(row.upper));
  }
}

// With nc = 0 the outputs are the incomplete gamma function's own, bit for
// bit: P(df/2, x/2) and Q(df/2, x/2).
TEST(NoncentralChi2Identities, CentralCaseIsTheIncompleteGamma) {
  std::mt19937_64 rng(7771);
  std::uniform_real_distribution<double> log_df(std::log(0.1), std::log(2e4));
  std::normal_distribution<double> log_ratio(0.0, 0.5);
  std::vector<std::pair<double, double>> cases = {{5.0, 3.0}, {1.0, 1.0},
                                                  {1e-3, 4.0}, {700.0, 2.0}};
  for (int i = 0; i < 1000; ++i) {
    const double df = std::exp(log_df(rng));
    cases.push_back({df * std::exp(log_ratio(rng)), df});
  }
  for (const auto &[x, df] : cases) {
    const Result r = call(x, df, 0.0);
    const Gamma g = gamma_call(x * 0.5, df * 0.5);
    ASSERT_EQ(r.rc, 0) << "x = " << x << ", df = " << df;
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(bits(r.cdf), bits(g.lower)) << "x = " << x << ", df = " << df;
    EXPECT_EQ(bits(r.upper), bits(g.upper)) << "x = " << x << ", df = " << df;
  }
}

// A vanishing noncentrality goes through the summation (start index 0, only
// forward terms) and must land on the central value.
TEST(NoncentralChi2Identities, TinyNoncentralityMeetsTheCentralCase) {
  for (double df : {1.0, 3.0, 20.0, 150.0}) {
    for (double r : {0.05, 0.5, 1.0, 2.0, 5.0}) {
      const double x = r * df;
      const Result central = call(x, df, 0.0);
      const Result nearly = call(x, df, 1e-9);
      ASSERT_EQ(central.rc, 0);
      ASSERT_EQ(nearly.rc, 0) << "x = " << x << ", df = " << df;
      EXPECT_NEAR(nearly.cdf, central.cdf, 1e-9 * central.cdf + 1e-15)
          << "x = " << x << ", df = " << df;
    }
  }
}

// The cdf rises with x, stays in [0, 1], and its complement is exactly
// 1 - cdf.
TEST(NoncentralChi2Identities, MonotoneAndComplementary) {
  for (double df : {1.0, 4.0, 30.0}) {
    for (double nc : {0.5, 8.0, 120.0}) {
      double prev = 0.0;
      const double mean = df + nc;
      for (int i = 1; i <= 120; ++i) {
        const double x = mean * 0.05 * i;
        const Result r = call(x, df, nc);
        ASSERT_EQ(r.rc, 0) << "x = " << x << ", df = " << df
                           << ", nc = " << nc;
        EXPECT_GE(r.cdf, prev) << "x = " << x << ", df = " << df
                               << ", nc = " << nc;
        EXPECT_LE(r.cdf, 1.0);
        EXPECT_EQ(r.upper, 1.0 - r.cdf);
        prev = r.cdf;
      }
    }
  }
}

}  // namespace
}  // namespace qvd
