// NaN bit patterns that probe how code treats a NaN: quiet and signalling,
// both signs, empty and full payloads, and the missing-value forms (top 16
// bits all ones) including the module's own kMissingResult.
#ifndef QVDEP_TESTS_SUPPORT_NAN_PATTERNS_H
#define QVDEP_TESTS_SUPPORT_NAN_PATTERNS_H

#include <cstdint>

namespace qvd::testing {

// The bit that makes a NaN quiet.
inline constexpr std::uint64_t kQuietBit = 0x0008000000000000ull;

inline constexpr std::uint64_t kNaNPatterns[] = {
    0x7FF8000000000000ull,  // the default quiet NaN
    0xFFF8000000000000ull,  // its negative
    0x7FFFFFFFFFFFFFFFull,  // quiet, full payload
    0xFFFFD10000000000ull,  // kMissingResult
    0xFFFF000000000001ull,  // missing, low payload bit
    0x7FF0000000000001ull,  // signalling, smallest payload
    0xFFF0000000000001ull,  // its negative
    0x7FF4000000000000ull,  // signalling, top payload bit
    0xFFF7FFFFFFFFFFFFull,  // signalling, full payload, negative
};

}  // namespace qvd::testing

#endif
