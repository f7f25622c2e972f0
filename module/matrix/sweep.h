// The sweep operator on a packed symmetric matrix, one pivot at a time.
//
// Sweeping pivot k with d = S(k,k) divides the pivot row by d, the pivot
// column by -d, replaces d by 1/d and subtracts the rank-one update from the
// rest; sweeping k again takes it back out. flags[r] == '1' marks a swept
// row; the sweep writes only the flag of its own pivot, and only '1' or '0'.
// Whether the pivot was taken shows only in flags[k].
//
// Tolerance: tol >= 0 refuses the pivot when tol >= d; tol < 0 refuses it
// when -tol >= |d|.
#ifndef QVDEP_MATRIX_SWEEP_H
#define QVDEP_MATRIX_SWEEP_H

namespace qvd {

// Picks the AVX or the SSE2 variant by the processor feature level; both
// give the same bits.
void sweep(double *S, int k, int n, char *flags, double *work, double tol);

// The variants, and the plain scalar definition they are checked against.
void sweep_reference(double *S, int k, int n, char *flags, double *work,
                     double tol);
void sweep_sse2(double *S, int k, int n, char *flags, double *work,
                double tol);
void sweep_avx(double *S, int k, int n, char *flags, double *work, double tol);

}  // namespace qvd

#endif
