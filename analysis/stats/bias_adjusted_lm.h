// The bias-adjusted LM test of Pesaran, Ullah and Yamagata (2008), "A
// bias-adjusted LM test of error cross-section independence",
// Econometrics Journal 11, 105-127 (their LM_adj, eq. 13 and 14).
//
// Breusch and Pagan's LM sums T rho_ij^2, whose mean under independence is
// not 1 once the residuals come from regressions: with k coefficients per
// equation and M_i = I - X_i (X_i'X_i)^-1 X_i', exactly for normal errors,
//
//   E[(T-k) rho_ij^2]   = mu_ij = tr(M_i M_j)/(T-k),
//   Var[(T-k) rho_ij^2] = v_ij^2 = [tr(M_i M_j)]^2 a1 + 2 tr[(M_i M_j)^2] a2,
//   a2 = 3 {[(T-k-8)(T-k+2) + 24] / [(T-k+2)(T-k-2)(T-k-4)]}^2,
//   a1 = a2 - 1/(T-k)^2,
//
// and the centred, scaled sum
//
//   LM_adj = sqrt(2/(N(N-1))) sum_{i<j} [(T-k) rho_ij^2 - mu_ij] / v_ij
//
// is N(0,1) as N and T grow, upper tail. It needs a balanced panel, the same
// k (regressors and intercept) in every equation, no restrictions (they
// change M_i) and T - k > 4.
//
// Method: no T-by-T matrix is formed. With Q_i an orthonormal basis of X_i's
// columns (LAPACK QR) and C_ij = Q_i'Q_j, whose singular values are the
// cosines of the principal angles between the two column spaces,
//   tr(M_i M_j)       = T - 2k + ||C_ij||_F^2,
//   tr[(M_i M_j)^2]   = T - 2k + ||C_ij'C_ij||_F^2.
// With an intercept every basis starts with the same unit vector 1/sqrt(T)
// and goes on with a basis of the demeaned regressors, which is orthogonal
// to it: C_ij = diag(1, C~_ij), so each norm is 1 plus that of the
// (k-1)-by-(k-1) block C~_ij, and the work falls by ((k-1)/k)^2.
// The C_ij are blocks of Q'Q for the stacked bases Q = [Q_1 ... Q_N],
// formed a band of cross-sections at a time: by the dot-product kernel
// where the processor has one (it may run on several threads, and the band
// of a pair does not change its figures), else by the tools' OpenBLAS dgemm
// (one thread).
//
// Everything but rho_ij depends on the regressors alone, so the work comes
// in two parts: the weights (T-k)/v_ij and sum mu_ij/v_ij, which can be
// formed while the module runs, and the sum over pairs once the rho_ij are
// known,
//   LM_adj = sqrt(2/(N(N-1))) [sum_{i<j} rho_ij^2 (T-k)/v_ij - sum_{i<j} mu_ij/v_ij].
//
// The weights are formed a band of rows of pairs at a time, on the shared
// pool of threads (task_group.h). Those of the first bands, up to
// kEarlyWeightBytes, are formed while the module runs and kept; the rest,
// at a large N, once the correlations exist, a few bands at a time, their
// terms added to the sum as they come, so that the weights never hold more
// than a bounded share of the N^2/2 pairs (400 MB at N = 10,000). Every
// term is added in the pairs' row order either way: the same bits.
#ifndef QVDEP_ANALYSIS_STATS_BIAS_ADJUSTED_LM_H
#define QVDEP_ANALYSIS_STATS_BIAS_ADJUSTED_LM_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "analysis/common/stop_flag.h"
#include "analysis/common/task_group.h"
#include "analysis/stats/pair_table.h"
#include "analysis/stats/statistic.h"
#include "host/dependence_run.h"

namespace qvd::analysis {

// LM_adj and its upper-tail N(0,1) p-value, or why there is none.
using BiasAdjustedLm = Statistic;

// A pair's term of the sum over pairs: rho_ij^2 (T-k)/v_ij from its scale.
// Every such sum forms its terms here, so that any two give the same bits.
inline double scaled_square(double scale, double rho) { return scale * rho * rho; }

// LM_adj's weights, a band of rows at a time. `panel`: the laid-out panel
// (for each cross-section, for each period, the K regressors then y);
// `intercept`: a column of ones precedes them in X_i; `restrictions`: their
// number. Not available: an unbalanced panel (a missing value anywhere),
// restrictions, T - k <= 4, a rank-deficient X_i, or a build without
// LAPACK; and, once the correlations are known, a pair without one.
//
//   BiasAdjustedLmBands lm_adj(panel, intercept, restrictions);
//   TaskGroup group;
//   lm_adj.start(group);    // the bases, then the early bands, as tasks
//   ... the module runs ...
//   group.wait();
//   // the pass over the pairs adds scaled_square(early_scales()[p], rho)
//   // over the pairs of the first early_rows() rows, in row order, to `sum`
//   BiasAdjustedLm r = lm_adj.finish(pairs, sum);
//
// `panel` must outlive the tasks.
class BiasAdjustedLmBands {
 public:
  // Weights kept from before the correlations are known: every pair's up to
  // N of about 2,050.
  static constexpr std::size_t kEarlyWeightBytes = std::size_t{16} << 20;

  BiasAdjustedLmBands(const host::Panel &panel, bool intercept, int restrictions,
                      std::size_t early_weight_bytes = kEarlyWeightBytes);
  ~BiasAdjustedLmBands();
  BiasAdjustedLmBands(const BiasAdjustedLmBands &) = delete;
  BiasAdjustedLmBands &operator=(const BiasAdjustedLmBands &) = delete;

  // For tests: the tools' BLAS even where the dot-product kernel runs.
  void use_blas();

  // Queues the bases and then the early bands on `group`.
  void start(TaskGroup &group);
  // Once the group has finished: (T-k)/v_ij for the pairs of rows
  // 0 .. early_rows() - 1 in row order (0 rows when not available).
  std::size_t early_rows() const;
  const double *early_scales() const;
  // `early_sum`: sum of scaled_square over those pairs in row order. Forms
  // the other bands on the pool, a few at a time, and adds their terms;
  // `stop` is looked at between those few.
  BiasAdjustedLm finish(const PairTable &pairs, double early_sum, const StopFlag &stop = {});

  struct Model;

 private:
  std::unique_ptr<Model> model_;
};

// Every pair's weight at once, on this thread: for tests and references.
struct BiasAdjustedLmWeights {
  bool available = false;
  std::string reason;          // why not, when not available
  int sections = 0;
  std::vector<double> scale;   // (T-k)/v_ij for i < j, row after row
  double centre = 0;           // sum_{i<j} mu_ij/v_ij, band by band
};
BiasAdjustedLmWeights bias_adjusted_lm_weights(const host::Panel &panel, bool intercept,
                                               int restrictions, bool blas_only = false);

// LM_adj from whole weights and the pairs' rho_ij (T_ij = T for every
// pair); and in one call.
BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, const PairTable &pairs);
BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs);

}  // namespace qvd::analysis

#endif
