// Friedman's and Frees' tests against their definitions (explicit pair
// loops of Spearman correlations; Friedman's statistic from the periods'
// rank sums), and Frees' Q law against mpmath quadrature of its convolution
// and against a large simulation.
#include "analysis/stats/rank_tests.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/stats/frees_q.h"
#include "analysis/stats/tail_probability.h"

namespace qvd::analysis {
namespace {

// Average ranks by counting: those below + (those equal, itself included, + 1)/2.
std::vector<double> counted_ranks(const std::vector<double> &x) {
  std::vector<double> r;
  for (const double v : x) {
    double below = 0, equal = 0;
    for (const double w : x) {
      below += w < v ? 1 : 0;
      equal += w == v ? 1 : 0;
    }
    r.push_back(below + (equal + 1) / 2);
  }
  return r;
}

double pearson(const std::vector<double> &a, const std::vector<double> &b) {
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) ma += a[k] / n, mb += b[k] / n;
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    sab += (a[k] - ma) * (b[k] - mb);
    saa += (a[k] - ma) * (a[k] - ma);
    sbb += (b[k] - mb) * (b[k] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(RankTests, EqualTheirDefinitions) {
  struct Case {
    int n, t;
    bool ties;  // residuals on a coarse grid
    int gaps;   // cells made missing
  };
  const Case cases[] = {{2, 3, false, 0}, {7, 5, false, 0},  {30, 10, false, 0}, {12, 40, false, 0},
                        {25, 8, true, 0}, {9, 12, false, 5}, {60, 5, true, 1}};
  std::mt19937_64 rng(1937);
  std::normal_distribution<double> normal;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "N = " << c.n << ", T = " << c.t);
    const std::size_t n = static_cast<std::size_t>(c.n), t = static_cast<std::size_t>(c.t);
    std::vector<double> e(n * t);
    for (double &v : e) v = c.ties ? std::round(2 * normal(rng)) : normal(rng);
    for (int g = 0; g < c.gaps; ++g) e[rng() % (n * t)] = missing_value();

    std::vector<std::size_t> common;
    for (std::size_t s = 0; s < t; ++s) {
      bool all = true;
      for (std::size_t i = 0; i < n; ++i) all = all && !std::isnan(e[i * t + s]);
      if (all) common.push_back(s);
    }
    std::vector<std::vector<double>> ranks;
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<double> x;
      for (const std::size_t s : common) x.push_back(e[i * t + s]);
      ranks.push_back(counted_ranks(x));
    }
    double sum = 0, squares = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j) {
        const double r = pearson(ranks[i], ranks[j]);
        sum += r;
        squares += r * r;
      }
    const double dn = c.n, dt = static_cast<double>(common.size()), pairs = dn * (dn - 1) / 2;
    const double fr = (dt - 1) * ((dn - 1) * sum / pairs + 1);
    const double fre = dn * (squares / pairs - 1 / (dt - 1));

    const RankTests r = rank_tests(e.data(), c.n, c.t);
    ASSERT_TRUE(r.friedman.available) << r.friedman.reason;
    EXPECT_EQ(r.friedman.periods_used, static_cast<int>(common.size()));
    EXPECT_EQ(r.frees.periods_used, static_cast<int>(common.size()));
    EXPECT_EQ(r.common_periods_only, common.size() < t);
    EXPECT_NEAR(r.friedman.statistic, fr, 1e-12 * (1 + std::fabs(fr)));
    EXPECT_NEAR(r.frees.statistic, fre, 1e-12 * dn);
    EXPECT_NEAR(r.friedman.pvalue, chi2_upper_tail(fr, dt - 1), 1e-12);
    EXPECT_NEAR(r.frees.pvalue, frees_q_upper_tail(fre, static_cast<int>(dt)), 1e-12);
    if (!c.ties) {
      // Friedman's statistic, the periods the treatments and the
      // cross-sections the blocks: 12/(N T (T+1)) sum_t R_t^2 - 3 N (T+1).
      double rank_sums = 0;
      for (std::size_t k = 0; k < common.size(); ++k) {
        double rt = 0;
        for (std::size_t i = 0; i < n; ++i) rt += ranks[i][k];
        rank_sums += rt * rt;
      }
      const double friedman = 12 / (dn * dt * (dt + 1)) * rank_sums - 3 * dn * (dt + 1);
      EXPECT_NEAR(r.friedman.statistic, friedman, 1e-10 * (1 + friedman));
    }
  }
}

