// Residual cross-correlation statistics
//
// For every pair of cross-sections i < j the raw (uncentred) residuals are
// correlated over the periods both observe:
//
//   rho_ij = S_ij / (sqrt(S_ii) sqrt(S_jj)),   S_ab = sum_t e_a(t) e_b(t),
//
// and the correlations of the usable pairs are condensed into
//
//   LM        = sum T_ij rho_ij^2                      ~ chi2(N(N-1)/2)
//   scaled LM = sum (T_ij rho_ij^2 - 1) / sqrt(N(N-1))  ~ N(0, 1), one-sided
//   CD        = sqrt(2/(N(N-1))) sum sqrt(T_ij) rho_ij  ~ N(0, 1), two-sided
//   CD(p)     = sum_{j-i<=p} sqrt(2 T_ij) rho_ij / sqrt(D)         two-sided
//
// where D = (2N - p - 1) p is twice the number of pairs at most p apart.
// Once p reaches N - 1 every pair is at most p apart, so larger orders are
// taken as N - 1: the pairs and the normalisation then stay those of the
// complete statistic (CD(p) = CD), instead of D shrinking towards zero and
// turning negative (and overflowing 32 bits) for orders the panel cannot
// have.
//
// The sums are accumulated pair by pair in panel order, each in the form
// written below; the results are exact to the rounding of those sums.
//
// The N(N-1)/2 pair sums are the cost, N^2 T / 2 products. They are formed
// for one cross-section against a block of partners at a time by the vector
// kernels of pair_sums.h, which reproduce the straightforward loop bit for
// bit. A cross-section without a missing residual has the same S_ii with
// every partner that has none either (the sum over all periods, in period
// order), so those sums are formed once, before the pairs, and kept in the
// last packed row of the correlation matrix, whose cells (k, N-1) are
// written only when pair (k, N-1) is reached, after the last use of S_kk.
#include "engine/pairwise.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/pair_sums.h"
#include "platform/cpu_features.h"
#include "numeric/missing_value.h"
#include "prob/noncentral_chi2.h"
#include "prob/normal_cdf.h"

namespace qvd {
namespace {

// A pair is usable when both residual sums of squares exceed this (the
// interface's rule, qvdep.h).
constexpr double kMinSumOfSquares = QVDEP_MIN_SUM_OF_SQUARES;

// Marks a cross-section with a missing residual in the table of whole-row
// sums of squares; a sum of squares is never -1.
constexpr double kIncompleteRow = -1.0;

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The cross products of two residual rows over their common periods.
struct PairSums {
  double s_ii = 0.0;
  double s_jj = 0.0;
  double s_ij = 0.0;
  std::int32_t periods = 0;  // T_ij
};

// Ordinary comparisons: a NaN sum of squares (a residual that is NaN without
// being marked missing) is not data the statistics can use, and under the
// host's trap setting it ends the call with an invalid-operation fault
// instead of silently dropping the pair while F still counts it.
bool usable(const PairSums &s) {
  return s.s_ii > kMinSumOfSquares && s.s_jj > kMinSumOfSquares && s.periods > 0;
}

// min(p, N - 1): beyond N - 1 no further pair can join the local statistic.
std::int32_t effective_order(std::int32_t order, std::int32_t sections) {
  return order < sections - 1 ? order : sections - 1;
}

// D = (2N - p - 1) p for 1 <= p <= N - 1, formed in 64 bits. At p = N - 1 it
// equals N(N - 1), which the run frame keeps below 2^31.
double local_normaliser(std::int32_t order, std::int32_t sections) {
  const std::int64_t p = order, n = sections;
  return static_cast<double>((2 * n - p - 1) * p);
}

// The packed index rule of packed_storage.h, for i <= j, inline in the
// loop over pairs.
int packed_cell(int i, int j) { return i + j * (j + 1) / 2; }
int diagonal(int k) { return packed_cell(k, k); }

// Turns pair sums into correlations and adds the usable pairs to the four
// statistics, in the order the pairs are given.
class Accumulator {
 public:
  // 1/sqrt(F) and sqrt(D) are formed only where a pair can use them: with
  // fewer than two cross-sections F is 0, and for orders below 1 D is not
  // positive.
  explicit Accumulator(const DependenceRequest &r)
      : n_(r.n_sections),
        order_(effective_order(r.cdp_order, r.n_sections)),
        corr_(r.correlations) {
    if (n_ >= 2) q_ = 1.0 / std::sqrt(static_cast<double>(n_ * (n_ - 1)));
    if (order_ >= 1) sqrt_d_ = std::sqrt(local_normaliser(order_, n_));
  }

