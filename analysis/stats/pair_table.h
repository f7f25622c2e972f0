// What the library derives from the module's outputs, pair by pair.
//
// The module leaves the packed correlation matrix, whose cell (i, j) holds
// rho_ij when the pair was usable and a raw cross-product sum when it was
// not. Usability depends on sums the module does not keep: the number T_ij
// of periods where both residuals are present and the residual sums of
// squares S_ii, S_jj over those periods (usable: T_ij > 0 and both above
// QVDEP_MIN_SUM_OF_SQUARES, the interface's rule in qvdep.h). They are
// formed again here from the residual block, adding e(t)*e(t) in period
// order exactly as the module does, so the decision is the module's to the
// bit (pair_table says how it is kept fast).
#ifndef QVDEP_ANALYSIS_STATS_PAIR_TABLE_H
#define QVDEP_ANALYSIS_STATS_PAIR_TABLE_H

#include <cmath>
#include <cstdint>
#include <cstddef>
#include <vector>

#include "analysis/common/stop_flag.h"
#include "analysis/linalg/packed_triangle.h"
#include "host/owned_array.h"

namespace qvd::analysis {

struct PairTable {
  int sections = 0;
  int periods = 0;                   // T
  // The module's correlation block, packed (packed_triangle.h), made over
  // in place: rho_ij for the usable pairs, NaN for the others, 1 on the
  // diagonal.
  host::OwnedArray<double> correlations;
  // Packed alike: T_ij, the diagonal each cross-section's present
  // residuals. Empty when every residual is present, so that every pair
  // shares all T periods: a table would hold N^2/2 copies of T (8 MB at
  // N = 2,000) for every result kept. Read it through common_periods_of.
  std::vector<int> common_periods;
  long usable = 0, unusable = 0;
};

// T_ij of the pair (i, j), with or without a table.
inline int common_periods_of(const PairTable &p, std::size_t i, std::size_t j) {
  return packed_cell_or(p.common_periods, p.periods, i, j);
}

// The pairs of a table row after row, for the sums over pairs i < j in the
// module's order: row(i).rho[j] and row(i).common(j) for j > i, rows asked
// for in increasing order.
struct PairRow {
  const double *rho;
  const int *common_periods;  // null: every pair shares all `periods`
  int periods;
  int common(std::size_t j) const { return common_periods ? common_periods[j] : periods; }
};

class PairRows {
 public:
  explicit PairRows(const PairTable &p)
      : with_table_(!p.common_periods.empty()), periods_(p.periods),
        rho_(p.correlations.data(), static_cast<std::size_t>(p.sections)),
        common_(p.common_periods.data(), with_table_ ? static_cast<std::size_t>(p.sections) : 0) {}
  PairRow row(std::size_t i) {
    return {rho_.row(i), with_table_ ? common_.row(i) : nullptr, periods_};
  }

 private:
  bool with_table_;
  int periods_;
  UpperRows<double> rho_;
  UpperRows<int> common_;
};

// `residuals`: the module's residual block, period-major (T rows of N;
// missing: qvdep_is_missing); `packed`: the module's correlation block,
// N(N+1)/2 values, taken over and made into the table's. O(N T) and the
// cells of the unusable pairs when no residual is missing (and no table of
// common periods); otherwise the sums over shared periods take O(N^2 T),
// vectorised across partners.
// `stop` is looked at every few rows of pairs with gaps.
PairTable pair_table(const double *residuals, int sections, int periods,
                     host::OwnedArray<double> packed, const StopFlag &stop = {});

// Residuals period by period (T rows of N) with a missing cell as 0, and a
// mask of 1 where a residual is present and 0 where it is missing. Sums
// over the periods two cross-sections share then run across all partners
// without a branch: a period not shared adds a term times 0, or the stored
// 0, and a zero leaves a running sum that started at +0 exactly as it was
// (such a sum is never -0), so the bits are those of the pair-by-pair sums.
struct MaskedResiduals {
  std::vector<double> values, present;
};
MaskedResiduals masked_residuals(const double *period_major, std::size_t n, std::size_t t);

// The module's rule: a pair is correlated when the two residual sums of
// squares over the periods both observe exceed QVDEP_MIN_SUM_OF_SQUARES and
// there is such a period. (A NaN sum is not above the floor.)
bool usable_pair(double s_ii, double s_jj, int common);

// The most periods any pair shares: no pair shares more than either of its
// cross-sections observes, so the diagonal's largest count (0 when N = 0).
int most_common_periods(const PairTable &pairs);

// A figure that depends on a pair through T_ij alone, formed once for each
// count of shared periods rather than once for each pair: f(0), ..., f(most)
// are computed when the table is made, so a loop over the pairs only looks
// them up (a count outside that range is computed where it is met). The
// same expression on the same count gives the same bits.
template <typename F>
class PerCommonPeriods {
 public:
  PerCommonPeriods(F f, int most) : f_(f) {
    for (int c = 0; c <= most; ++c) values_.push_back(f_(c));
  }
  double operator()(int common) const {
    const std::size_t c = static_cast<std::size_t>(common);
    return common >= 0 && c < values_.size() ? values_[c] : f_(common);
  }

 private:
  F f_;
  std::vector<double> values_;
};

}  // namespace qvd::analysis

#endif
