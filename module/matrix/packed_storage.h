// Packed symmetric storage: the lower triangle row after row, so row i
// (elements (i,0)..(i,i)) starts at i(i+1)/2 and its diagonal sits at
// i(i+3)/2. Index arithmetic is 32-bit signed; callers keep
// max(i,j)*(max(i,j)+1) within that range.
#ifndef QVDEP_MATRIX_PACKED_STORAGE_H
#define QVDEP_MATRIX_PACKED_STORAGE_H

namespace qvd {

// Index of element (i, j) == element (j, i).
int packed_index(int i, int j);

// 1 as soon as an element of x[0..n) is a missing value, else 0.
int any_missing(const double *x, int n);

}  // namespace qvd

#endif
