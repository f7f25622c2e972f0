#include "analysis/pair_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "analysis/vector_clones.h"
#include "host/huge_pages.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::size_t packed_index(std::size_t i, std::size_t j) { return i + j * (j + 1) / 2; }

// Which periods each cross-section's residual is present in, one bit a
// period, so that the periods two cross-sections share are a popcount.
class PresenceBits {
 public:
  PresenceBits(const std::vector<double> &residuals, std::size_t n, std::size_t t)
      : words_((t + 63) / 64), bits_(n * words_, 0) {
    for (std::size_t s = 0; s < t; ++s)
      for (std::size_t i = 0; i < n; ++i)
        if (!qvdep_is_missing(residuals[s * n + i]))
          bits_[i * words_ + s / 64] |= std::uint64_t{1} << (s % 64);
  }
  int common(std::size_t i, std::size_t j) const {
    int count = 0;
    for (std::size_t w = 0; w < words_; ++w)
      count += std::popcount(bits_[i * words_ + w] & bits_[j * words_ + w]);
    return count;
  }

 private:
  std::size_t words_;
  std::vector<std::uint64_t> bits_;
};

// One period's squares for `width` partners: aa, the cross-section's, where
// the partner is present (mask m), and each partner's own (b, 0 if missing).
QVDEP_VECTOR_CLONES
void add_squares(double aa, const double *__restrict b, const double *__restrict m,
                 std::size_t width, double *__restrict sums, double *__restrict partner_sums) {
  for (std::size_t j = 0; j < width; ++j) {
    sums[j] += aa * m[j];
    partner_sums[j] += b[j] * b[j];
  }
}

// S_ii and S_jj over the periods i and j share, for every partner j > i at
// once: sums[j] and partner_sums[j], each receiving e(t)*e(t) for the shared
// periods in period order, as the module forms them (the masked sums give
// the same bits).
void shared_sums_of_squares(const MaskedResiduals &e, std::size_t n, std::size_t t,
                            std::size_t i, std::vector<double> &sums,
                            std::vector<double> &partner_sums) {
  std::fill(sums.begin() + static_cast<std::ptrdiff_t>(i + 1), sums.end(), 0.0);
  std::fill(partner_sums.begin() + static_cast<std::ptrdiff_t>(i + 1), partner_sums.end(), 0.0);
  for (std::size_t s = 0; s < t; ++s) {
    const double *b = e.values.data() + s * n, *m = e.present.data() + s * n;
    if (m[i] == 0.0) continue;
    add_squares(b[i] * b[i], b + i + 1, m + i + 1, n - i - 1, sums.data() + i + 1,
                partner_sums.data() + i + 1);
  }
}

// Sum of squares of each complete cross-section over all periods, in
// period order; NaN for one with a missing period.
std::vector<double> complete_sums_of_squares(const std::vector<double> &residuals,
                                             std::size_t n, std::size_t t) {
  std::vector<double> sums(n, 0.0);
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t i = 0; i < n; ++i) {
      const double e = residuals[s * n + i];
      sums[i] = qvdep_is_missing(e) ? kNaN : sums[i] + e * e;
    }
  return sums;
}

// Cells on a side of the tiles in which the N-by-N tables are copied
// across their diagonal: going straight down a column, every cell would
// land on another page.
constexpr std::size_t kTile = 64;

// Copies the upper triangle of an N-by-N row-major table onto the lower,
// a tile at a time.
template <typename T>
void mirror_upper_triangle(std::vector<T> &table, std::size_t n) {
  for (std::size_t i0 = 0; i0 < n; i0 += kTile)
    for (std::size_t j0 = i0; j0 < n; j0 += kTile)
      for (std::size_t i = i0; i < std::min(n, i0 + kTile); ++i)
        for (std::size_t j = std::max(j0, i + 1); j < std::min(n, j0 + kTile); ++j)
          table[j * n + i] = table[i * n + j];
}

// The usable pairs' correlations into the upper triangle and their counts
// into the table. Some residual is missing or not a number: each pair's
// shared periods and sums over them are formed from the residuals.
void pairs_with_gaps(const std::vector<double> &residuals, std::size_t t,
                                const std::vector<double> &complete,
                                const std::vector<double> &packed, PairTable &table) {
  const std::size_t n = static_cast<std::size_t>(table.sections);
  const PresenceBits present(residuals, n, t);
  std::vector<double> sums(n), partner_sums(n);
  MaskedResiduals masked;  // made once a row meets a partner with a gap
  for (std::size_t i = 0; i < n; ++i) {
    table.common_periods[i * n + i] = present.common(i, i);
    // Two complete rows share every period: their sums are the whole rows'.
    bool partners_complete = !std::isnan(complete[i]);
    for (std::size_t j = i + 1; j < n && partners_complete; ++j)
      partners_complete = !std::isnan(complete[j]);
    if (!partners_complete) {
      if (masked.values.empty()) masked = masked_residuals(residuals, n, t);
      shared_sums_of_squares(masked, n, t, i, sums, partner_sums);
    }
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool both_complete = !std::isnan(complete[i]) && !std::isnan(complete[j]);
      const int common = both_complete ? static_cast<int>(t) : present.common(i, j);
      table.common_periods[i * n + j] = common;
      const double s_ii = both_complete ? complete[i] : sums[j];
      const double s_jj = both_complete ? complete[j] : partner_sums[j];
      if (!usable_pair(s_ii, s_jj, common)) {
        ++table.unusable;
        continue;
      }
      table.correlations[i * n + j] = packed[packed_index(i, j)];
      ++table.usable;
    }
  }
}

