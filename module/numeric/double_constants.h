// Double-precision constants, as stored, and bit tests shared by the
// numerical code.
#ifndef QVDEP_NUMERIC_DOUBLE_CONSTANTS_H
#define QVDEP_NUMERIC_DOUBLE_CONSTANTS_H

#include <bit>
#include <cstdint>

namespace qvd {

inline constexpr double kLargestDouble = 1.7976931348623157e308;
// ln of the largest double: e^t overflows beyond it.
inline constexpr double kLnLargestDouble = 709.782712893384;
// ln sqrt(2 pi), the constant of Stirling's formula.
inline constexpr double kLnSqrt2Pi = 0.9189385332046728;
// Two units in the last place above 2^-53 (bits 0x3CA0000000000002): the
// relative tolerance of pivots, exact zeros and negligible corrections.
inline constexpr double kHalfEpsilonPlus2Ulps = 1.110223024625157e-16;
static_assert(std::bit_cast<std::uint64_t>(kHalfEpsilonPlus2Ulps) ==
              0x3CA0000000000002ull);

// NaN tested and quietened by its bits alone, so that a NaN never reaches
// a comparison, which would trap under the host's setting.
constexpr bool is_nan_bits(double v) {
  return (std::bit_cast<std::uint64_t>(v) & 0x7FFFFFFFFFFFFFFFull) >
         0x7FF0000000000000ull;
}

constexpr double quieted_nan(double nan) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(nan) |
                               0x0008000000000000ull);
}

}  // namespace qvd

#endif
