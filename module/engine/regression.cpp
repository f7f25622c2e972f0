// Least squares of one cross-section by sweeping its augmented cross-product
// matrix.
//
// With p = K + c coefficient columns, h restrictions R b = q and M = p + h,
// the packed matrix of order m = M + 1 is
//
//        [ X'X  R'  X'y ]      rows 0 .. p-1
//        [ R    0   q   ]      rows p .. M-1
//        [ y'X  q'  y'y ]      row  M
//
// Sweeping the coefficient block leaves the unrestricted coefficients
// (X'X)^-1 X'y in column M and the residual sum of squares in (M, M);
// sweeping the restriction block afterwards (its diagonal -R (X'X)^-1 R' is
// negative, hence the negative tolerance) turns column M into the solution of
// the bordered system [[X'X, R'], [R, 0]] [b; l] = [X'y; q] and (M, M) into
// the restricted residual sum of squares.
//
// A coefficient column whose pivot is refused under +tau (collinear with the
// columns before it) keeps coefficient 0. With restrictions present such a
// refusal restarts the sweep from the saved bordered matrix: columns that a
// restriction fixes alone are held back, the others are swept as before,
// and the held-back columns and the restriction rows are then swept with a
// tolerance scaled down to the smallest diagonal seen, so that they are
// taken whenever they are not exactly singular.
//
// Accuracy: that of the sweep on X'X, about cond(X'X) units in the last
// place for the coefficients.
#include "engine/regression.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "matrix/cross_products.h"
#include "matrix/packed_storage.h"
#include "matrix/sweep.h"
#include "numeric/double_constants.h"
#include "numeric/missing_value.h"

