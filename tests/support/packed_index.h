// Packed symmetric storage as the module lays it out (the lower triangle
// row after row, so row i starts at i(i+1)/2), written independently of
// the module's own packed_index so that tests can check against it.
#ifndef QVDEP_TESTS_SUPPORT_PACKED_INDEX_H
#define QVDEP_TESTS_SUPPORT_PACKED_INDEX_H

#include <algorithm>
#include <cstddef>

namespace qvd::testing {

// Index of (i, j) == (j, i) in a packed symmetric matrix, from 0.
inline std::size_t packed(int i, int j) {
  const std::size_t lo = static_cast<std::size_t>(std::min(i, j));
  const std::size_t hi = static_cast<std::size_t>(std::max(i, j));
  return lo + hi * (hi + 1) / 2;
}

// Number of cells of a packed symmetric matrix of order n.
inline std::size_t packed_cells(int n) {
  return static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 1) / 2;
}

}  // namespace qvd::testing

#endif
