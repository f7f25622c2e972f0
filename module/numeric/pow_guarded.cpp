// a^b under the module's fault policy.
//
// Zero bases, exponents beyond the 32-bit range and integral exponents are
// settled first (the last by binary powering, exact up to the rounding of
// each product). The rest, a positive base with a non-integral exponent, goes
// to a table-driven core with the constants of the published fdlibm power
// function: log2(x) is formed as t1 + t2 with about 24 extra bits, multiplied
// by y in two pieces, split into an integer n and a fraction, and
// 2^fraction is evaluated by a Remez polynomial before the exponent is
// adjusted by n. Every step is rounded on its own, so the logarithm keeps a
// relative error of a few units of 2^-53 and the result's error grows with
// |y log2 x|: about 2 ulps while |y log2 x| < 1 (up to 3.5 for bases close
// to 1), up to some 3 |y log2 x| ulps beyond.
//
// Faults: a negative base with a non-integral or huge exponent raises the
// domain fault and gives the largest double when resumed; an overflowing
// huge exponent raises the overflow fault and gives the largest double. In
// the core an overflow gives kMissingResult and an underflow +0, silently.
#include "numeric/pow_guarded.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/raise_exception.h"
#include "numeric/double_constants.h"
#include "numeric/exp_guarded.h"
#include "numeric/fault_codes.h"
#include "numeric/math_library.h"
#include "numeric/missing_value.h"

namespace qvd {
namespace {

constexpr double kIntLimit = 2147483647.0;

// The core's constants as stored.
constexpr double B[2] = {1.0, 1.5};
constexpr double DP_H[2] = {0.0, 0.5849624872207642};        // hi(log2 1.5)
constexpr double DP_L[2] = {0.0, 1.350039202129749e-08};     // log2 1.5 - DP_H
constexpr double L1 = 0.5999999999999946;
constexpr double L2 = 0.4285714285785502;
constexpr double L3 = 0.33333332981837743;
constexpr double L4 = 0.272728123808534;
constexpr double L5 = 0.23066074577556175;
constexpr double L6 = 0.20697501780033842;
constexpr double CP = 0.9617966939259756;     // 2/(3 ln 2)
constexpr double CP_H = 0.9617967009544373;   // hi(CP)
constexpr double CP_L = -7.028461650952758e-09;  // CP - CP_H
constexpr double OVT = 8.008566259537294e-17;  // -(1024 - log2(ovfl + .5ulp))
constexpr double LN2 = 0.6931471805599453;
constexpr double P1 = 0.16666666666666602;
constexpr double P2 = -0.0027777777777015593;
constexpr double P3 = 6.613756321437934e-05;
constexpr double P4 = -1.6533902205465252e-06;
constexpr double P5 = 4.1381367970572385e-08;
constexpr double TWO53 = 9007199254740992.0;
constexpr double TWOM54 = 5.551115123125783e-17;

// The split constants as published, bit for bit. The high parts carry at
// most 24 significant bits, so their products with the 21-bit high parts
// p_h and y1 are exact.
constexpr std::uint64_t bits_of(double v) {
  return std::bit_cast<std::uint64_t>(v);
}
static_assert(bits_of(DP_H[1]) == 0x3FE2B80340000000ull);
static_assert(bits_of(DP_L[1]) == 0x3E4CFDEB43CFD006ull);
static_assert(bits_of(CP) == 0x3FEEC709DC3A03FDull);
static_assert(bits_of(CP_H) == 0x3FEEC709E0000000ull);
static_assert(bits_of(CP_L) == 0xBE3E2FE0145B01F5ull);
static_assert(bits_of(LN2) == 0x3FE62E42FEFA39EFull);
static_assert((bits_of(DP_H[1]) & 0x1FFFFFFFu) == 0 &&
              (bits_of(CP_H) & 0x1FFFFFFFu) == 0);
static_assert(TWO53 == 0x1p53 && TWOM54 == 0x1p-54);

// Upper word as a signed integer, lower word, and assembling the two.
std::int32_t hw(double v) {
  return static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(v) >> 32);
}
std::uint32_t lw(double v) {
  return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(v));
}
double from_words(std::uint32_t high, std::uint32_t low) {
  return std::bit_cast<double>((std::uint64_t{high} << 32) | low);
}
double with_hw(double v, std::uint32_t high) { return from_words(high, lw(v)); }
// v with its lower word cleared.
double hi(double v) { return from_words(static_cast<std::uint32_t>(hw(v)), 0); }

bool is_zero(double v) {
  return (std::bit_cast<std::uint64_t>(v) & 0x7FFFFFFFFFFFFFFFull) == 0;
}

