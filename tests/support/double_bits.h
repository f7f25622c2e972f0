// The special doubles the tests name again and again, and a double's bit
// pattern: the tests compare results bit for bit (a sign of zero, a NaN's
// payload), which == cannot.
#ifndef QVDEP_TESTS_SUPPORT_DOUBLE_BITS_H
#define QVDEP_TESTS_SUPPORT_DOUBLE_BITS_H

#include <bit>
#include <cstdint>
#include <limits>

namespace qvd::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

}  // namespace qvd::testing

#endif
