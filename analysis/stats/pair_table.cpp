#include "analysis/stats/pair_table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/common/not_a_number.h"
#include "analysis/linalg/vector_clones.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {


// Which periods each cross-section's residual is present in, one bit a
// period, so that the periods two cross-sections share are a popcount.
class PresenceBits {
 public:
  PresenceBits(const double *residuals, std::size_t n, std::size_t t)
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
// the partner is present (mask m; chosen, not multiplied by the mask, so
// that a residual that is not a number counts only in periods its partner
// shares), and each partner's own (b, 0 if missing).
QVDEP_VECTOR_CLONES
void add_squares(double aa, const double *__restrict b, const double *__restrict m,
                 std::size_t width, double *__restrict sums, double *__restrict partner_sums) {
  for (std::size_t j = 0; j < width; ++j) {
    sums[j] += m[j] != 0.0 ? aa : 0.0;
    partner_sums[j] += b[j] * b[j];
  }
}

// S_jj and S_ii over the periods j and i share, for every partner i < j at
// once: sums[i] and partner_sums[i], each receiving e(t)*e(t) for the shared
// periods in period order, as the module forms them (the masked sums add
// +0 for the others, which leaves them as they were: the same bits).
void shared_sums_of_squares(const MaskedResiduals &e, std::size_t n, std::size_t t,
                            std::size_t j, std::vector<double> &sums,
                            std::vector<double> &partner_sums) {
  std::fill_n(sums.begin(), j, 0.0);
  std::fill_n(partner_sums.begin(), j, 0.0);
  for (std::size_t s = 0; s < t; ++s) {
    const double *b = e.values.data() + s * n, *m = e.present.data() + s * n;
    if (m[j] == 0.0) continue;
    add_squares(b[j] * b[j], b, m, j, sums.data(), partner_sums.data());
  }
}

// Sum of squares of each complete cross-section over all periods, in
// period order; NaN for one with a missing period.
std::vector<double> complete_sums_of_squares(const double *residuals, std::size_t n,
                                             std::size_t t) {
  std::vector<double> sums(n, 0.0);
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t i = 0; i < n; ++i) {
      const double e = residuals[s * n + i];
      sums[i] = qvdep_is_missing(e) ? kNaN : sums[i] + e * e;
    }
  return sums;
}

// Some residual is missing or not a number: each pair's shared periods and
// sums over them are formed from the residuals, and an unusable pair's
// cell gets NaN. The pairs go by columns of the packed table, (i, j) for
// i < j, whose cells lie side by side.
void pairs_with_gaps(const double *residuals, std::size_t t, const std::vector<double> &complete,
                     PairTable &table, const StopFlag &stop) {
  const std::size_t n = static_cast<std::size_t>(table.sections);
  const PresenceBits present(residuals, n, t);
  std::vector<double> sums(n), partner_sums(n);
  MaskedResiduals masked;  // made once a column meets a partner with a gap
  bool partners_complete = true;  // every cross-section before j
  for (std::size_t j = 0; j < n; ++j) {
    if (j % 64 == 0) stop.check();
    const std::size_t column = packed_index(0, j);
    table.common_periods[column + j] = present.common(j, j);
    // Two complete rows share every period: their sums are the whole rows'.
    if (!(partners_complete && !std::isnan(complete[j]))) {
      if (masked.values.empty()) masked = masked_residuals(residuals, n, t);
      shared_sums_of_squares(masked, n, t, j, sums, partner_sums);
    }
    for (std::size_t i = 0; i < j; ++i) {
      const bool both_complete = !std::isnan(complete[i]) && !std::isnan(complete[j]);
      const int common = both_complete ? static_cast<int>(t) : present.common(i, j);
      table.common_periods[column + i] = common;
      const double s_ii = both_complete ? complete[i] : partner_sums[i];
      const double s_jj = both_complete ? complete[j] : sums[i];
      if (usable_pair(s_ii, s_jj, common)) {
        ++table.usable;
      } else {
        table.correlations[column + i] = kNaN;
        ++table.unusable;
      }
    }
    partners_complete = partners_complete && !std::isnan(complete[j]);
  }
}

// The same when every residual is present: every pair shares all T
// periods, and its sums of squares are the two rows' whole sums, so a pair
// is usable exactly when both its rows are usable with themselves. Only
// the cells of a row that is not are touched.
void complete_pairs(const std::vector<double> &complete, int periods, PairTable &table) {
  const std::size_t n = static_cast<std::size_t>(table.sections);
  long rows = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (usable_pair(complete[i], complete[i], periods)) {
      ++rows;
      continue;
    }
    for (std::size_t j = 0; j < n; ++j)
      if (j != i) table.correlations[packed_index(i, j)] = kNaN;
  }
  const long all = static_cast<long>(n);
  table.usable = rows * (rows - 1) / 2;
  table.unusable = all * (all - 1) / 2 - table.usable;
}

}  // namespace

MaskedResiduals masked_residuals(const double *period_major, std::size_t n, std::size_t t) {
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

PairTable pair_table(const double *residuals, int sections, int periods,
                     host::OwnedArray<double> packed, const StopFlag &stop) {
  const std::size_t n = static_cast<std::size_t>(sections), t = static_cast<std::size_t>(periods);
  PairTable table;
  table.sections = sections;
  table.periods = periods;
  table.correlations = std::move(packed);
  for (std::size_t i = 0; i < n; ++i) table.correlations[packed_index(i, i)] = 1.0;
  const std::vector<double> complete = complete_sums_of_squares(residuals, n, t);
  const bool every_residual = std::none_of(complete.begin(), complete.end(),
                                           [](double s) { return std::isnan(s); });
  if (every_residual) {  // every pair shares all T periods: no table of them
    complete_pairs(complete, periods, table);
  } else {
    table.common_periods.assign(packed_cells(n), 0);
    pairs_with_gaps(residuals, t, complete, table, stop);
  }
  return table;
}

int most_common_periods(const PairTable &pairs) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections > 0 ? pairs.sections : 0);
  int most = 0;
  for (std::size_t i = 0; i < n; ++i) most = std::max(most, common_periods_of(pairs, i, i));
  return most;
}

}  // namespace qvd::analysis
