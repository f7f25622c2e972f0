// Rank-one accumulation of an observation row into a packed cross-product
// matrix: S(i, j) += (w * x[i]) * x[j] for every j <= i < n with x[i] != 0.
#ifndef QVDEP_MATRIX_CROSS_PRODUCTS_H
#define QVDEP_MATRIX_CROSS_PRODUCTS_H

namespace qvd {

// Returns 1 when the row was added, 0 when it was refused (a missing value
// in the row, a missing weight or a zero weight), in which case S is
// untouched.
int accumulate_cross_products(const double *x, int n, double w, double *S);

// y[j] := a * x[j] + y[j] for j in [0, n). Lengths 1 and 2 directly, longer
// ones through the BLAS daxpy under the masked floating-point setting.
void scaled_add(double *y, const double *x, int n, double a);

}  // namespace qvd

#endif
