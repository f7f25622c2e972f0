#include "python/integer_codes.h"

#include <algorithm>
#include <unordered_map>

namespace qvd::python {
namespace {

// The codes through `code_of(value)`, which gives a value's code or, for a
// value not met before, the next one; a row equal to the one before takes
// its code without a lookup.
template <typename CodeOf>
void code_rows(const std::int64_t *values, std::size_t count, std::int64_t *codes,
               CodeOf code_of) {
  for (std::size_t r = 0; r < count; ++r)
    codes[r] = r > 0 && values[r] == values[r - 1] ? codes[r - 1] : code_of(values[r]);
}

}  // namespace

std::vector<std::int64_t> code_integers(const std::int64_t *values, std::size_t count,
                                        std::int64_t *codes) {
  std::vector<std::int64_t> distinct;
  if (count == 0) return distinct;
  const auto [low, high] = std::minmax_element(values, values + count);
  // The width of the range less one, in unsigned arithmetic, which cannot
  // overflow however far apart the two ends are.
  const std::uint64_t span = static_cast<std::uint64_t>(*high) - static_cast<std::uint64_t>(*low);
  if (span < std::max<std::uint64_t>(kDenseLabels, count)) {
    const std::int64_t first = *low;
    std::vector<std::int64_t> code_at(span + 1, -1);  // by value - first
    code_rows(values, count, codes, [&](std::int64_t v) {
      std::int64_t &code = code_at[static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(first)];
      if (code < 0) {
        code = static_cast<std::int64_t>(distinct.size());
        distinct.push_back(v);
      }
      return code;
    });
    return distinct;
  }
  std::unordered_map<std::int64_t, std::int64_t> code_of;
  code_rows(values, count, codes, [&](std::int64_t v) {
    const auto [at, added] = code_of.emplace(v, static_cast<std::int64_t>(distinct.size()));
    if (added) distinct.push_back(v);
    return at->second;
  });
  return distinct;
}

}  // namespace qvd::python