double domain_error() {
  raise_exception(kFaultDomainError);
  return kLargestDouble;
}

// ln a times b. Where the product would leave the double range (ln a up to
// 744 in size, b up to the largest double) only its sign matters to the
// caller, so the signed infinity is formed without the overflowing multiply.
// The range is decided by the binary exponents alone: with la = f 2^e1 and
// b = g 2^e2, f and g in [0.5, 1), the product lies in [2^(e1+e2-2),
// 2^(e1+e2)). At e1 + e2 <= kProductExponentLimit it stays below 2^1000 and
// cannot overflow; above it, it is at least 2^999, far beyond both limits
// the caller compares with (about +-709), so the infinity decides alike.
// A rounded bound such as DBL_MAX / |la| would let a product equal to the
// bound through, and that product can still round up to an overflow.
constexpr int kProductExponentLimit = 1000;

double log_times(double la, double b) {
  const bool negative = std::signbit(la) != std::signbit(b);
  const double infinity = negative ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
  if (std::isinf(la) || std::isinf(b)) return infinity;  // la is not 0 here
  int e1 = 0, e2 = 0;
  std::frexp(la, &e1);
  std::frexp(b, &e2);
  if (e1 + e2 > kProductExponentLimit) return infinity;
  return la * b;
}

// x^n for a 32-bit n by binary powering. Overflow of a product is left to
// the processor's trap.
double binary_power(double a, std::int32_t n) {
  double x = n < 0 ? 1.0 / a : a;
  std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n)
                          : static_cast<std::uint32_t>(n);
  double result = 1.0;
  for (;;) {
    if (m & 1u) result = result * x;
    m >>= 1;
    if (m == 0) break;
    x = x * x;
  }
  return result;
}

// log2(x) = t1 + t2 for a positive finite x, t1 with a cleared lower word.
void log2_split(double x, double *t1_out, double *t2_out) {
  std::int32_t ix = hw(x) & 0x7FFFFFFF;
  std::int32_t n = 0;
  if (ix < 0x00100000) {  // subnormal: bring into the normal range
    x = x * TWO53;
    n = -53;
    ix = hw(x);
  }
  n = n + (ix >> 20) - 1023;
  const std::int32_t j = ix & 0x000FFFFF;
  ix = j | 0x3FF00000;
  // The centre B[k] nearest the mantissa m: 1 below sqrt(3/2), 1.5 below
  // sqrt(3), and beyond that m is halved and centred on 1 again.
  int k;
  if (j <= 0x3988E) {  // m < sqrt(3/2)
    k = 0;
  } else if (j < 0xBB67A) {  // m < sqrt(3)
    k = 1;
  } else {
    k = 0;
    n = n + 1;
    ix = ix - 0x00100000;
  }
  const double m = with_hw(x, static_cast<std::uint32_t>(ix));

  // s = (m - B)/(m + B) = s_h + s_l, ln(m/B) = 2 atanh(s).
  const double u = m - B[k];
  const double v = 1.0 / (m + B[k]);
  const double s = u * v;
  const double s_h = hi(s);
  // t_h + t_l = m + B, t_h with the lower word cleared.
  double t_h = from_words(
      static_cast<std::uint32_t>(((ix >> 1) | 0x20000000) + 0x00080000 +
                                 (k << 18)),
      0);
  double t_l = (m - t_h) + B[k];
  const double s_l = v * (u + s_h * ((0 - t_h) - t_l));

  // 2 atanh(s) = 2s + s^3 (2/3 + r'), r' from the L polynomial.
  const double s2 = s * s;
  const double r =
      (L1 + s2 * (L2 + s2 * (L3 + s2 * (L4 + s2 * (L5 + s2 * L6))))) *
          (s2 * s2) +
      s_l * (s_h + s);
  const double T = (r + 3.0) + s_h * s_h;
  t_h = hi(T);
  t_l = T - t_h;
  // (p_h + p_l) = s (3 + s^2 + r), so ln(m/B) = (p_h + p_l) * 2/3.
  const double U = (s_h + s_l) * t_h + s * t_l;
  const double p_h = hi(U);
  const double p_l = U - p_h;
  // Times 2/(3 ln 2) in two pieces, plus log2 B.
  const double z_h = CP_H * p_h;
  const double z_l = (CP_L * p_h + p_l * CP) + DP_L[k];
  const double Z = z_h + z_l;
  const double dn = n;
  const double t1 = hi((Z + dn) + DP_H[k]);
  *t1_out = t1;
  *t2_out = ((Z - t1) + dn) + DP_H[k];
}