// The same when every residual is present: every pair shares all T
// periods, and its sums of squares are the two rows' whole sums, so a pair
// is usable exactly when both its rows are usable with themselves. The
// packed block keeps each column of the upper triangle in a run, and the
// table each row, so the copy goes a tile at a time (read down the packed
// columns, written along the table's rows, both in cache), into both
// triangles at once.
void complete_pairs(const std::vector<double> &complete, int periods,
                    const std::vector<double> &packed, PairTable &table) {
  const std::size_t n = static_cast<std::size_t>(table.sections);
  std::vector<char> usable_row(n);
  long rows = 0;
  for (std::size_t i = 0; i < n; ++i) {
    usable_row[i] = usable_pair(complete[i], complete[i], periods);
    rows += usable_row[i];
  }
  for (std::size_t i0 = 0; i0 < n; i0 += kTile)
    for (std::size_t j0 = i0; j0 < n; j0 += kTile)
      for (std::size_t j = std::max(j0, i0 + 1); j < std::min(n, j0 + kTile); ++j) {
        if (!usable_row[j]) continue;
        const double *column = packed.data() + packed_index(0, j);
        for (std::size_t i = i0; i < std::min(j, i0 + kTile); ++i)
          if (usable_row[i])
            table.correlations[i * n + j] = table.correlations[j * n + i] = column[i];
      }
  const long all = static_cast<long>(n);
  table.usable = rows * (rows - 1) / 2;
  table.unusable = all * (all - 1) / 2 - table.usable;
}

}  // namespace

MaskedResiduals masked_residuals(const std::vector<double> &period_major, std::size_t n,
                                 std::size_t t) {
  MaskedResiduals m{std::vector<double>(n * t), std::vector<double>(n * t)};
  for (std::size_t c = 0; c < n * t; ++c) {
    const bool present = !qvdep_is_missing(period_major[c]);
    m.values[c] = present ? period_major[c] : 0.0;
    m.present[c] = present ? 1.0 : 0.0;
  }
  return m;
}

bool usable_pair(double s_ii, double s_jj, int common) {
  return s_ii > QVDEP_MIN_SUM_OF_SQUARES && s_jj > QVDEP_MIN_SUM_OF_SQUARES && common > 0;
}

PairTable pair_table(const std::vector<double> &residuals, int sections, int periods,
                     const std::vector<double> &packed) {
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  PairTable table;
  table.sections = sections;
  table.periods = periods;
  host::reserve_on_huge_pages(table.correlations, n * n);
  table.correlations.assign(n * n, kNaN);
  for (std::size_t i = 0; i < n; ++i) table.correlations[i * n + i] = 1.0;
  const std::vector<double> complete = complete_sums_of_squares(residuals, n, t);
  const bool every_residual = std::none_of(complete.begin(), complete.end(),
                                           [](double s) { return std::isnan(s); });
  if (every_residual) {  // every pair shares all T periods: no table of them
    complete_pairs(complete, periods, packed, table);
  } else {
    host::reserve_on_huge_pages(table.common_periods, n * n);
    table.common_periods.assign(n * n, 0);
    pairs_with_gaps(residuals, t, complete, packed, table);
    mirror_upper_triangle(table.correlations, n);
    mirror_upper_triangle(table.common_periods, n);
  }
  return table;
}

int most_common_periods(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  int most = 0;
  for (std::size_t i = 0; i < n; ++i) most = std::max(most, common_periods_of(pairs, i, i));
  return most;
}

std::vector<int> random_signs(int sections, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<int> signs(static_cast<std::size_t>(sections > 0 ? sections : 0));
  for (int &w : signs) w = (engine() >> 63) != 0 ? -1 : 1;
  return signs;
}

double weighted_cd(const PairTable &pairs, const std::vector<int> &signs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  if (n < 2) return 0.0;
  const auto qr = weighted_cd_weights(pairs);
  double cd = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = pairs.correlations[i * n + j];
      if (std::isnan(rho)) continue;
      cd += weighted_cd_term(qr(common_periods_of(pairs, i, j)), signs[i], signs[j], rho);
    }
  return cd;
}

}  // namespace qvd::analysis