  // Pair (i, j), i < j, from 0. The diagonal cells keep the working sums of
  // the latest pair; the off-diagonal cell keeps S_ij unless the pair is
  // usable.
  void add(int i, int j, const PairSums &s) {
    double &c_ij = corr_[packed_cell(i, j)];
    corr_[diagonal(i)] = s.s_ii;
    corr_[diagonal(j)] = s.s_jj;
    c_ij = s.s_ij;
    if (!usable(s)) return;

    c_ij = c_ij / std::sqrt(s.s_ii);
    c_ij = c_ij / std::sqrt(s.s_jj);
    const double rho = c_ij;
    const double t_ij = static_cast<double>(s.periods);

    lm_ += (rho * t_ij) * rho;
    scaled_lm_ += ((t_ij * rho) * rho - 1.0) * q_;
    const double r = root_of_twice(s.periods);
    cd_ += (q_ * r) * rho;
    if (j - i <= order_) cdp_ += (r * rho) / sqrt_d_;
  }

  void store(DependenceRequest &r) const {
    r.lm = lm_;
    r.scaled_lm = scaled_lm_;
    r.cd = cd_;
    r.cdp = cdp_;
  }

 private:
  // sqrt(2 T_ij), the product formed as an integer; nearly every pair has
  // the same T_ij, so the last root is kept.
  double root_of_twice(std::int32_t periods) {
    if (periods != root_periods_) {
      root_periods_ = periods;
      root_ = std::sqrt(static_cast<double>(2 * periods));
    }
    return root_;
  }

  std::int32_t n_, order_;
  double *corr_;
  double q_ = 0.0, sqrt_d_ = 0.0;
  double lm_ = 0.0, scaled_lm_ = 0.0, cd_ = 0.0, cdp_ = 0.0;
  std::int32_t root_periods_ = -1;
  double root_ = 0.0;
};

// LM, scaled LM, CD and CD(p) p-values, in that order.
void p_values(DependenceRequest &request) {
  const std::int32_t n = request.n_sections;
  const std::int32_t f = n * (n - 1);  // N(N + 1) < 2^31 by the run frame
  // Upper tail of chi2 with N(N-1)/2 degrees of freedom. The lower tail is
  // not needed; a failure leaves the p-value missing.
  double lower = 0.0;
  if (noncentral_chi2_cdf(request.lm, static_cast<double>(f / 2), 0.0, &lower,
                          &request.lm_pvalue) != 0)
    request.lm_pvalue = kMissingResult;
  request.scaled_lm_pvalue = 1.0 - normal_cdf(request.scaled_lm);
  request.cd_pvalue = (1.0 - normal_cdf(std::fabs(request.cd))) * 2.0;
  request.cdp_pvalue = 2.0 * (1.0 - normal_cdf(std::fabs(request.cdp)));
}

// Whole-row sums of squares, sum_t e_k(t)^2 in period order, into
// table[0 .. N), or kIncompleteRow for a row with a missing residual.
void whole_row_sums(const ResidualMatrix &E, double *table) {
  for (std::int32_t k = 0; k < E.sections; ++k) table[k] = 0.0;
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    for (std::int32_t k = 0; k < E.sections; ++k) {
      if (same_bits(table[k], kIncompleteRow)) continue;
      table[k] = is_missing(e[k]) ? kIncompleteRow : table[k] + e[k] * e[k];
    }
  }
}

// Walks the pairs in order, one cross-section i against blocks of partners.
// Where rows i and i + 1 are both complete, the complete blocks of both are
// summed in one pass over the partners' residuals: row i's pairs are
// finished at once, and row i + 1's cross sums wait in that row's own cells
// (i + 1, j), which nothing else touches before pair (i + 1, j) is reached.
// Both rows then take their blocks from i + 2 on, partner i + 1 of row i
// alone before them.
//
// The statistics are kept in an accumulator local to run(), which nothing
// else can reach, so its sums stay in registers between pairs.
class PairWalk {
 public:
  PairWalk(DependenceRequest &request, const double *residuals,
           const PairSumKernels &kernels)
      : E_{residuals, request.n_sections, request.n_periods},
        kernels_(kernels),
        corr_(request.correlations),
        table_(corr_ + packed_cell(0, E_.sections - 1)) {}

