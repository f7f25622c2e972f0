// An independent reference for the whole dependence test, written from the
// textbook formulas: each cross-section fitted by QR least squares (LAPACK
// dgels), or under restrictions by the bordered normal equations
//   [X'X  A'] [b]   [X'y]
//   [A    0 ] [l] = [r  ]
// solved by LU (dgesv); residual correlations over the common periods and
// the four statistics summed in long double; p-values from Boost.Math.
// Also the panel generator and the module host shared by the end-to-end
// tests.
#ifndef QVDEP_TESTS_E2E_PIPELINE_REFERENCE_H
#define QVDEP_TESTS_E2E_PIPELINE_REFERENCE_H

#include <cstdint>
#include <random>
#include <vector>

#include "host/dependence_run.h"
#include "host/reference_host.h"
#include "support/packed_index.h"

namespace qvd::e2e {

// The one reference host of the test binary, loaded on first use.
host::ReferenceHost &module_host();

// A panel value is missing when its top 16 bits are all ones.
bool marked_missing(double v);
// A missing marker with the given low 48 bits.
double missing_marker(std::uint64_t low_bits);

// Packed index of (i, j) in an N-by-N symmetric matrix, from 0.
using testing::packed;

struct ReferenceResults {
  int sections = 0;
  std::vector<double> residuals;     // N rows of T; NaN where missing
  std::vector<double> correlations;  // packed, as the module leaves them
  std::vector<char> usable;          // packed; pairs i < j only
  double lm = 0, scaled_lm = 0, cd = 0, cdp = 0;
  // Sums of the magnitudes of the terms (for scaled LM, of both operands of
  // T rho^2 - 1): the scale against which the rounding of each statistic is
  // judged when its terms cancel.
  double lm_scale = 0, scaled_lm_scale = 0, cd_scale = 0, cdp_scale = 0;
};

// Residuals of every cross-section (N rows of T, NaN where a period is
// left out).
std::vector<double> reference_residuals(const host::Panel &panel,
                                        const host::TestOptions &options);

// The correlations and statistics of a residual matrix; orders above N - 1
// count as N - 1, orders below 1 select no pair.
ReferenceResults reference_statistics(const std::vector<double> &residuals,
                                      int sections, int periods, int order);

ReferenceResults reference_test(const host::Panel &panel,
                                const host::TestOptions &options);

// Upper tails from Boost.Math.
double chi2_upper_tail(double x, double df);
double normal_upper_tail(double x);

// Random panels: y = X b + s_i (g_i f_t + e_it) with standard normal f, e.
struct PanelShape {
  int sections = 5;
  int periods = 20;
  int regressors = 1;
  bool intercept = true;
  double factor_loading = 0.0;    // g_i drawn from [0.5, 1.5] times this
  double scattered_missing = 0.0; // chance of each value being missing
  bool blocks_missing = false;    // runs of missing periods, empty sections
  int min_complete = 0;           // sections with fewer complete periods
                                  // (but some) lose all of them
};

host::Panel random_panel(std::mt19937_64 &rng, const PanelShape &shape);

// The panel with its cross-sections in reverse order.
host::Panel reversed(const host::Panel &panel);

}  // namespace qvd::e2e

#endif
