// Every dot product of one set of vectors with another, in a fixed order of
// summation that no thread, buffer address or library changes.
//
//   out[c ld + r] = sum_{s < t} a[r t + s] b[c t + s],   r < rows, c < cols,
//
// each vector contiguous (t doubles). Each sum is accumulated in the order
// s = 0, 1, ..., t - 1 by fused multiply-adds from +0,
//   p <- fma(a_s, b_s, p),
// so its error is that of recursive summation of the exact products: at
// most about t u sum_s |a_s b_s|, u = 2^-53 (of order sqrt(t) u in practice).
//
// The kernel works the way a matrix product does: it copies `a` into
// panels of 32 vectors laid out period by period, and keeps a tile of 32
// sums (four AVX-512 registers) by 6 vectors of `b` in registers while it
// runs down the periods. Each period loads the panel's 32 values once and
// broadcasts one value of each of the 6 vectors of `b`, for 24 vector
// multiply-adds; no sum needs its lanes added at the end. It needs
// AVX-512F; `dot_products_available()` says whether this processor and
// build have it, and nothing else may use `DotProductPanels` where it does
// not. Unlike the tools' serial OpenBLAS, it may run on several threads at once.
#ifndef QVDEP_ANALYSIS_LINALG_DOT_PRODUCTS_H
#define QVDEP_ANALYSIS_LINALG_DOT_PRODUCTS_H

#include <cstddef>
#include <vector>

namespace qvd::analysis {

bool dot_products_available();

// pack() copies the `rows` vectors of `a` into the kernel's panels (reusing
// the storage of an earlier call); each multiply() then forms their
// products with `cols` vectors of `b` into `out`, so one `a` can meet `b` a
// part at a time. The kernel takes `b` six vectors at a time, so parts of a
// multiple of six vectors keep every tile whole.
class DotProductPanels {
 public:
  static constexpr std::size_t kVectorsPerTile = 6;
  void pack(const double *a, std::size_t rows, std::size_t t);
  void multiply(const double *b, std::size_t cols, double *out, std::size_t ld) const;

 private:
  std::vector<double> panels_;
  std::size_t rows_ = 0, t_ = 0;
};

}  // namespace qvd::analysis

#endif