// x^y for x > 0 (or +inf, or NaN) and a non-integral y, |y| <= 2^31 - 1.
double pow_core(double x, double y) {
  if (is_nan_bits(x)) return quieted_nan(x);
  if (lw(y) == 0 && hw(y) == 0x3FE00000) return std::sqrt(x);
  if (lw(x) == 0 && (hw(x) == 0x3FF00000 || hw(x) == 0x7FF00000)) {
    if (is_nan_bits(y)) return hw(x) == 0x3FF00000 ? 1.0 : quieted_nan(y);
    double z = x;
    if (y < 0.0) z = 1.0 / z;
    return z;
  }
  // A NaN exponent with another positive base has no meaningful power.
  if (is_nan_bits(y)) return quieted_nan(y);

  double t1;
  double t2;
  log2_split(x, &t1, &t2);

  // z = y log2 x = p_h + p_l, p_h = y1 t1 exact.
  const double y1 = hi(y);
  const double p_l = t2 * y + (y - y1) * t1;
  double p_h = y1 * t1;
  const double z = p_l + p_h;

  const std::int32_t j = hw(z);
  if (j >= 0x40900000) {  // z >= 1024
    if (!(z == 1024.0 && p_l + OVT <= z - p_h)) return kMissingResult;
  } else if ((j & 0x7FFFFFFF) >= 0x4090CC00) {  // z <= -1075
    if (!(z == -1075.0 && p_l > z - p_h)) return 0.0;
  }

  // n = z rounded to an integer; remove it from p_h (exactly).
  const std::int32_t i = j & 0x7FFFFFFF;
  std::int32_t n = 0;
  if (i > 0x3FE00000) {  // |z| > 0.5
    const std::int32_t e = (i >> 20) - 1023;
    const std::int32_t q = j + (0x00100000 >> (e + 1));
    const std::int32_t e2 = ((q & 0x7FFFFFFF) >> 20) - 1023;
    const double t =
        from_words(static_cast<std::uint32_t>(q & ~(0x000FFFFF >> e2)), 0);
    n = ((q & 0x000FFFFF) | 0x00100000) >> (20 - e2);
    if (j < 0) n = -n;
    p_h = p_h - t;
  }

  // 2^f = e^w with w = f ln 2, |f| <= 0.5: e^w = 1 + w + w c/(2 - c).
  const double S = p_l + p_h;
  const double t = hi(S);
  const double w = t * LN2 + (S - t) * LN2;
  const double ww = w * w;
  const double c = w - ww * (P1 + ww * (P2 + ww * (P3 + ww * (P4 + ww * P5))));
  double r = (1.0 - (w * c) / (c - 2.0)) + w;

  // Scale by 2^n in the exponent field; a subnormal result is assembled
  // 54 binades higher and brought down by one correctly rounded product.
  const std::int32_t hr = hw(r);
  const std::int32_t shift = n * 0x00100000;
  if (((hr + shift) >> 20) > 0) {
    return with_hw(r, static_cast<std::uint32_t>(hr + shift));
  }
  const std::int32_t biased = (hr >> 20) & 0x7FF;
  const std::int32_t field = biased + n + 54;
  r = with_hw(r, static_cast<std::uint32_t>((hr & ~0x7FF00000) | (field << 20)));
  return r * TWOM54;
}

}  // namespace

double pow_guarded(double a, double b) {
  // 1. Zero base: 0^0 = 1, any other power of zero is +0.
  if (is_zero(a)) return is_zero(b) ? 1.0 : 0.0;

  // 2. Exponents beyond the 32-bit range, through e^(b ln a).
  if (!is_nan_bits(b) && std::fabs(b) > kIntLimit) {
    if (std::isless(a, 0.0)) return domain_error();
    if (is_nan_bits(a)) return quieted_nan(a);
    const double la = lib_log(a);
    if (la == 0.0 && std::isinf(b)) {
      // 1^(+-inf): 0 * inf is an invalid operation; raise it as the
      // processor would and give its masked result when resumed.
      raise_exception(kFaultInvalidOperation);
      return std::numeric_limits<double>::quiet_NaN();
    }
    const double t = log_times(la, b);
    if (t > kLnLargestDouble) {
      raise_exception(kFaultOverflow);
      return kLargestDouble;
    }
    if (t < kExpLowerLimit) return 0.0;
    return exp_guarded(t);
  }

  // 3. Integral exponents by binary powering.
  if (!is_nan_bits(b)) {
    const std::int32_t n = static_cast<std::int32_t>(b);
    if (n == b) return binary_power(a, n);
  }

  // 4-6. Non-integral (or NaN) exponent.
  if (std::isless(a, 0.0)) return domain_error();
  return pow_core(a, b);
}

}  // namespace qvd
