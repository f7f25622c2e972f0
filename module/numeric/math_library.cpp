#include "numeric/math_library.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/raise_exception.h"
#include "numeric/double_constants.h"
#include "numeric/fault_codes.h"

namespace qvd {
namespace {

constexpr int kLdexpClamp = 65536;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kSignBit = 0x8000000000000000ull;
constexpr std::uint64_t kExponentBits = 0x7FF0000000000000ull;

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

bool is_subnormal_bits(double x) {
  const std::uint64_t magnitude = bits(x) & ~kSignBit;
  return magnitude != 0 && magnitude < 0x0010000000000000ull;
}

}  // namespace

double lib_log(double x) {
  if (is_nan_bits(x)) return quieted_nan(x);
  if ((bits(x) & ~kSignBit) == 0) {
    raise_exception(kFaultDivideByZero);
    return -kInfinity;
  }
  if (bits(x) & kSignBit) {
    raise_exception(kFaultNegativeLogarithm);
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::log(x);
}

double lib_ldexp(double v, int n) {
  if (is_nan_bits(v)) return quieted_nan(v);
  const std::uint64_t magnitude = bits(v) & ~kSignBit;
  if (magnitude == 0 || magnitude == kExponentBits) return v;
  n = std::clamp(n, -kLdexpClamp, kLdexpClamp);
  if (is_subnormal_bits(v) && n < 0) return 0.0;
  int e = 0;
  const double f = std::frexp(v, &e);  // v = f * 2^e, exact
  if (e + n > std::numeric_limits<double>::max_exponent) {
    raise_exception(kFaultOverflow);
    return std::signbit(v) ? -kInfinity : kInfinity;
  }
  const double result = std::ldexp(f, e + n);  // exact, or rounded subnormal
  return result == 0.0 ? 0.0 : result;
}

double lib_frexp(double x, int *e) {
  // The C standard leaves the exponent of an infinity unspecified (and some
  // C runtimes leave it unwritten), so zeros, infinities and NaNs are
  // answered here and only finite non-zero values reach the library.
  if (is_nan_bits(x)) {
    *e = 0;
    return quieted_nan(x);
  }
  const std::uint64_t magnitude = bits(x) & ~kSignBit;
  if (magnitude == 0 || magnitude == kExponentBits) {
    *e = 0;
    return x;
  }
  return std::frexp(x, e);
}

double lib_cbrt(double x) {
  if (is_nan_bits(x)) return quieted_nan(x);
  return std::cbrt(x);
}

}  // namespace qvd
