// The sweep operator on a packed symmetric matrix, written as its plain
// scalar definition: the vector variants are checked against it bit for bit.
//
// With d = S(k, k) and c = 1/d, the accepted sweep replaces the full matrix
// F by F'[k][k] = c, F'[k][j] = F[k][j] c, F'[i][k] = -F[i][k] c and
// F'[i][j] = F[i][j] - F[i][k] F[k][j] c. Packed storage keeps one triangle,
// so the signs of the swept/unswept off-diagonal blocks follow from the
// pivot flags: row x has sign s(x) = +1 when its swept state equals the
// state k had before the call, -1 otherwise.
//
// Every negation is 0 - x (a +0 stays +0), and every cell update is a
// rounded product followed by a rounded difference, never fused, so the
// result is determined to the last bit. Every product keeps its factors in
// the order written (the cell, or the saved value, first), so that where two
// NaNs meet the result is the first one's, quietened, in every variant.
#include "matrix/sweep.h"

#include <cmath>

#include "matrix/ordered_product.h"

namespace qvd {

namespace {

constexpr char kSwept = '1';
constexpr char kNotSwept = '0';

int row_start(int i) { return i * (i + 1) / 2; }

}  // namespace

void sweep_reference(double *S, int k, int n, char *flags, double *work,
                     double tol) {
  double *const pivot_row = S + row_start(k);
  const double d = pivot_row[k];

  // 1. Pivot test. tol >= 0 (either zero) demands d > tol; a negative tol
  // demands |d| > -tol. A NaN on either side never refuses.
  if (tol >= 0.0) {
    if (tol >= d) return;
  } else if (-tol >= std::fabs(d)) {
    return;
  }

  // 2. The pivot becomes its reciprocal.
  const double c = 1.0 / d;
  pivot_row[k] = c;

  // 3. Flip the pivot's state; s(x) = +1 when row x is in k's old state.
  const bool f = flags[k] == kSwept;
  flags[k] = f ? kNotSwept : kSwept;
  auto same_state = [&](int x) { return (flags[x] == kSwept) == f; };

  // 4. Pivot row left of the diagonal: keep the old value, store the signed
  // scaled value that the rows above need as their multiplier.
  for (int j = 0; j < k; ++j) {
    work[j] = pivot_row[j];
    const double t = ordered_product(pivot_row[j], c);
    pivot_row[j] = same_state(j) ? t : 0.0 - t;
  }

  // 5. The pivot itself drops out of the rank-one update.
  work[k] = 0.0;

  // 6. Pivot column below the diagonal (strided): keep the signed old
  // value, store the final scaled value.
  for (int i = k + 1; i < n; ++i) {
    double &cell = S[row_start(i) + k];
    work[i] = same_state(i) ? cell : 0.0 - cell;
    cell = ordered_product(cell, c);
  }

  // 7. Rows above the pivot, multiplier from the pivot row.
  for (int i = 0; i < k; ++i) {
    double *const row = S + row_start(i);
    const double g = pivot_row[i];
    for (int j = 0; j <= i; ++j) row[j] = row[j] - ordered_product(work[j], g);
  }

  // 8. Rows below the pivot, multiplier from the pivot column; the cell
  // (i, k) itself receives - (+0 * g).
  for (int i = k + 1; i < n; ++i) {
    double *const row = S + row_start(i);
    const double g = row[k];
    for (int j = 0; j <= i; ++j) row[j] = row[j] - ordered_product(work[j], g);
  }

  // 9. Pivot row again: with step 4 every cell ends at 0 - (old * c).
  for (int j = 0; j < k; ++j) {
    if (same_state(j)) pivot_row[j] = 0.0 - pivot_row[j];
  }
}

}  // namespace qvd
