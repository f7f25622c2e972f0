// The pair table against the straightforward derivation: for every pair,
// the periods both residual series observe and both sums of squares over
// them, added in period order, then the module's usability rule. Random
// panels with and without missing residuals, rows of tiny residuals whose
// sums of squares sit on either side of the 1e-12 floor, and a NaN residual;
// the panels with no missing residual keep every value present, and span
// several of the bands the sums read rows in at N = 130.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/stats/pair_sums.h"
#include "analysis/stats/pair_table.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

const double kMissing = std::bit_cast<double>(std::uint64_t{QVDEP_MISSING_RESULT_BITS});

// The table, and the means of the usable pairs' correlations added in row
// order.
struct Derived {
  PairTable table;
  double mean = 0, mean_abs = 0;
};

Derived straightforward(const std::vector<double> &period_major, int sections, int periods,
                        const std::vector<double> &packed) {
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  auto e = [&](std::size_t i, std::size_t s) { return period_major[s * n + i]; };
  PairTable table;
  table.sections = sections;
  table.periods = periods;
  table.correlations = host::OwnedArray<double>(packed.size());
  std::fill(table.correlations.begin(), table.correlations.end(), std::nan(""));
  table.common_periods.assign(packed.size(), 0);
  double sum = 0, sum_abs = 0;
  for (std::size_t i = 0; i < n; ++i) {
    table.correlations[packed_index(i, i)] = 1.0;
    for (std::size_t s = 0; s < t; ++s)
      table.common_periods[packed_index(i, i)] += !qvdep_is_missing(e(i, s));
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      double s_ii = 0, s_jj = 0;
      int common = 0;
      for (std::size_t s = 0; s < t; ++s) {
        if (qvdep_is_missing(e(i, s)) || qvdep_is_missing(e(j, s))) continue;
        s_ii += e(i, s) * e(i, s);
        s_jj += e(j, s) * e(j, s);
        ++common;
      }
      table.common_periods[packed_index(i, j)] = common;
      if (!(s_ii > 1e-12 && s_jj > 1e-12 && common > 0)) {
        ++table.unusable;
        continue;
      }
      const double rho = packed[i + j * (j + 1) / 2];
      table.correlations[packed_index(i, j)] = rho;
      ++table.usable;
      sum += rho;
      sum_abs += std::fabs(rho);
    }
  const double usable = static_cast<double>(table.usable);
  return {table, table.usable > 0 ? sum / usable : std::nan(""),
          table.usable > 0 ? sum_abs / usable : std::nan("")};
}

// T_ij of every pair, N-by-N, whether the table keeps them or not.
std::vector<int> every_common_period(const PairTable &p) {
  const std::size_t n = static_cast<std::size_t>(p.sections);
  std::vector<int> cells;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) cells.push_back(common_periods_of(p, i, j));
  return cells;
}

template <typename A, typename B>
bool same_bits(const A &a, const B &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(PairTable, AgreesWithTheStraightforwardDerivation) {
  // Residuals whose squares straddle the floor: (1e-6)^2 rounds to either
  // side of 1e-12 depending on the last bits.
  const double edge = std::sqrt(1e-12);
  const double near_floor[] = {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 1.0),
                               std::sqrt(0.5e-12), 0.0};
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  const double missing_shares[] = {0.0, 0.02, 0.3, 0.9};
  int checked = 0;
  for (int n : {1, 2, 3, 7, 33, 130}) {
    for (int t : {1, 2, 5, 64, 65, 130}) {
      for (double share : missing_shares) {
        const std::size_t cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(t);
        std::vector<double> e(cells);
        for (double &v : e) v = uniform(rng) < share ? kMissing : normal(rng);
        // A few rows of tiny residuals (one present period, or all) and,
        // where some are missing anyway, a whole missing row and NaN
        // residuals that are not a missing mark (in the last cross-section
        // and in the third), which count only where the partner has a
        // residual too.
        for (int i = 0; i < n; i += 3)
          for (int s = 0; s < t; ++s)
            if (uniform(rng) < 0.5 || s == 0)
              e[static_cast<std::size_t>(s * n + i)] = near_floor[(i + s) % 5];
        if (n > 4 && share > 0) {
          for (int s = 0; s < t; ++s) e[static_cast<std::size_t>(s * n + 4)] = kMissing;
          e[static_cast<std::size_t>(n - 1)] = std::nan("");
          if (t > 1) e[static_cast<std::size_t>(n + 2)] = std::nan("");
        }
        std::vector<double> packed(static_cast<std::size_t>(n) * (n + 1) / 2);
        for (double &r : packed) r = normal(rng);
        const auto [want, mean, mean_abs] = straightforward(e, n, t, packed);
        const PairTable got = pair_table(
            e.data(), n, t, host::OwnedArray<double>::copy_of(packed.data(), packed.size()));
        SCOPED_TRACE("N " + std::to_string(n) + ", T " + std::to_string(t) + ", missing " +
                     std::to_string(share));
        EXPECT_EQ(got.usable, want.usable);
        EXPECT_EQ(got.unusable, want.unusable);
        EXPECT_EQ(every_common_period(got), every_common_period(want));
        // No table is kept exactly when every residual is present.
        const bool every = std::none_of(e.begin(), e.end(),
                                        [](double v) { return std::isnan(v); });
        EXPECT_EQ(got.common_periods.empty(), every);
        EXPECT_TRUE(same_bits(got.correlations, want.correlations));
        const PairSums sums = pair_sums(got, nullptr, nullptr, 0);
        EXPECT_TRUE(same_bits(std::vector<double>{sums.mean, sums.mean_abs},
                              std::vector<double>{mean, mean_abs}));
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 6 * 6 * 4);
}

}  // namespace
}  // namespace qvd::analysis
