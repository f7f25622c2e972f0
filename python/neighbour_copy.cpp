#include "python/neighbour_copy.h"

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "analysis/input/proximity.h"

namespace qvd::python {
namespace {

analysis::Neighbours formed(const NeighbourCopy &c, const std::vector<std::string> &ids) {
  switch (c.form) {
    case NeighbourCopy::Form::matrix:
      return analysis::proximity_matrix(c.cells.data(), c.rows, c.columns, ids, c.source);
    case NeighbourCopy::Form::labelled:
      return analysis::proximity_matrix(c.row_ids, c.column_ids, c.cells.data(), ids, c.source);
    case NeighbourCopy::Form::pairs: break;
  }
  return analysis::neighbour_pairs(c.pairs, ids, c.source);
}

// The copy until it has formed the neighbours, then those and the
// cross-sections they were formed for.
struct Shared {
  std::mutex lock;
  std::optional<NeighbourCopy> copy;
  std::vector<std::string> ids;
  std::optional<analysis::Neighbours> neighbours;
};

}  // namespace

NeighboursOf neighbours_from(NeighbourCopy copy) {
  auto shared = std::make_shared<Shared>();
  shared->copy = std::move(copy);
  return [shared](const std::vector<std::string> &ids) {
    const std::lock_guard<std::mutex> held(shared->lock);
    if (shared->copy) {
      shared->neighbours = formed(*shared->copy, ids);
      shared->ids = ids;
      shared->copy.reset();
    } else if (ids != shared->ids) {
      throw std::logic_error("the neighbours were formed for another panel's cross-sections");
    }
    return *shared->neighbours;
  };
}

}  // namespace qvd::python
