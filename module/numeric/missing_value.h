// Missing values. An input double is missing when its top 16 bits are all
// ones, whatever the other 48 hold; the module marks a missing result with
// one particular quiet NaN of that form.
#ifndef QVDEP_NUMERIC_MISSING_VALUE_H
#define QVDEP_NUMERIC_MISSING_VALUE_H

#include <bit>
#include <cstdint>

#include "qvdep.h"

namespace qvd {

inline constexpr double kMissingResult =
    std::bit_cast<double>(std::uint64_t{QVDEP_MISSING_RESULT_BITS});

// Looks at the bits only, so it never touches the floating-point unit and
// cannot trap on a NaN.
constexpr bool is_missing(double v) {
  return (std::bit_cast<std::uint64_t>(v) >> 48) == 0xFFFF;
}

static_assert(is_missing(kMissingResult));

}  // namespace qvd

#endif
