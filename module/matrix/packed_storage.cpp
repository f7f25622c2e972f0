// Packed symmetric storage and the missing-value scan of an observation row.
//
// The lower triangle is kept row after row, so element (i, j) with j <= i
// lives at j + i(i+1)/2. i(i+1) is the product of two consecutive integers
// and therefore even: the halving is exact. The arithmetic is 32-bit signed,
// as every caller's matrix order keeps i(i+1) within that range.
#include "matrix/packed_storage.h"

#include "numeric/missing_value.h"

namespace qvd {

int packed_index(int i, int j) {
  const int lo = i < j ? i : j;
  const int hi = i < j ? j : i;
  return lo + hi * (hi + 1) / 2;
}

// Tests the bit pattern only, so a NaN in the row never reaches the
// floating-point unit (and cannot trap under the host's setting).
int any_missing(const double *x, int n) {
  for (int i = 0; i < n; ++i) {
    if (is_missing(x[i])) return 1;
  }
  return 0;
}

}  // namespace qvd
