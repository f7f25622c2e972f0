// Rank-one accumulation of one weighted observation row into a packed
// cross-product matrix, S(i, j) += (w * x[i]) * x[j] for j <= i < n.
//
// Packed row i holds (i, 0)..(i, i) contiguously and its source is the head
// x[0..i] of the row, so the whole update of a row is one vector operation
// y := a * x + y of length i + 1. Lengths 1 and 2 are done here with a
// rounded product and a rounded sum; longer ones go to the BLAS daxpy, which
// may fuse the two roundings into one, so results agree across processors
// to rounding rather than bit for bit.
#include "matrix/cross_products.h"

#include "matrix/packed_storage.h"
#include "numeric/masked_fp_call.h"
#include "numeric/missing_value.h"

extern "C" {
// BLAS level 1, Fortran calling convention: every argument by reference.
void daxpy_(const int *n, const double *da, const double *dx, const int *incx,
            double *dy, const int *incy);
}

namespace qvd {

namespace {
constexpr int kUnitStride = 1;
}  // namespace

void scaled_add(double *y, const double *x, int n, double a) {
  // A NaN factor is not equal to zero and goes through.
  if (n <= 0 || a == 0.0) return;
  if (n <= 2) {
    for (int j = 0; j < n; ++j) y[j] = a * x[j] + y[j];
    return;
  }
  // The library may evaluate lanes in any order and with fused operations;
  // it runs masked and its recorded faults are raised once afterwards.
  masked_fp_call([&] { daxpy_(&n, &a, x, &kUnitStride, y, &kUnitStride); });
}

int accumulate_cross_products(const double *x, int n, double w, double *S) {
  // The whole row is scanned before any cell is written, so a refused row
  // leaves no partial update behind.
  if (any_missing(x, n)) return 0;
  if (is_missing(w)) return 0;
  if (w == 0.0) return 0;  // +0 and -0; a NaN weight that is not missing passes
  for (int i = 0; i < n; ++i) {
    // Only the element owning the row is tested: a zero elsewhere still
    // contributes its product a * 0.
    if (x[i] == 0.0) continue;
    const double a = w * x[i];
    scaled_add(S + i * (i + 1) / 2, x, i + 1, a);
  }
  return 1;
}

}  // namespace qvd
