// The standard math operations the module relies on, with the fault
// behaviour the module needs from them.
//
// The C library signals faults through status flags, which under the host's
// trap setting would arrive as hardware traps with no code of their own.
// These wrappers test for the faulting cases first, raise the module's
// exception codes explicitly and return the value a resumed exception
// yields; the remaining cases go to the C library, where they cannot fault.
#ifndef QVDEP_NUMERIC_MATH_LIBRARY_H
#define QVDEP_NUMERIC_MATH_LIBRARY_H

namespace qvd {

// Natural logarithm. log(+inf) = +inf and NaN gives NaN. log(+-0) raises
// kFaultDivideByZero and yields -inf when resumed; the log of a
// negative number or of -inf raises kFaultNegativeLogarithm and yields NaN.
double lib_log(double x);

// v * 2^n with n first clamped to [-65536, 65536]. +-0, +-inf and NaN come
// back unchanged. A result beyond the double range raises
// kFaultOverflow (+-inf when resumed). A result too small even for a
// subnormal is +0 whatever the sign of v, and so is any negative scaling of a
// non-zero subnormal v; other subnormal results are rounded to nearest.
double lib_ldexp(double v, int n);

// x = f * 2^e with |f| in [0.5, 1); 0, +-inf and NaN come back unchanged with
// e = 0. Never raises.
double lib_frexp(double x, int *e);

// Real cube root, negative for negative x. Never raises.
double lib_cbrt(double x);

}  // namespace qvd

#endif
