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
#ifndef QVDEP_ANALYSIS_BIAS_ADJUSTED_LM_H
#define QVDEP_ANALYSIS_BIAS_ADJUSTED_LM_H

#include <memory>
#include <string>
#include <vector>

#include "analysis/pair_statistics.h"
#include "host/dependence_test.h"

namespace qvd::analysis {

// The part of LM_adj that depends on the regressors only.
struct BiasAdjustedLmWeights {
  bool available = false;
  std::string reason;          // why not, when not available
  int sections = 0;
  std::vector<double> scale;   // (T-k)/v_ij for i < j, row after row
  double centre = 0;           // sum_{i<j} mu_ij/v_ij
};

struct BiasAdjustedLm {
  bool available = false;
  std::string reason;      // why not, when not available
  double statistic = 0;    // NaN when not available
  double pvalue = 0;       // upper tail of N(0,1); NaN when not available
};

// `panel`: the laid-out panel (for each cross-section, for each period, the
// K regressors then y); `intercept`: a column of ones precedes them in
// X_i; `restrictions`: their number; `pairs`: the module's rho_ij (here
// T_ij = T for every pair). Not available: an unbalanced panel (a missing
// value anywhere) or a pair without a correlation, restrictions,
// T - k <= 4, a rank-deficient X_i, or a build without LAPACK.
BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs);

// The same in its two parts: the weights from the panel's regressors (not
// available for any of the reasons above but the pairs'), then the sum
// over the module's rho_ij.
BiasAdjustedLmWeights bias_adjusted_lm_weights(const host::Panel &panel, bool intercept,
                                               int restrictions);
BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, const PairTable &pairs);

// A pair's term of the sum over pairs: rho_ij^2 (T-k)/v_ij from its scale.
// Every such sum forms its terms here, so that any two give the same bits.
inline double scaled_square(double scale, double rho) { return scale * rho * rho; }

// The last step alone, from sum_{i<j} scaled_square(scale_ij, rho_ij) added
// in row order over pairs that all have a correlation (pair_sums forms it
// beside other sums).
BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, double scaled_squares);

// The weights formed by more than one thread. One thread calls run(),
// which forms the bases and then takes bands of pairs until none is left;
// any other thread may call help() at any time, which takes bands as well
// when the bases are ready and the products may run on two threads at once,
// and otherwise returns at once. formed() tells any thread whether the
// weights are whole: run() has returned and no band is left in any
// thread's hands. take() gives them once they are, to one thread only;
// they are the same bits as run() alone gives. `panel` must outlive the
// work.
class BiasAdjustedLmWork {
 public:
  BiasAdjustedLmWork(const host::Panel &panel, bool intercept, int restrictions);
  ~BiasAdjustedLmWork();
  BiasAdjustedLmWork(const BiasAdjustedLmWork &) = delete;
  BiasAdjustedLmWork &operator=(const BiasAdjustedLmWork &) = delete;

  void run();
  void help();
  bool formed() const;
  BiasAdjustedLmWeights take();

  // For tests: the tools' BLAS even where the kernel is available.
  void use_blas() { blas_only_ = true; }

 private:
  struct Bands;
  void form_weights();
  void form_bands();
  const host::Panel &panel_;
  bool intercept_;
  int restrictions_;
  bool blas_only_ = false;
  BiasAdjustedLmWeights weights_;
  std::unique_ptr<Bands> bands_;
};

}  // namespace qvd::analysis

#endif
