// The neighbours a caller names from Python (a matrix in panel order, one
// whose rows and columns are labelled by cross-section, or a list of pairs
// of cross-sections), copied into plain C++ data while the interpreter's
// lock is held. The analysis forms its Neighbours from the copy on a
// thread of its own, where no Python object may be touched, once the
// panel's cross-sections are known; it is checked there against them
// (proximity.h: size, unknown ids, triangles that disagree, no neighbour).
//
// Once formed, the copy gives way to what it formed, one bit a pair: a
// result keeps its options, and an N x N matrix of doubles (800 MB at
// N = 10,000) would otherwise live as long as the result.
#ifndef QVDEP_PYTHON_NEIGHBOUR_COPY_H
#define QVDEP_PYTHON_NEIGHBOUR_COPY_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/input/neighbours.h"

namespace qvd::python {

struct NeighbourCopy {
  enum class Form { matrix, labelled, pairs };
  Form form = Form::matrix;
  // matrix and labelled: rows x columns cells, row after row.
  std::size_t rows = 0, columns = 0;
  std::vector<double> cells;
  std::vector<std::string> row_ids, column_ids;         // labelled
  std::vector<std::pair<std::string, std::string>> pairs;  // pairs
  std::string source;  // how messages name the neighbours
};

using NeighboursOf = std::function<analysis::Neighbours(const std::vector<std::string> &ids)>;

// Options::neighbours for the copy: the neighbours among the panel's
// cross-sections `ids` (their labels in panel order). Safe to call from
// any thread; throws InputError as proximity.h does.
NeighboursOf neighbours_from(NeighbourCopy copy);

}  // namespace qvd::python

#endif
