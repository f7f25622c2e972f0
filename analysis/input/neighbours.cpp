#include "analysis/input/neighbours.h"

#include <algorithm>
#include <bit>
#include <string>
#include <utility>

#include "analysis/common/errors.h"

namespace qvd::analysis {

Neighbours::Neighbours(std::size_t sections)
    : sections_(sections), bits_((sections * (sections > 0 ? sections - 1 : 0) / 2 + 63) / 64, 0) {}

Neighbours Neighbours::band(std::size_t sections, int order) {
  if (order < 1)
    throw InputError("the neighbourhood order must be 1 or more, not " + std::to_string(order));
  Neighbours band;
  band.sections_ = sections;
  band.order_ = order;
  return band;
}

void Neighbours::add(std::size_t i, std::size_t j) {
  if (i > j) std::swap(i, j);
  const std::size_t bit = i + j * (j - 1) / 2;
  bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
}

std::size_t Neighbours::pairs() const {
  if (order_ == 0) {
    std::size_t count = 0;
    for (const std::uint64_t word : bits_) count += static_cast<std::size_t>(std::popcount(word));
    return count;
  }
  std::size_t count = 0;
  for (std::size_t i = 0; i < sections_; ++i)
    count += std::min(static_cast<std::size_t>(order_), sections_ - 1 - i);
  return count;
}

bool Neighbours::operator==(const Neighbours &other) const {
  if (sections_ != other.sections_) return false;
  if (order_ == 0 && other.order_ == 0) return bits_ == other.bits_;
  for (std::size_t j = 1; j < sections_; ++j)
    for (std::size_t i = 0; i < j; ++i)
      if (contains(i, j) != other.contains(i, j)) return false;
  return true;
}

}  // namespace qvd::analysis
