// Random effects with Swamy and Arora's variance components, as R's plm
// estimates them (plm.fit with ercomp's default random.method = "swar").
//
// Components. The quadratic forms are the residual sums of squares of the
// within model (q_nu, the effect's within transformation), of the between
// regression on cross-section means (q_eta) and of that on period means
// (q_mu), each mean's row weighted by its count of observations, as plm's
// "Between" model repeats it. They solve M sigma2 = q:
//   balanced (plm's dfcor = 2):
//     q_nu  = (O - NTS - K_w) s_nu        NTS = N, T or N + T - 1 effects
//     q_eta = (N - K_b - 1)(s_nu + T s_eta)
//     q_mu  = (T - K_t - 1)(s_nu + N s_mu)
//   unbalanced (dfcor = 3), with Z the pooled design and W the weighted
//   cross-section means (rows sqrt(T_i) zbar_i):
//     q_nu  = (O - NTS - K_w) s_nu
//     q_eta = (N - K - 1) s_nu + (O - tr((W'W)^-1 sum_i T_i^2 zbar_i zbar_i')) s_eta
//             + (N - sum_t s_t'(W'W)^-1 s_t) s_mu,   s_t = sum of zbar_i over i seen at t,
//   and q_mu likewise by period; the traces are leverages of W's QR.
// A component that comes out negative is set to zero, as plm does; a
// warning says so.
//
// Weights: theta_i = 1 - (1 + T_i s_eta/s_nu)^(-1/2), theta_t = 1 - (1 +
// N_t s_mu/s_nu)^(-1/2) (T_i = T, N_t = N when balanced), and, two-way
// balanced, theta = theta_i + theta_t - 1 + (1 + N s_mu/s_nu + T s_eta/s_nu)^(-1/2)
// (zero when either component is at most sqrt(machine epsilon), as plm
// sets it).
//
// Fit and residuals (those plm keeps and pcdtest tests):
//   one effect, or two balanced: least squares of the quasi-demeaned y on
//     the quasi-demeaned design, x - theta_i xbar_i (- theta_t xbar_t +
//     theta xbar); residuals on that scale;
//   two-way unbalanced (Wansbeek and Kapteyn's GLS): the design quasi-
//     demeaned by cross-section, then whitened against the period effects
//     with period_dummies.h's weight phi/(sqrt(1 + phi lambda)(sqrt(1 + phi
//     lambda) + 1)), phi = s_mu/s_nu, whose cross-product is plm's
//     X'X - phi X'D (I + phi D'D)^-1 D'X; residuals y - X gamma untransformed,
//     as plm returns them.
#ifndef QVDEP_ANALYSIS_MODELS_RANDOM_EFFECTS_H
#define QVDEP_ANALYSIS_MODELS_RANDOM_EFFECTS_H

#include <string>
#include <vector>

#include "analysis/models/least_squares.h"
#include "analysis/common/model_choice.h"
#include "analysis/models/observations.h"

namespace qvd::analysis {

struct VarianceComponents {
  double idiosyncratic = 0;           // sigma2_nu
  double individual = 0;              // sigma2_eta; NaN without a cross-section effect
  double time = 0;                    // sigma2_mu; NaN without a period effect
  std::vector<double> theta_section;  // theta_i (N); NaN where there is none
  std::vector<double> theta_period;   // theta_t (T); NaN where there is none
  double theta_total = 0;             // two-way balanced: the overall mean's weight; else NaN
};

struct RandomFit {
  LeastSquares fit;              // coefficients, the columns kept
  WorkVector<double> residuals;  // one per observation, as above
  VarianceComponents components;
  std::vector<std::string> warnings;
};

// `data`: y, the intercept's column of ones when `intercept`, the
// regressors. Throws InputError where the components cannot be formed: a
// between regression with no fewer coefficients than cross-sections (or
// periods), as plm refuses it; no degrees of freedom left; a within model
// that fits y exactly (no idiosyncratic variance).
RandomFit random_fit(const ColumnMatrix &data, bool intercept, const Observations &obs,
                     Effect effect);

}  // namespace qvd::analysis

#endif
