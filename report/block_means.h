// The correlation matrix reduced to blocks: the mean of the correlations of
// each block of b-by-b pairs that could be correlated (NaN where none
// could), the blocks of the last row and column cut at the matrix's edge.
// A heatmap too large to draw pair by pair draws these; with b = 1 each
// block is its pair, to the bit.
#ifndef QVDEP_REPORT_BLOCK_MEANS_H
#define QVDEP_REPORT_BLOCK_MEANS_H

#include <cstddef>
#include <vector>

#include "analysis/result/result.h"

namespace qvd::report {

// ceil(n / b): blocks along a side.
constexpr std::size_t blocks_along(std::size_t n, std::size_t block) {
  return (n + block - 1) / block;
}

// The smallest block that keeps the matrix within `side` blocks a side.
constexpr std::size_t block_for(std::size_t n, std::size_t side) {
  return n <= side ? 1 : (n + side - 1) / side;
}

// The means of block row `row`: blocks_along(n, block) of them, formed from
// the rows of that block alone, so a whole matrix costs one pass over the
// pairs and memory for one row of blocks.
std::vector<double> block_row_means(const analysis::Result &result, std::size_t block,
                                    std::size_t row);

}  // namespace qvd::report

#endif