namespace qvd {
namespace {

// Pivot tolerance tau = 2^-53 + 2 ulps, bits 0x3CA0000000000002: a diagonal
// must exceed it (regressors) or exceed it in magnitude (restrictions).
constexpr double kPivotTolerance = kHalfEpsilonPlus2Ulps;

// A restriction coefficient counts as non-zero above the smallest normal
// double plus one ulp, bits 0x0010000000000001.
constexpr double kNonZeroCoefficient = 0x1.0000000000001p-1022;
static_assert(std::bit_cast<std::uint64_t>(kNonZeroCoefficient) ==
              0x0010000000000001u);

// Cap of the retry scale, factor of the retry tolerance, and the residual
// sum of squares below which a fit counts as near perfect.
constexpr double kSmallScale = 0.00001;

// Pivot-state characters beyond the sweep's own '0' and '1'.
constexpr char kNotSwept = '0';
constexpr char kSwept = '1';
constexpr char kFixedByRestriction = '3';
constexpr char kHeldForRetry = '5';

// The shape of one regression.
struct Layout {
  int regressors;    // K
  int intercept;     // c
  int coefficients;  // p = K + c
  int restrictions;  // h
  int dependent;     // M = p + h, also the last position
  int order;         // m = M + 1
  int periods;       // T
};

Layout layout_of(const DependenceRequest &r) {
  const int p = r.n_regressors + r.n_intercept;
  const int dependent = p + r.n_restrictions;
  return {r.n_regressors, r.n_intercept, p, r.n_restrictions,
          dependent,      dependent + 1,  r.n_periods};
}

int packed_cells(const Layout &L) { return L.order * (L.order + 1) / 2; }

double &cell(double *S, int i, int j) { return S[packed_index(i, j)]; }

// Panel values of observation (section, t), both counted from 1.
const double *observation(const DependenceRequest &r, const Layout &L,
                          int section, int t) {
  const std::int64_t index =
      static_cast<std::int64_t>(section - 1) * L.periods + (t - 1);
  return r.panel + index * (L.regressors + 1);
}

// Fills the regression row (1.0, x_0 .. x_{K-1}, y) of one period, the
// constant only when c = 1. False, with the copy stopped, at the first
// missing value.
bool build_row(double *row, const double *values, const Layout &L) {
  row[0] = 1.0;
  for (int v = 0; v <= L.regressors; ++v) {
    if (is_missing(values[v])) return false;
    row[L.intercept + v] = values[v];
  }
  return true;
}

// The cross products [X y]'[X y] over the complete periods, in the leading
// p + 1 rows.
void accumulate(DependenceRequest &r, const Layout &L, int section) {
  for (int i = 0; i < packed_cells(L); ++i) r.sscp[i] = 0.0;
  for (int t = 1; t <= L.periods; ++t) {
    if (build_row(r.row, observation(r, L, section, t), L))
      accumulate_cross_products(r.row, L.coefficients + 1, 1.0, r.sscp);
  }
}

// Every position unswept and the sweep's scratch cleared.
void clear_pivot_state(DependenceRequest &r, const Layout &L) {
  for (int k = 0; k < L.order; ++k) {
    r.pivot_flags[k] = kNotSwept;
    r.sweep_work[k] = 0.0;
  }
}

// Borders X'X with the restrictions: moves the y row to position M and
// writes R, q and the zero block between, then saves the bordered matrix
// for a restart.
void border_with_restrictions(DependenceRequest &r, const Layout &L) {
  const int p = L.coefficients, M = L.dependent;
  double *S = r.sscp;
  cell(S, M, M) = cell(S, p, p);
  for (int s = 0; s < p; ++s) cell(S, M, s) = cell(S, p, s);
  for (int q = 0; q < L.restrictions; ++q) {
    for (int s = 0; s < p; ++s)
      cell(S, p + q, s) = r.restriction_coef[q * p + s];
    cell(S, p + q, M) = r.restriction_rhs[q];
  }
  for (int q = 0; q < L.restrictions; ++q)
    for (int j = 0; j <= q; ++j) cell(S, p + q, p + j) = 0.0;
  for (int i = 0; i < packed_cells(L); ++i) r.sscp_saved[i] = S[i];
}

// The column that restriction q fixes alone: the only coefficient whose
// magnitude exceeds the threshold, or -1 when there are none or several.
// The quiet comparison lets a NaN coefficient count as zero without a trap.
int fixed_column(const DependenceRequest &r, const Layout &L, int q) {
  const double *a = r.restriction_coef + q * L.coefficients;
  int column = -1;
  for (int s = 0; s < L.coefficients; ++s) {
    if (!std::isgreater(std::fabs(a[s]), kNonZeroCoefficient)) continue;
    if (column >= 0) return -1;
    column = s;
  }
  return column;
}

void sweep_position(DependenceRequest &r, const Layout &L, int k, double tol) {
  sweep(r.sscp, k, L.order, r.pivot_flags, r.sweep_work, tol);
}

// Sweeps the coefficient columns in order, giving (X'X)^-1 X'y in column M;
// returns how many pivots were refused as collinear.
int regressor_pass(DependenceRequest &r, const Layout &L) {
  int refused = 0;
  for (int k = 0; k < L.coefficients; ++k) {
    sweep_position(r, L, k, kPivotTolerance);
    if (r.pivot_flags[k] != kSwept) ++refused;
  }
  return refused;
}

// Sweeps the restriction rows (diagonal -R (X'X)^-1 R', hence the negative
// tolerance); a restriction taken that fixes a single coefficient marks
// that column.
void restriction_pass(DependenceRequest &r, const Layout &L) {
  for (int q = 0; q < L.restrictions; ++q) {
    const int k = L.coefficients + q;
    sweep_position(r, L, k, -kPivotTolerance);
    if (r.pivot_flags[k] != kSwept) continue;
    const int s = fixed_column(r, L, q);
    if (s >= 0) r.pivot_flags[s] = kFixedByRestriction;
  }
}

// Scale of the restart's tolerance: the smallest non-zero diagonal
// magnitude of the coefficient block, capped at the small scale; a NaN
// diagonal is passed over.
double retry_scale(const DependenceRequest &r, const Layout &L) {
  double scale = kSmallScale;
  for (int k = 0; k < L.coefficients; ++k) {
    const double d = cell(r.sscp, k, k);
    if (d != 0.0 && std::isless(std::fabs(d), scale)) scale = std::fabs(d);
  }
  return scale;
}

// Restart after a refused pivot under restrictions: from the bordered matrix with the columns fixed by single
// restrictions held back, then sweeps those and the restriction rows with a
// tolerance scaled to the smallest diagonal.
void retry_pass(DependenceRequest &r, const Layout &L) {
  for (int i = 0; i < packed_cells(L); ++i) r.sscp[i] = r.sscp_saved[i];
  clear_pivot_state(r, L);
  for (int q = 0; q < L.restrictions; ++q) {
    const int s = fixed_column(r, L, q);
    if (s >= 0) r.pivot_flags[s] = kHeldForRetry;
  }
  for (int k = 0; k < L.coefficients; ++k)
    if (r.pivot_flags[k] != kHeldForRetry)
      sweep_position(r, L, k, kPivotTolerance);
  const double tol = 0.0 - retry_scale(r, L) * kSmallScale;
  for (int k = 0; k < L.dependent; ++k) {
    if (r.pivot_flags[k] == kHeldForRetry) {
      r.pivot_flags[k] = kNotSwept;
      sweep_position(r, L, k, tol);
      r.pivot_flags[k] = kHeldForRetry;
    } else if (r.pivot_flags[k] == kNotSwept && k >= L.coefficients) {
      sweep_position(r, L, k, tol);
    }
  }
}

// Near-perfect fit: a residual sum of squares below the small scale in
// magnitude flags the request; the quiet comparison lets a NaN pass without effect.
void check_fit(DependenceRequest &r, const Layout &L) {
  const double rss = cell(r.sscp, L.dependent, L.dependent);
  if (std::isless(std::fabs(rss), kSmallScale)) r.near_perfect_fit = 1;
}

// The coefficients: column M of the swept matrix, 0 for every column left
// unswept.
void read_coefficients(const DependenceRequest &r, const Layout &L,
                       double *coefficients) {
  for (int s = 0; s < L.coefficients; ++s)
    coefficients[s] = r.pivot_flags[s] == kNotSwept
                          ? 0.0
                          : cell(r.sscp, s, L.dependent);
}

// y - b_0 - sum_v b_{c+v} x_v, one term at a time in column order.
double residual_of(const double *values, const Layout &L,
                   const double *coefficients) {
  double e = values[L.regressors];
  if (L.intercept == 1) e = e - coefficients[0];
  for (int v = 0; v < L.regressors; ++v)
    e = e - coefficients[L.intercept + v] * values[v];
  return e;
}

// The residuals e_t = y_t - x_t'b of cross-section `section`, every
// stride-th element from out, missing exactly where the period was left out of the
// fit.
void store_residuals(const DependenceRequest &r, const Layout &L, int section,
                     const double *coefficients, double *out,
                     std::int64_t stride) {
  for (int t = 1; t <= L.periods; ++t) {
    const double *values = observation(r, L, section, t);
    out[(t - 1) * stride] = any_missing(values, L.regressors + 1)
                                ? kMissingResult
                                : residual_of(values, L, coefficients);
  }
}

}  // namespace

void regress_cross_section(DependenceRequest &request, int section,
                           double *coefficients, double *out,
                           std::int64_t stride) {
  const Layout L = layout_of(request);
  accumulate(request, L, section);
  request.status = 0;
  clear_pivot_state(request, L);
  if (L.restrictions >= 1) border_with_restrictions(request, L);
  const int refused = regressor_pass(request, L);
  if (L.restrictions >= 1) {
    if (refused == 0)
      restriction_pass(request, L);
    else
      retry_pass(request, L);
  }
  check_fit(request, L);
  read_coefficients(request, L, coefficients);
  store_residuals(request, L, section, coefficients, out, stride);
}

}  // namespace qvd