  void run(DependenceRequest &request) {
    Accumulator acc(request);
    const std::int32_t n = E_.sections;
    whole_row_sums(E_, table_);
    whole_last_ = table_[n - 1];  // its cell is also diagonal N - 1
    double whole_i = whole(0);
    bool waiting = false;  // row i's complete blocks were summed with row i - 1
    for (std::int32_t i = 0; i + 1 < n; ++i) {
      const double whole_next = whole(i + 1);  // before row i + 1's cells fill
      const bool tile =
          !waiting && i + 2 < n && complete(whole_i) && complete(whole_next);
      std::int32_t first = i + 1;
      if (tile) {
        finish(acc, i, whole_i, first, 1, sum_block(i, whole_i, first, 1, Mode::kOwn));
        ++first;
      }
      for (; first < n; first += kPartnerBlock) {
        const int count = n - first < kPartnerBlock ? n - first : kPartnerBlock;
        const Mode mode = waiting ? Mode::kWaiting : tile ? Mode::kWithNext : Mode::kOwn;
        finish(acc, i, whole_i, first, count, sum_block(i, whole_i, first, count, mode));
      }
      waiting = tile;
      whole_i = whole_next;
    }
    acc.store(request);
  }

 private:
  enum class Mode { kOwn, kWithNext, kWaiting };

  static bool complete(double whole) { return !same_bits(whole, kIncompleteRow); }
  double whole(std::int32_t j) const {
    return j == E_.sections - 1 ? whole_last_ : table_[j];
  }

  // Sums of pairs (i, first) .. (i, first + count - 1) into sums_; true
  // when all of them are complete, so that only s_ij was formed.
  bool sum_block(std::int32_t i, double whole_i, std::int32_t first, int count,
                 Mode mode) {
    bool all_complete = complete(whole_i);
    for (int k = 0; all_complete && k < count; ++k)
      all_complete = complete(whole(first + k));
    double *const s_ij = sums_.s_ij;
    if (!all_complete) {
      kernels_.masked(E_, i, first, count, sums_);
    } else if (mode == Mode::kWaiting) {
      for (int k = 0; k < count; ++k) s_ij[k] = corr_[packed_cell(i, first + k)];
    } else if (mode == Mode::kWithNext) {
      kernels_.cross2(E_, i, first, count, s_ij, next_);
      for (int k = 0; k < count; ++k) corr_[packed_cell(i + 1, first + k)] = next_[k];
    } else {
      kernels_.cross(E_, i, first, count, s_ij);
    }
    return all_complete;
  }

  // The pairs of one block, in order, into the statistics.
  void finish(Accumulator &acc, std::int32_t i, double whole_i,
              std::int32_t first, int count, bool all_complete) const {
    for (int k = 0; k < count; ++k)
      acc.add(i, first + k,
              all_complete
                  ? PairSums{whole_i, whole(first + k), sums_.s_ij[k], E_.periods}
                  : PairSums{sums_.s_ii[k], sums_.s_jj[k], sums_.s_ij[k],
                             static_cast<std::int32_t>(sums_.common[k])});
  }

  const ResidualMatrix E_;
  const PairSumKernels &kernels_;
  double *const corr_;
  // Cells (k, N-1), k = 0 .. N-1, are contiguous: packed row N-1.
  double *const table_;
  double whole_last_ = 0.0;
  PartnerSums sums_;
  alignas(64) double next_[kPartnerBlock];
};

}  // namespace

void pairwise_statistics(DependenceRequest &request, const double *residuals) {
  if (request.n_sections >= 2)
    PairWalk(request, residuals,
             pair_sum_kernels_for(processor_feature_level()))
        .run(request);
  else
    Accumulator(request).store(request);
  p_values(request);
}

void pairwise_statistics_straightforward(DependenceRequest &request,
                                         const double *residuals) {
  const std::int32_t n = request.n_sections;
  const ResidualMatrix E{residuals, n, request.n_periods};
  Accumulator acc(request);
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    for (std::int32_t j = i + 1; j < n; ++j) {
      PairSums s;
      for (std::int32_t t = 0; t < E.periods; ++t) {
        const double *e = E.period(t);
        if (is_missing(e[i]) || is_missing(e[j])) continue;
        s.s_ii += e[i] * e[i];
        s.s_jj += e[j] * e[j];
        s.s_ij += e[i] * e[j];
        ++s.periods;
      }
      acc.add(i, j, s);
    }
  }
  acc.store(request);
  p_values(request);
}

}  // namespace qvd
