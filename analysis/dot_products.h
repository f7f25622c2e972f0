// Every dot product of one set of vectors with another, in a fixed order of
// summation that no thread, buffer address or library changes.
//
//   out[c ld + r] = sum_{s < t} a[r t + s] b[c t + s],   r < rows, c < cols,
//
// each vector contiguous (t doubles). Each sum is formed in eight lanes, lane
// l holding the terms s = l, l + 8, l + 16, ... accumulated in that order by
// fused multiply-adds from +0, and the lanes are then added as
//   ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7)).
// The error is that of any pairwise-in-eight summation: at most about
// (t/8 + 3) u sum_s |a_s b_s|, u = 2^-53.
//
// The kernel keeps a tile of 4 vectors of `a` by 6 of `b` (24 sums of
// eight lanes) in AVX-512 registers while it runs down the vectors, so every
// element it loads takes part in 4 or 6 multiply-adds. It needs AVX-512F;
// `dot_products_available()` says whether this processor and build have
// it, and nothing else may call `dot_products` where it does not. Unlike the
// system's BLAS, it may run on several threads at once.
#ifndef QVDEP_ANALYSIS_DOT_PRODUCTS_H
#define QVDEP_ANALYSIS_DOT_PRODUCTS_H

#include <cstddef>

namespace qvd::analysis {

bool dot_products_available();

void dot_products(const double *a, std::size_t rows, const double *b, std::size_t cols,
                  std::size_t t, double *out, std::size_t ld);

}  // namespace qvd::analysis

#endif
