// Symmetric N-by-N tables kept as their lower triangle, row after row, the
// way the module leaves its correlations: cell (i, j) at
// min(i, j) + max(i, j) (max(i, j) + 1)/2, N(N + 1)/2 cells in all. At
// 10,000 cross-sections that is 400 MB of doubles, against 800 MB for the
// whole square.
//
// The sums over pairs go through the pairs i < j row after row (i, then j),
// the module's order. In the packed layout such a row is a column of the
// triangle, one cell per stretch of the table; UpperRows reads a band of
// rows at once instead, copying for every column j the band's cells above
// the diagonal, which lie side by side, into rows of its own.
#ifndef QVDEP_ANALYSIS_LINALG_PACKED_TRIANGLE_H
#define QVDEP_ANALYSIS_LINALG_PACKED_TRIANGLE_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qvd::analysis {

constexpr std::size_t packed_cells(std::size_t n) { return n * (n + 1) / 2; }

constexpr std::size_t packed_index(std::size_t i, std::size_t j) {
  return i < j ? i + j * (j + 1) / 2 : j + i * (i + 1) / 2;
}

// Cell (i, j) of a packed table, or `absent` when the table is empty (a
// table left out because every cell would hold the same value).
template <typename T>
T packed_cell_or(const std::vector<T> &table, T absent, std::size_t i, std::size_t j) {
  return table.empty() ? absent : table[packed_index(i, j)];
}

// The cells (i, j), j > i, of a packed table of N rows, a band of rows at a
// time:
//
//   UpperRows<double> rows(packed, n);
//   for (std::size_t i = 0; i < n; ++i) {
//     const double *row = rows.row(i);    // row[j] is cell (i, j) for j > i
//     ...
//   }
//
// Rows must be asked for in increasing order.
template <typename T>
class UpperRows {
 public:
  static constexpr std::size_t kBand = 32;

  UpperRows(const T *packed, std::size_t n) : packed_(packed), n_(n), band_(kBand * n) {}

  const T *row(std::size_t i) {
    if (i >= end_ || i < begin_) load(i - i % kBand);
    return band_.data() + (i - begin_) * n_;
  }

 private:
  void load(std::size_t i0) {
    begin_ = i0;
    end_ = std::min(n_, i0 + kBand);
    for (std::size_t j = i0 + 1; j < n_; ++j) {
      const T *column = packed_ + j * (j + 1) / 2;  // cells (0, j) .. (j, j)
      const std::size_t last = std::min(end_, j);
      for (std::size_t i = i0; i < last; ++i) band_[(i - i0) * n_ + j] = column[i];
    }
  }

  const T *packed_;
  std::size_t n_;
  std::vector<T> band_;
  std::size_t begin_ = 0, end_ = 0;
};

}  // namespace qvd::analysis

#endif
