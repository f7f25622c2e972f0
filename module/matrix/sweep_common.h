// Pieces of the sweep shared by its vector variants: the pivot test, the
// strided pivot column (scalar in every variant) and the split of a
// contiguous stretch into an alignment prologue, whole vector blocks and a
// scalar tail. See sweep_reference.cpp for the operator itself.
#ifndef QVDEP_MATRIX_SWEEP_COMMON_H
#define QVDEP_MATRIX_SWEEP_COMMON_H

#include <cmath>
#include <cstdint>

#include "matrix/ordered_product.h"

namespace qvd::sweep_detail {

inline constexpr char kSwept = '1';
inline constexpr char kNotSwept = '0';

inline int row_start(int i) { return i * (i + 1) / 2; }

// tol >= 0 (either zero) demands d > tol; a negative tol demands
// |d| > -tol. A NaN on either side never refuses.
inline bool pivot_refused(double d, double tol) {
  if (tol >= 0.0) return tol >= d;
  return -tol >= std::fabs(d);
}

// Step 6: the pivot column below the diagonal is strided, so it runs scalar.
// work[i] keeps the signed old value, the cell its final scaled value.
inline void scale_pivot_column(double *S, int k, int n, const char *flags,
                               double *work, double c, bool f) {
  for (int i = k + 1; i < n; ++i) {
    double &cell = S[row_start(i) + k];
    work[i] = ((flags[i] == kSwept) == f) ? cell : 0.0 - cell;
    cell = ordered_product(cell, c);
  }
}

// Number of leading scalar iterations of a stretch of len doubles starting
// at dest before dest + head is aligned to `alignment` bytes. A stretch that
// is not even 8-byte aligned can never reach alignment and runs scalar
// throughout (head == len); so does one too short for a single block.
inline int scalar_head(const double *dest, int len, unsigned alignment) {
  const auto address = reinterpret_cast<std::uintptr_t>(dest);
  if (address % sizeof(double) != 0) return len;
  const auto misalignment = address % alignment;
  const int head =
      misalignment == 0
          ? 0
          : static_cast<int>((alignment - misalignment) / sizeof(double));
  return head < len ? head : len;
}

// The sweep of pivot k around a variant's row kernels (steps 4, 7, 8 and 9
// vectorised by the variant; the pivot test, the reciprocal, the flag and
// the strided pivot column are common):
//   scale_pivot_row(pivot_row, work, flags, k, c, f)
//   update_row(row, work, len, g)
//   finish_pivot_row(pivot_row, flags, k, f)
template <auto scale_pivot_row, auto update_row, auto finish_pivot_row>
void sweep_with(double *S, int k, int n, char *flags, double *work, double tol) {
  double *const pivot_row = S + row_start(k);
  const double d = pivot_row[k];
  if (pivot_refused(d, tol)) return;

  const double c = 1.0 / d;
  pivot_row[k] = c;
  const bool f = flags[k] == kSwept;
  flags[k] = f ? kNotSwept : kSwept;

  scale_pivot_row(pivot_row, work, flags, k, c, f);
  work[k] = 0.0;
  scale_pivot_column(S, k, n, flags, work, c, f);
  for (int i = 0; i < k; ++i) {
    update_row(S + row_start(i), work, i + 1, pivot_row[i]);
  }
  for (int i = k + 1; i < n; ++i) {
    double *const row = S + row_start(i);
    update_row(row, work, i + 1, row[k]);
  }
  finish_pivot_row(pivot_row, flags, k, f);
}

}  // namespace qvd::sweep_detail

#endif