TEST(RankTests, NotAvailable) {
  const double m = missing_value();
  struct Case {
    int n, t;
    std::vector<double> e;
  };
  const Case cases[] = {
      {1, 4, {1, 2, 3, 4}},              // one cross-section
      {2, 4, {1, 2, m, 4, 5, m, 7, 8}},  // two common periods
      {2, 3, {1, 2, 3, 5, 5, 5}},        // no ranks to correlate
  };
  for (const Case &c : cases) {
    const RankTests r = rank_tests(c.e.data(), c.n, c.t);
    EXPECT_FALSE(r.friedman.available);
    EXPECT_FALSE(r.frees.available);
    EXPECT_FALSE(r.friedman.reason.empty());
    EXPECT_TRUE(std::isnan(r.frees.statistic));
  }
}

// P(Q > q) by mpmath at 50 digits, quadrature of the convolution over X1:
//   a = 4*(T+2)/(5*(T-1)**2*(T+1)); b = 2*(5*T+6)/(5*T*(T-1)*(T+1))
//   n1 = T-1; n2 = T*(T-3)/2; s = q + a*n1 + b*n2; top = s/a
//   Q = lambda k, x: mp.gammainc(k, x, mp.inf, regularized=True)
//   f1 = lambda x: mp.exp((n1/2-1)*mp.log(x) - x/2 - (n1/2)*mp.log(2) - mp.loggamma(n1/2))
//   Q(n1/2, top/2) + mp.quad(lambda x: f1(x)*Q(n2/2, (s-a*x)/(2*b)),
//                            [top*k/16 for k in range(17)])
// (T = 3: Q(n1/2, s/(2a)) alone), every figure the same to 16 digits with 32 pieces.
TEST(FreesQ, TailEqualsQuadrature) {
  struct Case {
    int t;
    double q, tail;
  };
  const Case cases[] = {
      {3, 0.5, 0.13533528323661269},      {4, 0.2, 0.25935349275610089},
      {4, 1.0, 0.03178593487220502},      {5, 0.4889, 0.10000225383591249},
      {10, -0.1, 0.67690563977606411},    {10, 0.0, 0.47000262984083541},
      {10, 0.3433, 0.049983190763334595}, {10, 2.0, 1.2591204097389474e-11},
      {30, 0.1, 0.069137847429459976},    {60, 0.05, 0.068063562743850588},
      {60, 0.5, 2.9773924711105772e-39},
  };
  for (const Case &c : cases)
    EXPECT_NEAR(frees_q_upper_tail(c.q, c.t), c.tail, 1e-13 * c.tail)
        << "T = " << c.t << ", q = " << c.q;
  EXPECT_EQ(frees_q_upper_tail(-10, 10), 1.0);
}

// Critical values against 4,000,000 draws of Q (Python's random.gammavariate,
// seed 20240601: a (2 G(n1/2) - n1) + b (2 G(n2/2) - n2), the 90, 95 and 99 %
// order statistics), whose standard errors are below 0.2 %.
TEST(FreesQ, CriticalValuesMatchSimulation) {
  struct Case {
    int t;
    double c10, c5, c1;
  };
  const Case cases[] = {{5, 0.48816, 0.68681, 1.11262},
                        {10, 0.25713, 0.34346, 0.51677},
                        {30, 0.08590, 0.11167, 0.16105}};
  for (const Case &c : cases) {
    const double simulated[] = {c.c10, c.c5, c.c1}, levels[] = {0.10, 0.05, 0.01};
    for (int k = 0; k < 3; ++k) {
      const double q = frees_q_critical_value(levels[k], c.t);
      EXPECT_NEAR(q, simulated[k], 0.01 * simulated[k]) << "T = " << c.t << " at " << levels[k];
      EXPECT_NEAR(frees_q_upper_tail(q, c.t), levels[k], 1e-12);
    }
  }
}

TEST(FreesQ, RefusesBadArguments) {
  EXPECT_THROW(frees_q_upper_tail(0.1, 2), InputError);
  EXPECT_THROW(frees_q_critical_value(0.05, 2), InputError);
  for (const double level : {0.0, 1.0, -0.5, 2.0, std::nan("")})
    EXPECT_THROW(frees_q_critical_value(level, 10), InputError) << level;
}

}  // namespace
}  // namespace qvd::analysis
