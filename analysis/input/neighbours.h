// Which pairs of cross-sections are neighbours: the pairs a local test of
// cross-sectional dependence sums over. Either a band, the pairs at most p
// apart in panel order (the local CD(p)), or any set a proximity matrix
// names (proximity.h), as R's plm takes its matrix w.
//
// A named set keeps one bit a pair, the strict lower triangle in panel
// order: pair (i, j), i < j, at bit i + j (j - 1)/2. At 10,000
// cross-sections that is 6 MB; a band keeps nothing.
#ifndef QVDEP_ANALYSIS_INPUT_NEIGHBOURS_H
#define QVDEP_ANALYSIS_INPUT_NEIGHBOURS_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvd::analysis {

class Neighbours {
 public:
  // No pair yet among `sections` cross-sections; add() names them.
  explicit Neighbours(std::size_t sections = 0);
  // The pairs i < j with j - i <= order (order 1 or more; INT_MAX: every pair).
  static Neighbours band(std::size_t sections, int order);

  // Makes i and j neighbours (i != j, either order; both below sections()).
  // Only for a set named pair by pair.
  void add(std::size_t i, std::size_t j);
  // Whether i < j are neighbours.
  bool contains(std::size_t i, std::size_t j) const {
    if (order_ > 0) return j - i <= static_cast<std::size_t>(order_);
    const std::size_t bit = i + j * (j - 1) / 2;
    return (bits_[bit / 64] >> (bit % 64) & 1) != 0;
  }

  std::size_t sections() const { return sections_; }
  // p of a band, 0 for a set named pair by pair.
  int order() const { return order_; }
  // The number of neighbour pairs.
  std::size_t pairs() const;

  // The same pairs among the same number of cross-sections, however given.
  bool operator==(const Neighbours &other) const;

 private:
  std::size_t sections_ = 0;
  int order_ = 0;
  std::vector<std::uint64_t> bits_;
};

}  // namespace qvd::analysis

#endif
