// The tests' tail probabilities against MPFR references at 256 bits: the
// normal tail as erfc(z / sqrt 2) / 2 (MPFR's correctly rounded erfc), the
// chi-square tail as a sum of Poisson (even df) or half-integer (odd df)
// terms, an algorithm independent of Boost's incomplete gamma. Relative
// error within 1e-13 wherever the tail is at least 1e-300, from the centre
// to the far tail and from df = 1 to the LM of 46,340 cross-sections.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <mpfr.h>

#include "analysis/stats/tail_probability.h"

namespace qvd::analysis {
namespace {

constexpr mpfr_prec_t kBits = 256;
constexpr double kTolerance = 1e-13, kFloor = 1e-300;

// A number of MPFR's, freed when it goes.
struct Big {
  mpfr_t v;
  Big() { mpfr_init2(v, kBits); }
  explicit Big(double x) : Big() { mpfr_set_d(v, x, MPFR_RNDN); }
  ~Big() { mpfr_clear(v); }
  Big(const Big &) = delete;
  Big &operator=(const Big &) = delete;
  double get() const { return mpfr_get_d(v, MPFR_RNDN); }
};

double normal_upper_reference(double z) {
  Big x(z), root2;
  mpfr_sqrt_ui(root2.v, 2, MPFR_RNDN);
  mpfr_div(x.v, x.v, root2.v, MPFR_RNDN);
  mpfr_erfc(x.v, x.v, MPFR_RNDN);
  mpfr_div_ui(x.v, x.v, 2, MPFR_RNDN);
  return x.get();
}

// Q(a, l) = P(X > x), a = df/2, l = x/2. Even df: sum_{j<a} e^-l l^j / j!;
// odd df: erfc(sqrt l) + sum_{r=1}^{a-1/2} e^-l l^(r-1/2) / Gamma(r+1/2).
// Either way the terms run from the top index down, t_{k-1} = t_k k' / l
// (k' = j or r - 1/2), the first formed through lgamma, until they no
// longer count at 256 bits.
double chi2_upper_reference(double x, long df) {
  const bool even = df % 2 == 0;
  const long top = even ? df / 2 - 1 : (df - 1) / 2;  // j or r of the first term
  Big l(x / 2), sum, term, power, lg, offset;
  mpfr_set_zero(sum.v, 1);
  if (top >= (even ? 0 : 1)) {
    // log t = top' log l - l - lgamma(top' + 1), top' = j or r - 1/2.
    mpfr_set_d(offset.v, even ? static_cast<double>(top) : static_cast<double>(top) - 0.5,
               MPFR_RNDN);
    mpfr_log(power.v, l.v, MPFR_RNDN);
    mpfr_mul(power.v, power.v, offset.v, MPFR_RNDN);
    mpfr_sub(power.v, power.v, l.v, MPFR_RNDN);
    mpfr_add_ui(lg.v, offset.v, 1, MPFR_RNDN);
    int sign = 0;
    mpfr_lgamma(lg.v, &sign, lg.v, MPFR_RNDN);
    mpfr_sub(power.v, power.v, lg.v, MPFR_RNDN);
    mpfr_exp(term.v, power.v, MPFR_RNDN);
    for (long k = top; k >= (even ? 0 : 1); --k) {
      mpfr_add(sum.v, sum.v, term.v, MPFR_RNDN);
      // Past the terms' peak (index below l) a term this small ends it.
      if (k < x / 2 && mpfr_cmp_ui(term.v, 0) > 0 &&
          mpfr_get_exp(term.v) < mpfr_get_exp(sum.v) - static_cast<mpfr_exp_t>(kBits))
        break;
      mpfr_set_d(offset.v, even ? static_cast<double>(k) : static_cast<double>(k) - 0.5, MPFR_RNDN);
      mpfr_mul(term.v, term.v, offset.v, MPFR_RNDN);
      mpfr_div(term.v, term.v, l.v, MPFR_RNDN);
    }
  }
  if (!even) {
    Big root;
    mpfr_sqrt(root.v, l.v, MPFR_RNDN);
    mpfr_erfc(root.v, root.v, MPFR_RNDN);
    mpfr_add(sum.v, sum.v, root.v, MPFR_RNDN);
  }
  return sum.get();
}

double relative_error(double got, double want) { return std::fabs(got - want) / want; }

TEST(TailProbability, NormalTailsKeepTheirRelativePrecision) {
  // Random z from the lower tail to beyond 1e-300 (z = 37.05), and the
  // figures of the issue: Produc's CD(1) and EmplUK's CD.
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-8.0, 37.6);
  double worst = 0, at = 0;
  for (int k = 0; k < 800; ++k) {
    const double z = u(rng), want = normal_upper_reference(z);
    if (want < kFloor) continue;
    const double e = relative_error(normal_upper_tail(z), want);
    if (e > worst) worst = e, at = z;
    const double two = std::min(1.0, 2 * normal_upper_reference(std::fabs(z)));
    EXPECT_LE(relative_error(normal_two_sided(-z), two), kTolerance) << z;
  }
  EXPECT_LE(worst, kTolerance) << "at z = " << at;
  EXPECT_TRUE(std::isnan(normal_two_sided(std::nan(""))));
}

TEST(TailProbability, ChiSquareTailsKeepTheirRelativePrecision) {
  // df from 1 to N(N-1)/2 of the module's largest N; x from below the mean
  // to where the tail passes 1e-300 (the normal approximation places it
  // about 37 standard deviations out, further for few degrees of freedom).
  const long dfs[] = {1, 2, 3, 7, 45, 190, 4950, 124751, 1999000, 1073720970};
  std::mt19937_64 rng(5);
  for (long df : dfs) {
    const double mean = static_cast<double>(df), sd = std::sqrt(2.0 * mean);
    const double reach = df < 200 ? 1400.0 / sd : 45.0;
    std::uniform_real_distribution<double> k(-2.0, reach);
    double worst = 0, at = 0;
    for (int s = 0; s < (df > 10'000'000 ? 6 : 40); ++s) {
      const double x = std::max(1e-3, mean + k(rng) * sd), want = chi2_upper_reference(x, df);
      if (want < kFloor) continue;
      const double e = relative_error(chi2_upper_tail(x, static_cast<double>(df)), want);
      if (e > worst) worst = e, at = x;
    }
    EXPECT_LE(worst, kTolerance) << "df " << df << " at x = " << at;
  }
  EXPECT_EQ(chi2_upper_tail(0.0, 4), 1.0);
  EXPECT_TRUE(std::isnan(chi2_upper_tail(3.0, 0)));
}

}  // namespace
}  // namespace qvd::analysis
