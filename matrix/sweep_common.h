// Pieces of the sweep shared by its vector variants: the pivot test, the
// strided pivot column (scalar in every variant) and the split of a
// contiguous stretch into an alignment prologue, whole vector blocks and a
// scalar tail. See sweep_reference.cpp for the operator itself.
#ifndef QVDEP_MATRIX_SWEEP_COMMON_H
#define QVDEP_MATRIX_SWEEP_COMMON_H

#include <cmath>
#include <cstdint>

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
    cell = cell * c;
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

}  // namespace qvd::sweep_detail

#endif
