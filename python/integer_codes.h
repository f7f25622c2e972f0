// Integer labels (a DataFrame's id or period column of integers) coded by
// order of first appearance, as pandas.factorize(..., sort=False) codes
// them: code c for the c-th distinct value met, and the distinct values in
// that order.
//
// pandas builds a hash table sized for every row, so each call on a column
// of 500,000 rows asks for several megabytes; on a virtual machine, where
// every fresh page costs a fault, that took 2 to 21 ms a call for the ids
// alone. Panels rarely have many distinct labels, and their rows come in
// runs of one label (the periods of a cross-section) or cycle through a
// narrow range (years, numbered firms): a row equal to the one before takes
// its code, and a label within a range of at most kDenseLabels values (or
// of the rows' count, if more) is looked up in a table indexed by the
// value. Any other goes through a hash map that grows with the distinct
// labels only.
#ifndef QVDEP_PYTHON_INTEGER_CODES_H
#define QVDEP_PYTHON_INTEGER_CODES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvd::python {

inline constexpr std::uint64_t kDenseLabels = std::uint64_t{1} << 16;

// Writes the code of values[r] to codes[r] (r < count) and returns the
// distinct values in order of first appearance.
std::vector<std::int64_t> code_integers(const std::int64_t *values, std::size_t count,
                                        std::int64_t *codes);

}  // namespace qvd::python

#endif
